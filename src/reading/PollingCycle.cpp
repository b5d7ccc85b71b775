#include "reading/PollingCycle.h"

#include "link/ReaderLink.h"
#include "link/ReaderTypes.h"
#include "reading/BusyPort.h"
#include "reading/CardFormat.h"
#include "text/Printable.h"

namespace {

constexpr int kConnectAttempts = 3;
constexpr int kMaxPollFailures = 5;

QString latin1(const QByteArray& text)
{
    return QString::fromLatin1(printable(text));
}

}  // namespace

PollingCycle::PollingCycle(ReaderLink& link, PollingHost& host)
    : link_(link), host_(host), cardLog_([this](const InfoLine& line) { AddInfoLine(line); })
{
}

void PollingCycle::setConfig(const Settings& config)
{
    if (!config.sameLink(config_))
        LinkSettingsChanged = true;
    config_ = config;
}

void PollingCycle::useFoundReader(const QString& port, const QString& lineSettings, int readerType, int readerId)
{
    config_.CommName = port;
    config_.CommBaudRate = lineSettings;
    config_.ReaderType = readerType;
    config_.ReaderID = readerId;
    LinkSettingsChanged = true;
}

void PollingCycle::AddInfoLine(const InfoLine& line)
{
    host_.AddInfoLine(line);
    statusShown = true;
}

void PollingCycle::tmrPollingTimer()
{
    // Off while the tick runs, so that no tick can start inside this one.
    host_.setPollingTimer(false, 0);
    if (LinkSettingsChanged) {
        LinkSettingsChanged = false;
        ReaderConnected = false;
    }
    if (!PollingPaused) {
        const ReaderType* type = readerType(config_.ReaderType);
        if (!ReaderConnected) {
            connectPhase(type);
        } else {
            const QByteArray cardHex = pollPhase(type);
            if (!cardHex.isEmpty())
                outputStep(cardHex);
            else
                idleStep();
        }
    }
    tail();
}

void PollingCycle::tmrSameCardTimer()
{
    filter_.tick(config_.SameCardTime);
}

void PollingCycle::connectPhase(const ReaderType* type)
{
    cardLog_.reset();
    link_.ReplyTimeout = 150;
    AddInfoLine({Text::Connecting, {}});
    if (!link_.OpenPort(config_.CommName, config_.CommBaudRate)) {
        AddInfoLine({Text::OpenError, {}});
        explainOpenFailure();
        if (link_.openProblem().kind == PortProblem::Missing)
            host_.portMissing();
        return;
    }
    lastPortProblem_ = {};
    const QByteArray id = config_.readerIdText();
    for (int attempt = 0; type && attempt < kConnectAttempts; ++attempt) {
        ReaderLink::pause(20);
        const auto identity = handshake(link_, *type, id);
        if (!identity)
            continue;
        AddInfoLine({Text::ConnectOk, *identity});
        host_.readerConnected(*identity);
        settleMode(link_, *type, id);
        AddInfoLine({Text::ReadCard, {}});
        if (FirstPollPending)
            MinimizeRequested = true;
        ReaderConnected = true;
        PollFailures = 0;
        return;
    }
    AddInfoLine({Text::ConnectError, {}});
}

void PollingCycle::explainOpenFailure()
{
    // Said once for each port and cause, not at every connect attempt.
    const QString& port = config_.CommName;
    const QString shown = shownName(port);
    const PortProblem problem = link_.openProblem();
    if (problem.kind == PortProblem::None || (problem == lastPortProblem_ && port == lastProblemPort_))
        return;
    lastPortProblem_ = problem;
    lastProblemPort_ = port;
    switch (problem.kind) {
    case PortProblem::Missing: AddInfoLine({Text::PortMissing, {}, {shown}}); break;
    case PortProblem::Busy: AddInfoLine(busyPortLine(port)); break;
    case PortProblem::NoPermission:
        AddInfoLine(problem.group.isEmpty() ? InfoLine{Text::PortNoAccess, {}, {shown}}
                                            : InfoLine{Text::PortNoPermission, {}, {shown, shownName(problem.group)}});
        break;
    case PortProblem::None: break;
    }
}

QByteArray PollingCycle::pollPhase(const ReaderType* type)
{
    try {
        const PollReply reply = type ? pollCard(link_, *type, config_.readerIdText()) : PollReply();
        if (!reply.ok) {
            // A port that vanished (unplugged, hung up) cannot answer the next
            // polls either: connect again at once, so that it is found as soon
            // as it is back. An unknown type counts as a failed poll.
            if (++PollFailures > kMaxPollFailures || !link_.isOpen())
                ReaderConnected = false;
            return {};
        }
        PollFailures = 0;
        if (!reply.faulty.isEmpty())
            AddInfoLine({Text::Count, QStringLiteral("Error ID : ") + latin1(reply.faulty)});
        if (reply.card.isEmpty())
            return {};
        const QByteArray cardHex = BuildCardHex(reply.card, config_.CardIDReverse);
        if (filter_.PassSameCardFilter(cardHex, config_.SameCardTime) == SameCardFilter::Verdict::Pass)
            return cardHex;
        AddInfoLine({Text::SameCardFilter, QStringLiteral(" : ") + latin1(cardHex)});
    } catch (...) {
        // Whatever went wrong, this tick simply read no card.
    }
    return {};
}

void PollingCycle::outputStep(const QByteArray& cardHex)
{
    cardLog_.resetIdle();
    const auto output = FormatCardNumber(cardHex, config_.SendFormat);
    if (!output) {
        AddInfoLine({Text::Count, QStringLiteral("Error ID : ") + latin1(cardHex)});
        return;
    }
    CardOutput = *output;
    AddInfoLine({Text::CardId, QStringLiteral(" : ") + QString::fromLatin1(CardOutput)});
    host_.TypeText(CardOutput);
    // Written meanwhile on the card log's own thread, which says what the
    // file did not get; the card is typed all the same.
    cardLog_.append(CardOutput, {config_.SaveToFile, config_.TimeField, config_.ExportFile});
}

void PollingCycle::idleStep()
{
    cardLog_.idleTick();
    statusShown = !statusShown;
    host_.setStatusText(statusShown ? InfoLine{Text::Polling, {}} : InfoLine{});
}

void PollingCycle::tail()
{
    host_.tickEnded(ReaderConnected);
    FirstPollPending = false;
    if (CloseRequested) {
        host_.closeAsked();
        return;
    }
    if (MinimizeRequested) {
        MinimizeRequested = false;
        host_.minimizeAsked();
    }
    host_.setPollingTimer(true, ReaderConnected ? PollInterval : kDisconnectedInterval);
}
