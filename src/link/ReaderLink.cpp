#include "link/ReaderLink.h"

#include "link/ReceiveLoop.h"

#include <QThread>
#include <cstring>

ReaderLink::ReaderLink() = default;

ReaderLink::~ReaderLink()
{
    ClosePort();
}

bool ReaderLink::stopAsked()
{
    return QThread::currentThread()->isInterruptionRequested();
}

void ReaderLink::pause(int ms)
{
    if (!stopAsked())
        QThread::msleep(static_cast<unsigned long>(ms));
}

bool ReaderLink::OpenPort(const QString& portName, const QString& lineSettings)
{
    ClosePort();
    openProblem_ = {PortProblem::Missing, {}};
    if (portName.isEmpty() || stopAsked())
        return false;
    auto port = std::make_unique<LinkPort>();
#ifdef Q_OS_WIN
    // Port names and mode strings are plain ASCII.
    const bool opened = port->open(portName.toStdString(), lineSettings.toStdString());
    if (!opened) {
        openProblem_ = classifyOpenFailure(port->openError());
        return false;
    }
#else
    if (!port->open(portName, lineSettings)) {
        openProblem_ = classifyOpenFailure(port->openError(), portName);
        return false;
    }
#endif
    openProblem_ = {};
    PortHandle = std::move(port);
    return true;
}

void ReaderLink::ClosePort()
{
    if (!PortHandle)
        return;
    PortHandle->close();
    PortHandle.reset();
}

QByteArray ReaderLink::ReplyText() const
{
    return QByteArray::fromStdString(reply_.ReplyText);
}

qint64 ReaderLink::heldBytes() const
{
    return PortHandle ? static_cast<qint64>(PortHandle->held()) : 0;
}

QByteArray ReaderLink::replyBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(reply_.ReplyBuffer), reply_.ReplyLength);
}

void ReaderLink::purge()
{
    if (PortHandle)
        PortHandle->purge();
}

void ReaderLink::startRequest()
{
    reply_.ReplyLength = 0;
    purge();
    std::memset(reply_.ReplyBuffer, 0, sizeof reply_.ReplyBuffer);
}

bool ReaderLink::writeFrame(const std::vector<std::uint8_t>& frame)
{
    return PortHandle->write(frame.data(), frame.size(), ReplyTimeout);
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
    if (!PortHandle || stopAsked())
        return false;
    startRequest();
    if (!writeFrame(Frames::AsciiFrame(requestStart, command.toStdString()))) {
        ClosePort();
        return false;
    }
    return receive([&](std::uint8_t byte) { return Frames::feedAscii(reply_, replyStart, byte); });
}

bool ReaderLink::SendBinaryFrame(const QByteArray& data)
{
    reply_.ReplyText.clear();
    if (stopAsked())
        return false;
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
        const auto done = Frames::feedBinary(reply_, byte);
        if (done)
            purge();
        return done;
    });
}

template <typename Feed> bool ReaderLink::receive(Feed feed)
{
    const ReceiveResult end = receiveReply(*PortHandle, ReplyTimeout, reply_, feed);
    if (end.portFailed)
        ClosePort();
    return end.result;
}
