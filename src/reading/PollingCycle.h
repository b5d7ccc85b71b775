// The polling cycle: every tick of the polling timer either connects to the
// reader or polls it once, and carries each new card down the road to the
// user's application and the card log.
//
// Free of widgets: the window implements PollingHost, tests implement it
// with plain values.
#pragma once

#include "link/PortProblem.h"
#include "output/CardLog.h"
#include "reading/SameCardFilter.h"

#include <QByteArray>
#include <QString>

class ReaderLink;
struct ReaderType;

// What a tick reads from the window, fresh at every tick.
struct PollInputs {
    QString portName;
    QString lineSettings;
    int readerType = 0;        // 0..5, Type A..F
    QByteArray readerId = "01";  // two digits
    bool reverse = false;
    int sendFormat = 0;
    int sameCardTime = 0;      // seconds
    int language = 0;
    CardLog::Options cardLog;
};

class PollingHost {
public:
    virtual ~PollingHost() = default;
    virtual PollInputs pollInputs() = 0;
    virtual void AddInfoLine(const QString& text) = 0;
    virtual QString statusText() = 0;
    virtual void setStatusText(const QString& text) = 0;
    // Types the card (the comma and Enter are the host's to add).
    virtual void TypeText(const QByteArray& text) = 0;
    virtual int trayImage() = 0;
    virtual void setTrayImage(int index) = 0;
    virtual void setPollingTimer(bool enabled, int intervalMs) = 0;
    virtual void closeMainWindow() = 0;
    virtual void minimizeToTray() = 0;
};

class PollingCycle {
public:
    PollingCycle(ReaderLink& link, PollingHost& host);

    // The whole tick of the polling timer.
    void tmrPollingTimer();
    // The one-second ageing tick of the same-card filter.
    void tmrSameCardTimer();

    bool ReaderConnected = false;
    bool PollingPaused = false;
    bool LinkSettingsChanged = true;
    bool FirstPollPending = true;
    bool CloseRequested = false;
    bool MinimizeRequested = false;
    int PollFailures = 0;
    int PollInterval = 200;           // ms between ticks while connected
    static constexpr int DisconnectedInterval = 500;
    QByteArray CardOutput;

    SameCardFilter& filter() { return filter_; }
    CardLog& cardLog() { return cardLog_; }


private:
    void connectPhase(const PollInputs& in);
    void explainOpenFailure(const PollInputs& in);
    bool handshake(const PollInputs& in, QString& identity);
    void typeBModeCheck(const PollInputs& in);
    QByteArray pollPhase(const PollInputs& in);
    QByteArray pollTransaction(const ReaderType& type, const PollInputs& in);
    void outputStep(const QByteArray& cardHex, const PollInputs& in);
    void idleStep(const PollInputs& in);
    void tail();

    ReaderLink& link_;
    PollingHost& host_;
    SameCardFilter filter_;
    CardLog cardLog_;
    PortProblem lastPortProblem_;  // the open failure last explained, and its port
    QString lastProblemPort_;
};
