#include "link/QtLinkPort.h"

#include "link/Frames.h"
#include "link/LineSettings.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

bool QtLinkPort::open(const QString& portName, const QString& lineSettings)
{
    port_.setPortName(portName);
    // Settings that do not parse leave the port with the ones it has.
    const auto parsed = parseLineSettings(lineSettings);
    const LineSettings settings = parsed ? *parsed : currentLineSettings(portName);
    port_.setBaudRate(settings.baudRate);
    port_.setDataBits(settings.dataBits);
    port_.setStopBits(settings.stopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // Qt applies these at the open and puts the port's previous settings back
    // at the close. Parity comes after the open: a port that cannot keep it
    // (a pseudo-terminal) would otherwise refuse the open as a whole.
    port_.setParity(QSerialPort::NoParity);
    if (!port_.open(QIODevice::ReadWrite)) {
        openError_ = port_.error();
        return false;
    }
    openError_ = QSerialPort::NoError;
    port_.setParity(settings.parity);
    // Qt would otherwise read all the port offers into memory whenever the
    // event loop runs, without limit.
    port_.setReadBufferSize(Frames::kBufferSize);
    purge();
    return true;
}

void QtLinkPort::close()
{
    if (!port_.isOpen())
        return;
    purge();
    port_.close();
}

void QtLinkPort::purge()
{
    if (port_.isOpen())
        port_.clear(QSerialPort::AllDirections);
}

std::size_t QtLinkPort::waiting()
{
    qint64 waiting = port_.bytesAvailable();
#ifdef Q_OS_UNIX
    // What the driver still holds counts too, as the queue a reader floods.
    int queued = 0;
    if (::ioctl(port_.handle(), FIONREAD, &queued) == 0)
        waiting += queued;
#endif
    return static_cast<std::size_t>(waiting);
}

long QtLinkPort::read(unsigned char* buffer, std::size_t count)
{
    return static_cast<long>(port_.read(reinterpret_cast<char*>(buffer), static_cast<qint64>(count)));
}

bool QtLinkPort::write(const unsigned char* data, std::size_t count, int timeoutMs)
{
    port_.write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
    port_.flush();
    if (port_.bytesToWrite() > 0)
        port_.waitForBytesWritten(timeoutMs);
    return port_.error() != QSerialPort::ResourceError;
}

QtLinkPort::Wait QtLinkPort::waitForBytes(int ms)
{
    // Sleeps until bytes arrive, the port fails, or the time is up.
    if (port_.waitForReadyRead(ms))
        return Wait::Ready;
    const auto error = port_.error();
    return error == QSerialPort::TimeoutError || error == QSerialPort::NoError ? Wait::TimedOut : Wait::Failed;
}
