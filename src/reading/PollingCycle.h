// The polling cycle: every tick of the polling timer either connects to the
// reader or polls it once, and carries each new card down the road to the
// user's application and the card log.
//
// Free of widgets and of threads: the reader worker runs it on its thread
// and turns what it reports into events for the window; tests drive it
// directly.
#pragma once

#include "link/PortProblem.h"
#include "reading/CardLogWriter.h"
#include "reading/InfoLine.h"
#include "reading/SameCardFilter.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QString>

class ReaderLink;
struct ReaderType;

// What the cycle reports, in the order it happens. What the window and its
// tray icon make of it is the window's affair.
class PollingHost {
public:
    virtual ~PollingHost() = default;
    virtual void AddInfoLine(const InfoLine& line) = 0;
    // The status bar's text; an empty line clears it.
    virtual void setStatusText(const InfoLine& text) = 0;
    // Types the card (the comma and Enter are the host's to add).
    virtual void TypeText(const QByteArray& cardOutput) = 0;
    // A tick ended, with the reader connected or not.
    virtual void tickEnded(bool connected) = 0;
    // Exit was asked: no tick follows. Comes after the tick's tickEnded().
    virtual void closeAsked() = 0;
    // Minimized was asked, or the first tick connected. Likewise.
    virtual void minimizeAsked() = 0;
    virtual void setPollingTimer(bool enabled, int intervalMs) = 0;
    // The connect found the port missing (unplugged, or back under another name).
    virtual void portMissing() { }
    // A reader answered the connect; its identity as the info log shows it.
    virtual void readerConnected(const QString& identity) { Q_UNUSED(identity); }
};

class PollingCycle {
public:
    PollingCycle(ReaderLink& link, PollingHost& host);

    // The settings the next ticks work with. A different port, line
    // settings, reader type or reader ID makes the next tick reconnect.
    void setConfig(const Settings& config);
    const Settings& config() const { return config_; }
    // Detection found a reader: the next tick connects to it.
    void useFoundReader(const QString& port, const QString& lineSettings, int readerType, int readerId);

    // The whole tick of the polling timer.
    void tmrPollingTimer();
    // The one-second ageing tick of the same-card filter.
    void tmrSameCardTimer();
    // Logs a line; it also shows in the status bar until the next idle tick.
    void AddInfoLine(const InfoLine& line);
    // The status bar was cleared from outside (the pause box does so).
    void statusCleared() { statusShown = false; }

    bool ReaderConnected = false;
    bool PollingPaused = false;
    bool LinkSettingsChanged = true;
    bool FirstPollPending = true;
    bool CloseRequested = false;
    bool MinimizeRequested = false;
    int PollFailures = 0;
    int PollInterval = 200;  // ms between ticks while connected
    static constexpr int kDisconnectedInterval = 500;
    QByteArray CardOutput;
    bool statusShown = false;  // the status bar holds a text

    // Written on a thread of its own (CardLogWriter.h).
    CardLogWriter& cardLog() { return cardLog_; }

private:
    void connectPhase(const ReaderType* type);
    void explainOpenFailure();
    QByteArray pollPhase(const ReaderType* type);
    void outputStep(const QByteArray& cardHex);
    void idleStep();
    void tail();

    ReaderLink& link_;
    PollingHost& host_;
    Settings config_;
    SameCardFilter filter_;
    CardLogWriter cardLog_;
    PortProblem lastPortProblem_;  // the open failure last explained, and its port
    QString lastProblemPort_;
};
