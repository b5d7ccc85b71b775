// Finding the reader again when its port is gone: a USB adapter plugged in
// again can come back under another name (/dev/ttyUSB1 for /dev/ttyUSB0, a
// new COM number in another USB socket). While the stored port is missing,
// the other ports of the list are asked, side by side, whether the same
// reader answers there: the same type and ID, and the same serial number
// where the type reports one and it was seen at a connect. Only that type's
// own connect handshake is sent, only to ports that are there and that no
// other program holds, and only now and then: when the port first goes
// missing, when a port appears, and otherwise at growing intervals. A
// reader of another identity is never taken; the info log says it is there.
//
// Lives on the reader worker's thread.
#pragma once

#include "link/Detector.h"
#include "reading/InfoLine.h"
#include "settings/Settings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>

class PortWalk;

class ReaderFollower : public QObject {
public:
    using Say = std::function<void(const InfoLine& line)>;
    using Found = std::function<void(const DetectedReader& reader)>;

    ReaderFollower(Say say, Found found, QObject* parent = nullptr);
    ~ReaderFollower() override;

    // The ports of the list, as they are now.
    void setPorts(const QStringList& ports);
    // A reader answered the connect made with `config`.
    void readerConnected(const Settings& config, const QString& identity);
    // The connect with `config` found its port missing: a sweep over the
    // other ports starts when one is due.
    void portMissing(const Settings& config);
    // Stops a sweep under way; the next missing port starts afresh.
    void stop();
    bool sweeping() const;

    // The same reader as the one seen at the last connect, as far as the
    // settings and that connect tell.
    struct Known {
        int readerType = -1;
        int readerId = -1;
        QString identity;  // "  S/N:12345678", "  ID:25"; empty: not seen
    };
    static bool sameReader(const Known& known, const Settings& config, const DetectedReader& answered);

    static constexpr int kFirstResweepMs = 10000;
    static constexpr int kLongestResweepMs = 120000;
    static constexpr int kAttempts = 2;
    static constexpr int kProbeLimitMs = 5000;

private:
    bool sweepDue(const QStringList& present);
    void sweep(const Settings& config, QStringList candidates);

    Say say_;
    Found found_;
    QStringList ports_;
    Known known_;
    std::unique_ptr<PortWalk> walk_;
    bool missing_ = false;      // a missing spell is under way
    QStringList sweptPresent_;  // the ports that were there at the last sweep
    QElapsedTimer sinceSweep_;
    int resweepMs_ = kFirstResweepMs;
    QSet<QString> toldOthers_;  // "port identity" of other readers already told
    int generation_ = 0;        // counts stop(): a find from before it is stale
};
