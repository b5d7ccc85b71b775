#include "link/ReaderLink.h"

#include "link/LineSettings.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

ReaderLink::ReaderLink() = default;

ReaderLink::~ReaderLink()
{
    ClosePort();
}

void ReaderLink::pause(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms));
}

bool ReaderLink::OpenPort(const QString& portName, const QString& lineSettings)
{
    ClosePort();
    openError_ = QSerialPort::DeviceNotFoundError;
    if (portName.isEmpty())
        return false;

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(portName);
    // Settings that do not parse leave the port with the ones it has.
    const auto parsed = parseLineSettings(lineSettings);
    const LineSettings settings = parsed ? *parsed : currentLineSettings(portName);
    port->setBaudRate(settings.baudRate);
    port->setDataBits(settings.dataBits);
    port->setStopBits(settings.stopBits);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // Qt applies these at the open and puts the port's previous settings back
    // at the close. Parity comes after the open: a port that cannot keep it
    // (a pseudo-terminal) would otherwise refuse the open as a whole.
    port->setParity(QSerialPort::NoParity);
    if (!port->open(QIODevice::ReadWrite)) {
        openError_ = port->error();
        return false;
    }
    openError_ = QSerialPort::NoError;
    port->setParity(settings.parity);
    // Qt would otherwise read all the port offers into memory whenever the
    // event loop runs, without limit.
    port->setReadBufferSize(HeldBytesLimit);
    PortHandle = std::move(port);
    purge();
    return true;
}

void ReaderLink::ClosePort()
{
    if (!PortHandle)
        return;
    purge();
    PortHandle->close();
    PortHandle.reset();
}

QByteArray ReaderLink::ReplyText() const
{
    return QByteArray::fromStdString(reply_.ReplyText);
}

qint64 ReaderLink::heldBytes() const
{
    return PortHandle ? PortHandle->bytesAvailable() : 0;
}

QByteArray ReaderLink::ReplyBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(reply_.ReplyBuffer), reply_.ReplyLength);
}

void ReaderLink::purge()
{
    if (PortHandle && PortHandle->isOpen())
        PortHandle->clear(QSerialPort::AllDirections);
}

qint64 ReaderLink::bytesWaiting() const
{
    qint64 waiting = PortHandle->bytesAvailable();
#ifdef Q_OS_UNIX
    // What the driver still holds counts too, as the queue a reader floods.
    int queued = 0;
    if (::ioctl(PortHandle->handle(), FIONREAD, &queued) == 0)
        waiting += queued;
#endif
    return waiting;
}

void ReaderLink::startRequest()
{
    reply_.ReplyLength = 0;
    purge();
    std::memset(reply_.ReplyBuffer, 0, sizeof reply_.ReplyBuffer);
}

bool ReaderLink::writeFrame(const std::vector<std::uint8_t>& frame)
{
    PortHandle->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
    PortHandle->flush();
    if (PortHandle->bytesToWrite() > 0)
        PortHandle->waitForBytesWritten(ReplyTimeout);
    return PortHandle->error() != QSerialPort::ResourceError;
}

bool ReaderLink::SendSohCommand(const QByteArray& command)
{
    return sendAscii(Frames::SOH, Frames::STX, command);
}

bool ReaderLink::SendTabCommand(const QByteArray& command)
{
    return sendAscii(Frames::TAB, Frames::LF, command);
}

bool ReaderLink::sendAscii(std::uint8_t requestStart, std::uint8_t replyStart, const QByteArray& command)
{
    if (!PortHandle)
        return false;
    startRequest();
    if (!writeFrame(Frames::AsciiFrame(requestStart, command.toStdString()))) {
        ClosePort();
        return false;
    }
    return receive([&](std::uint8_t byte) { return Frames::FeedAscii(reply_, replyStart, byte); });
}

bool ReaderLink::SendBinaryFrame(const QByteArray& data)
{
    reply_.ReplyText.clear();
    if (!data.isEmpty() && PortHandle) {
        startRequest();
        const std::vector<std::uint8_t> bytes(data.begin(), data.end());
        if (!writeFrame(Frames::BinaryFrame(bytes))) {
            ClosePort();
            return false;
        }
        reply_.ReplyLength = 0;
    }
    if (!PortHandle)
        return false;
    reply_.ReplyText.clear();
    return receive([&](std::uint8_t byte) {
        const auto done = Frames::FeedBinary(reply_, byte);
        if (done)
            purge();
        return done;
    });
}

template <typename Feed>
bool ReaderLink::receive(Feed feed)
{
    reply_.ReplyLength = 0;
    QElapsedTimer clock;
    clock.start();
    char chunk[Frames::BufferSize];
    for (;;) {
        const qint64 waiting = bytesWaiting();
        if (waiting >= Frames::BufferSize) {
            // A flooding reader: drop everything rather than parse it.
            reply_.ReplyLength = 0;
            purge();
            return false;
        }
        const qint64 got = waiting > 0 ? PortHandle->read(chunk, waiting) : 0;
        for (qint64 i = 0; i < got; ++i) {
            if (const auto done = feed(static_cast<std::uint8_t>(chunk[i])))
                return *done;
        }
        const qint64 left = ReplyTimeout - clock.elapsed();
        if (left < 0)
            return false;
        if (PortHandle->bytesAvailable() > 0)
            continue;
        // Sleeps until bytes arrive, the port fails, or the time is up.
        if (!PortHandle->waitForReadyRead(static_cast<int>(left) + 1)
            && PortHandle->error() != QSerialPort::TimeoutError
            && PortHandle->error() != QSerialPort::NoError) {
            // The port vanished or hung up: nothing more can come.
            ClosePort();
            return false;
        }
    }
}
