// The one serial port to the reader and the three framed transactions over
// it. Every transaction blocks its caller until a complete frame arrived or
// ReplyTimeout ran out; the reply is read from ReplyLength and ReplyText
// right after the call. A link belongs to one thread at a time.
#pragma once

#include "link/Frames.h"
#include "link/PortProblem.h"

#include <QByteArray>
#include <QString>
#include <memory>

#ifdef Q_OS_WIN
#include "link/windows/WinSerialPort.h"
using LinkPort = WinSerialPort;
#else
#include "link/QtLinkPort.h"
using LinkPort = QtLinkPort;
#endif

class ReaderLink {
public:
    ReaderLink();
    ~ReaderLink();
    ReaderLink(const ReaderLink&) = delete;
    ReaderLink& operator=(const ReaderLink&) = delete;

    // Closes any open port, then opens `portName` exclusively. A line-settings
    // text that does not parse leaves the port's own settings in force; the
    // open still succeeds. Both directions are purged afterwards.
    bool OpenPort(const QString& portName, const QString& lineSettings);
    // Closes the open port, if any, giving it back its settings from before.
    void ClosePort();
    bool isOpen() const { return PortHandle != nullptr; }
    // Why the last OpenPort failed (None after a successful one).
    PortProblem openProblem() const { return openProblem_; }

    bool SendSohCommand(const QByteArray& command);
    bool SendTabCommand(const QByteArray& command);
    bool SendBinaryFrame(const QByteArray& data);

    int ReplyLength() const { return reply_.ReplyLength; }
    QByteArray ReplyText() const;
    // The ASCII reply as received, zero bytes included (ReplyText ends at the first one).
    QByteArray replyBytes() const;

    int ReplyTimeout = 150;  // milliseconds

    // Bytes read from the port and held for the next transaction. Between
    // transactions (polling paused, a reader sending on its own) this stays
    // at most kHeldBytesLimit; the rest waits in the driver, whose queue is
    // bounded too, and the next transaction discards it all.
    qint64 heldBytes() const;
    static constexpr qint64 kHeldBytesLimit = Frames::kBufferSize;

    // The short pauses readers want between requests; blocks the caller.
    static void pause(int ms);

    // A thread that was asked to stop (QThread::requestInterruption) opens
    // no port, sends no request and makes no pause: whatever it was doing
    // with the reader ends after the transaction under way.
    static bool stopAsked();

private:
    bool sendAscii(std::uint8_t requestStart, std::uint8_t replyStart, const QByteArray& command);
    bool writeFrame(const std::vector<std::uint8_t>& frame);
    void startRequest();
    template <typename Feed> bool receive(Feed feed);
    void purge();

    std::unique_ptr<LinkPort> PortHandle;
    Frames::ReplyState reply_;
    PortProblem openProblem_;
};
