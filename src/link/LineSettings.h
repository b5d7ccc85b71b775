// Line-settings strings in the "baud,parity,data,stop" form ("19200,e,8,1").
#pragma once

#include <QSerialPort>
#include <QString>
#include <optional>

struct LineSettings {
    qint32 baudRate = 19200;
    QSerialPort::Parity parity = QSerialPort::EvenParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Parity n, e, o, m or s (either case); data bits 5 to 8; stop bits 1, 1.5
// or 2; blanks around the fields are allowed. Empty when the text is not of
// that form.
std::optional<LineSettings> parseLineSettings(const QString& text);

// The settings the port `portName` has now; the defaults where they cannot
// be read.
LineSettings currentLineSettings(const QString& portName);
