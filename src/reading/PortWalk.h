// Probing many ports at once without changing the answer: every port is
// probed on a thread of its own, each with its own link, while the result
// stays that of one walk over the ports in list order. A later port's hit
// waits until every earlier port has been ruled out, and each port's turn
// is announced in list order, as the one-port-after-another walk announces
// it. A silent port costs its own time-outs only once for the whole walk,
// and a port whose open blocks holds up no other port's probe.
//
// Lives on the reader worker's thread: start() and everything it calls back
// run there. The probe threads hand their results over as posted copies.
#pragma once

#include "link/Detector.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ProbeInbox;
class QThread;
class QTimer;

class PortWalk : public QObject {
public:
    // Runs on a probe thread for one port; a probe asked to stop
    // (ReaderLink::stopAsked) ends after the transaction under way.
    using Probe = std::function<std::optional<DetectedReader>(const QString& port)>;
    using Announce = std::function<void(const QString& port)>;
    using Finish = std::function<void(const std::optional<DetectedReader>& found)>;
    // Whether what answered on a port is the reader sought; every answer
    // counts when none is set.
    using Accept = std::function<bool(const DetectedReader& answered)>;

    // At most this many probes run at once; the others wait their turn.
    static constexpr int kMaxProbeThreads = 32;

    // `probeLimitMs`: a probe still running after this long (an open that
    // blocks, as a Bluetooth port's may for many seconds) is ruled out, so
    // the walk ends all the same; its thread is left to end by itself.
    PortWalk(const QStringList& ports, Probe probe, int probeLimitMs, QObject* parent = nullptr);
    // Asks the probes still running to stop, and waits for them (not for
    // those left to end by themselves).
    ~PortWalk() override;

    // `announce` comes once for each port whose turn comes, in list order;
    // `finish` once at the end, with the first port's reader in list order
    // or nothing. Neither comes after stop().
    void start(Announce announce, Finish finish);
    void setAccept(Accept accept) { accept_ = std::move(accept); }
    // Ends the walk without an answer.
    void stop();
    bool running() const { return running_; }

private:
    enum class State { Waiting, Probing, RuledOut, Found };
    struct Port {
        QString name;
        State state = State::Waiting;
        std::optional<DetectedReader> found;
        QThread* thread = nullptr;
        QElapsedTimer started;
    };

    void startProbes();
    void probeDone(int index, QThread* thread, const std::optional<DetectedReader>& found);
    void ruleOutOverdue();
    void advance();
    void end();
    // Stops and joins the probe threads; those that do not end in time are
    // left behind.
    void releaseThreads();

    std::vector<Port> ports_;
    Probe probe_;
    int probeLimitMs_;
    Announce announce_;
    Finish finish_;
    Accept accept_;
    std::shared_ptr<ProbeInbox> inbox_;  // shared with the probe threads
    QTimer* overdue_;
    std::vector<QThread*> leftBehind_;  // ruled out as overdue, still running
    int next_ = 0;                      // the first port in list order not yet ruled out
    int probing_ = 0;                   // probe threads running
    bool running_ = false;
};
