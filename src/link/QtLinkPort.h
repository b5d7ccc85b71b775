// The serial port through Qt SerialPort, with the operations the link uses
// (the same as link/windows/WinSerialPort.h, which stands in on Windows).
#pragma once

#include <QSerialPort>
#include <QString>
#include <cstddef>

class QtLinkPort {
public:
    // Opens `portName` exclusively. A line-settings text that does not parse
    // leaves the port's own settings in force; the open still succeeds.
    bool open(const QString& portName, const QString& lineSettings);
    // Qt puts the port's previous settings back.
    void close();
    bool isOpen() const { return port_.isOpen(); }
    QSerialPort::SerialPortError openError() const { return openError_; }

    void purge();
    // Bytes Qt holds plus those the driver still queues.
    std::size_t waiting();
    // Bytes read from the driver into Qt's buffer.
    std::size_t held() const { return static_cast<std::size_t>(port_.bytesAvailable()); }
    long read(unsigned char* buffer, std::size_t count);
    bool write(const unsigned char* data, std::size_t count, int timeoutMs);

    enum class Wait { Ready, TimedOut, Failed };
    Wait waitForBytes(int ms);

private:
    QSerialPort port_;
    QSerialPort::SerialPortError openError_ = QSerialPort::NoError;
};
