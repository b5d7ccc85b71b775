#include "reading/PollingCycle.h"

#include "link/PortProblem.h"
#include "link/ReaderLink.h"
#include "link/ReaderTypes.h"
#include "reading/CardFormat.h"
#include "settings/LanguageTable.h"


namespace {

QString tr(Text key, const PollInputs& in)
{
    return LanguageTable(key, in.language);
}

constexpr int ConnectAttempts = 3;
constexpr int MaxPollFailures = 5;

}  // namespace

PollingCycle::PollingCycle(ReaderLink& link, PollingHost& host) : link_(link), host_(host) {}

void PollingCycle::tmrPollingTimer()
{
    // Off while the tick runs, so that no tick can start inside this one.
    host_.setPollingTimer(false, 0);
    if (LinkSettingsChanged) {
        LinkSettingsChanged = false;
        ReaderConnected = false;
    }
    if (!PollingPaused) {
        const PollInputs in = host_.pollInputs();
        if (!ReaderConnected) {
            connectPhase(in);
        } else {
            const QByteArray cardHex = pollPhase(in);
            if (!cardHex.isEmpty())
                outputStep(cardHex, in);
            else
                idleStep(in);
        }
    }
    tail();
}

void PollingCycle::tmrSameCardTimer()
{
    filter_.tick(host_.pollInputs().sameCardTime);
}

void PollingCycle::connectPhase(const PollInputs& in)
{
    cardLog_.reset();
    link_.ReplyTimeout = 150;
    host_.AddInfoLine(tr(Text::Connecting, in));
    if (!link_.OpenPort(in.portName, in.lineSettings)) {
        host_.AddInfoLine(tr(Text::OpenError, in));
        explainOpenFailure(in);
        return;
    }
    lastPortProblem_ = {};
    QString identity;
    for (int attempt = 0; attempt < ConnectAttempts; ++attempt) {
        ReaderLink::pause(20);
        if (!handshake(in, identity))
            continue;
        host_.AddInfoLine(tr(Text::ConnectOk, in) + identity);
        if (in.readerType == TypeB)
            typeBModeCheck(in);
        host_.AddInfoLine(tr(Text::ReadCard, in));
        if (FirstPollPending)
            MinimizeRequested = true;
        ReaderConnected = true;
        PollFailures = 0;
        return;
    }
    host_.AddInfoLine(tr(Text::ConnectError, in));
}

void PollingCycle::explainOpenFailure(const PollInputs& in)
{
    // Said once for each port and cause, not at every connect attempt.
    const PortProblem problem = classifyOpenFailure(link_.openError(), in.portName);
    if (problem.kind == PortProblem::None
        || (problem == lastPortProblem_ && in.portName == lastProblemPort_))
        return;
    lastPortProblem_ = problem;
    lastProblemPort_ = in.portName;
    switch (problem.kind) {
    case PortProblem::Missing: host_.AddInfoLine(tr(Text::PortMissing, in).arg(in.portName)); break;
    case PortProblem::Busy: host_.AddInfoLine(tr(Text::PortBusy, in).arg(in.portName)); break;
    case PortProblem::NoPermission:
        host_.AddInfoLine(problem.group.isEmpty()
                              ? tr(Text::PortNoAccess, in).arg(in.portName)
                              : tr(Text::PortNoPermission, in).arg(in.portName, problem.group));
        break;
    case PortProblem::None: break;
    }
}

bool PollingCycle::handshake(const PollInputs& in, QString& identity)
{
    const ReaderType* type = readerType(in.readerType);
    if (!type)
        return false;
    if (type->framing == Framing::Binary) {
        link_.SendBinaryFrame(binaryWakeData());
        if (!link_.SendBinaryFrame(binaryIdentityData()) || link_.ReplyLength() != type->handshakeLength)
            return false;
        identity = QStringLiteral("  ID:%1").arg(binaryReaderId(link_.ReplyText()));
        return true;
    }
    const QByteArray command = handshakeCommand(*type, in.readerId);
    const bool ok = type->framing == Framing::Soh ? link_.SendSohCommand(command)
                                                  : link_.SendTabCommand(command);
    if (!ok || link_.ReplyLength() != type->handshakeLength)
        return false;
    const QByteArray serial = link_.ReplyText().mid(type->serialFirst - 1, 8);
    identity = QStringLiteral("  S/N:") + QString::fromLatin1(printable(serial));
    return true;
}

void PollingCycle::typeBModeCheck(const PollInputs& in)
{
    // Readers of type B must be in mode "0" to report cards; switch them when not.
    ReaderLink::pause(20);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (link_.SendSohCommand(in.readerId + 'A') && link_.ReplyLength() == 8) {
            if (link_.ReplyText().mid(4, 1) == "0")
                return;
            ReaderLink::pause(20);
            link_.SendSohCommand(in.readerId + "A0");
            ReaderLink::pause(50);
        }
        ReaderLink::pause(20);
    }
}

QByteArray PollingCycle::pollTransaction(const ReaderType& type, const PollInputs& in)
{
    bool ok = false;
    switch (type.framing) {
    case Framing::Binary:
        link_.ReplyTimeout = 450;
        ok = link_.SendBinaryFrame(binaryPollData());
        break;
    case Framing::Soh: ok = link_.SendSohCommand(pollCommand(type, in.readerId)); break;
    case Framing::Tab: ok = link_.SendTabCommand(pollCommand(type, in.readerId)); break;
    }
    if (!ok) {
        // A port that vanished (unplugged, hung up) cannot answer the next
        // polls either: connect again at once, so that it is found as soon
        // as it is back.
        if (++PollFailures > MaxPollFailures || !link_.isOpen())
            ReaderConnected = false;
        return {};
    }
    PollFailures = 0;
    const QByteArray field = cardField(type, link_.ReplyLength(), link_.ReplyText());
    if (type.framing != Framing::Binary) {
        // ReplyText ends at a zero byte, so a field that held one comes out
        // short and would pass for a smaller number: it is no card at all.
        const QByteArray sent = cardField(type, link_.ReplyLength(), link_.ReplyBytes());
        if (sent != field) {
            host_.AddInfoLine(QStringLiteral("Error ID : ") + QString::fromLatin1(printable(sent)));
            return {};
        }
    }
    return field;
}

QByteArray PollingCycle::pollPhase(const PollInputs& in)
{
    try {
        const ReaderType* type = readerType(in.readerType);
        if (!type) {
            // An unknown type cannot be polled; count it as a failed poll.
            if (++PollFailures > MaxPollFailures)
                ReaderConnected = false;
            return {};
        }
        const QByteArray field = pollTransaction(*type, in);
        if (field.isEmpty())
            return {};
        const QByteArray cardHex = BuildCardHex(field, in.reverse);
        switch (filter_.PassSameCardFilter(cardHex, in.sameCardTime)) {
        case SameCardFilter::Verdict::Pass: return cardHex;
        case SameCardFilter::Verdict::Repeat:
            host_.AddInfoLine(tr(Text::SameCardFilter, in) + QStringLiteral(" : ")
                              + QString::fromLatin1(printable(cardHex)));
            break;
        case SameCardFilter::Verdict::Full: host_.AddInfoLine(QStringLiteral("Same card full!")); break;
        }
    } catch (...) {
        // Whatever went wrong, this tick simply read no card.
    }
    return {};
}

void PollingCycle::outputStep(const QByteArray& cardHex, const PollInputs& in)
{
    cardLog_.resetIdle();
    const auto output = FormatCardNumber(cardHex, in.sendFormat);
    if (!output) {
        host_.AddInfoLine(QStringLiteral("Error ID : ") + QString::fromLatin1(printable(cardHex)));
        return;
    }
    CardOutput = *output;
    host_.AddInfoLine(tr(Text::CardId, in) + QStringLiteral(" : ") + QString::fromLatin1(CardOutput));
    host_.TypeText(CardOutput);
    // The card was typed all the same; say that the file did not get it.
    if (!cardLog_.append(CardOutput, in.cardLog))
        host_.AddInfoLine(tr(Text::SaveError, in) + QStringLiteral(" : ") + in.cardLog.path);
}

void PollingCycle::idleStep(const PollInputs& in)
{
    cardLog_.idleTick();
    host_.setStatusText(host_.statusText().isEmpty() ? tr(Text::Polling, in) : QString());
}

void PollingCycle::tail()
{
    int interval = DisconnectedInterval;
    if (ReaderConnected) {
        host_.setTrayImage(host_.trayImage() == 0 ? 1 : 0);
        interval = PollInterval;
    } else {
        host_.setTrayImage(0);
    }
    FirstPollPending = false;
    if (CloseRequested) {
        host_.closeMainWindow();
        return;
    }
    if (MinimizeRequested) {
        MinimizeRequested = false;
        host_.setTrayImage(0);
        host_.minimizeToTray();
    }
    host_.setPollingTimer(true, interval);
}
