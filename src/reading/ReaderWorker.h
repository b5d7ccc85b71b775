// Everything that talks to the reader, on a thread of its own: the link,
// the polling cycle with its same-card filter and card log, auto-detection,
// and the timers that drive them. The window never waits for the serial
// line.
//
// The boundary runs one way each: the window sends complete settings
// records and requests (slots, queued), the worker reports events (signals,
// queued). Neither side reads the other's state.
#pragma once

#include "link/Detector.h"
#include "link/ReaderLink.h"
#include "reading/InfoLine.h"
#include "reading/PollingCycle.h"
#include "settings/Settings.h"

#include <QObject>
#include <QStringList>

class QTimer;

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

    // The metatypes of the boundary, for queued connections.
    static void registerTypes();

public slots:
    void applyConfig(const Settings& config);
    // Start-up: open the port of the settings, detect when it does not
    // open, then start polling.
    void startUp(const QStringList& ports, bool pausedAfter);
    // Polling from now on, without the start-up probe.
    void startPolling();
    // The auto-detection walk over `ports`; afterwards polling is paused
    // or not as `pausedAfter` says (the pause box).
    void detect(const QStringList& ports, bool pausedAfter);
    void setPaused(bool paused);
    // Carried out between two transactions, at the end of the next tick.
    void requestClose();
    void requestMinimize();
    // Stops the timers, closes the card log and the port, and ends the
    // worker's thread. Settings are not saved here.
    void shutdown();

signals:
    void infoLine(const InfoLine& line);
    void statusText(const InfoLine& text);
    void connectedChanged(bool connected);
    void trayImage(int index);
    void cardRead(const QByteArray& cardOutput);
    void detectionStarted();
    void detectionFinished(const DetectionResult& result);
    void cardLogFailed(const QString& path);
    void closeWindow();
    void minimizeWindow();

private:
    // PollingHost
    void AddInfoLine(const InfoLine& line) override { emit infoLine(line); }
    void setStatusText(const InfoLine& text) override { emit statusText(text); }
    void TypeText(const QByteArray& cardOutput) override { emit cardRead(cardOutput); }
    void saveToFileFailed(const QString& path) override { emit cardLogFailed(path); }
    void setConnected(bool connected) override { emit connectedChanged(connected); }
    void setTrayImage(int index) override { emit trayImage(index); }
    void setPollingTimer(bool enabled, int intervalMs) override;
    void closeMainWindow() override { emit closeWindow(); }
    void minimizeToTray() override { emit minimizeWindow(); }

    ReaderLink link_;
    PollingCycle cycle_;
    QTimer* tmrPolling;
    QTimer* tmrSameCard;
};
