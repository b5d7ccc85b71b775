// Everything that talks to the reader, on a thread of its own: the link,
// the polling cycle with its same-card filter and card log, auto-detection,
// and the timers that drive them. The window never waits for the serial
// line.
//
// The boundary runs one way each: the window sends complete settings
// records and requests by queued calls of the functions below, the worker
// reports events by its signals, connected queued to the window's thread.
// Every value that crosses is a copy; neither side reads the other's state.
#pragma once

#include "link/Detector.h"
#include "link/ReaderLink.h"
#include "reading/InfoLine.h"
#include "reading/PollingCycle.h"
#include "settings/Settings.h"

#include <QObject>
#include <QStringList>
#include <memory>

class PortWalk;
class QTimer;
class ReaderFollower;

// What a detection walk found; `found` false: no reader on any port.
struct DetectionResult {
    bool found = false;
    DetectedReader reader;
};
Q_DECLARE_METATYPE(DetectionResult)

class ReaderWorker : public QObject, private PollingHost {
    Q_OBJECT
public:
    explicit ReaderWorker(QObject* parent = nullptr);
    ~ReaderWorker() override;

    // The metatypes of the boundary values, for queued connections and signal spies.
    static void registerTypes();

    // What the window asks, run on the worker's thread.
    void applyConfig(const Settings& config);
    // The port list was read again: the ports a reader whose port vanished
    // is looked for on.
    void setPorts(const QStringList& ports);
    // Start-up: open the port of the settings, detect when it does not
    // open, then start polling.
    void startUp(const QStringList& ports, bool pausedAfter);
    // Polling from now on, without the start-up probe.
    void startPolling();
    // The auto-detection walk over `ports`, the ports probed side by side;
    // afterwards polling is paused or not as `pausedAfter` says (the pause
    // box). The worker's thread stays free meanwhile.
    void detect(const QStringList& ports, bool pausedAfter);
    void setPaused(bool paused);
    // Carried out between two transactions, at the end of the next tick.
    void requestClose();
    void requestMinimize();
    // Stops the timers, closes the port and the card log, and ends the
    // worker's thread. A card log that does not answer is waited for
    // kCardLogWaitMs at most; the cards it still owes are said. Settings are
    // not saved here.
    void shutdown();
    static constexpr int kCardLogWaitMs = 2000;

    // The polling cycle; on the worker's thread only (through a queued call).
    const PollingCycle& cycle() const { return cycle_; }

signals:
    void infoLine(const InfoLine& line);
    void statusText(const InfoLine& text);
    // The end of every tick; then, at the end of the tick that carries it
    // out, an Exit or a Minimized asked for (or the first connect's minimise).
    void tickFinished(bool connected);
    void cardRead(const QByteArray& cardOutput);
    void detectionStarted();
    void detectionFinished(const DetectionResult& result);
    // The reader was found again on another port, which it now uses.
    void portFollowed(const QString& port);
    void closeDue();
    void minimizeDue();

private:
    // PollingHost
    void AddInfoLine(const InfoLine& line) override { emit infoLine(line); }
    void setStatusText(const InfoLine& text) override { emit statusText(text); }
    void TypeText(const QByteArray& cardOutput) override { emit cardRead(cardOutput); }
    void tickEnded(bool connected) override { emit tickFinished(connected); }
    void closeAsked() override { emit closeDue(); }
    void minimizeAsked() override { emit minimizeDue(); }
    void setPollingTimer(bool enabled, int intervalMs) override;
    void portMissing() override;
    void readerConnected(const QString& identity) override;

    void followed(const DetectedReader& reader);
    void detectionDone(const std::optional<DetectedReader>& found);

    ReaderLink link_;
    PollingCycle cycle_;
    QTimer* tmrPolling;
    QTimer* tmrSameCard;
    std::unique_ptr<PortWalk> detection_;
    ReaderFollower* follower_;
    bool pausedAfterDetection_ = false;
    bool pollAfterDetection_ = false;  // the start-up's walk: polling starts after it
};
