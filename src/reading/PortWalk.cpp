#include "reading/PortWalk.h"

#include "reading/ThreadsLeftBehind.h"

#include <QThread>
#include <QTimer>
#include <algorithm>

// What the probe threads post: each its port's result. `deliver` is set and
// cleared on the walk's thread, where the posted calls also run.
class ProbeInbox : public QObject {
public:
    std::function<void(int index, QThread* thread, const std::optional<DetectedReader>& found)> deliver;
};

namespace {

// A thread that runs one probe. (QThread::create needs std::future, which
// not every Windows tool chain has.)
class ProbeThread : public QThread {
public:
    explicit ProbeThread(std::function<void()> body) : body_(std::move(body)) { }

protected:
    void run() override { body_(); }

private:
    std::function<void()> body_;
};

// How long the end of a walk waits for a probe that was asked to stop: one
// transaction with the longest reply time-out, and a pause.
constexpr unsigned long kJoinMs = 1000;
constexpr int kOverdueCheckMs = 250;

// Joins threads that were asked to stop, or leaves them behind.
void release(const std::vector<QThread*>& threads)
{
    for (QThread* thread : threads)
        thread->requestInterruption();
    for (QThread* thread : threads) {
        if (thread->wait(kJoinMs))
            delete thread;
        else
            leaveBehind(thread);
    }
}

}  // namespace

PortWalk::PortWalk(const QStringList& ports, Probe probe, int probeLimitMs, QObject* parent)
    : QObject(parent), probe_(std::move(probe)), probeLimitMs_(probeLimitMs), overdue_(new QTimer(this))
{
    for (const QString& name : ports)
        ports_.push_back(Port{name, State::Waiting, std::nullopt, nullptr, {}});
    // The last holder may be a probe thread; the box then goes on its own thread.
    inbox_ = std::shared_ptr<ProbeInbox>(new ProbeInbox, [](ProbeInbox* box) {
        if (box->thread() == QThread::currentThread() || box->thread()->isFinished())
            delete box;
        else
            box->deleteLater();
    });
    inbox_->deliver = [this](int index, QThread* thread, const std::optional<DetectedReader>& found) {
        probeDone(index, thread, found);
    };
    overdue_->setInterval(kOverdueCheckMs);
    connect(overdue_, &QTimer::timeout, this, &PortWalk::ruleOutOverdue);
}

PortWalk::~PortWalk()
{
    inbox_->deliver = nullptr;
    running_ = false;
    releaseThreads();
}

void PortWalk::start(Announce announce, Finish finish)
{
    announce_ = std::move(announce);
    finish_ = std::move(finish);
    running_ = true;
    next_ = 0;
    if (!ports_.empty())
        announce_(ports_.front().name);
    overdue_->start();
    startProbes();
    advance();
}

void PortWalk::stop()
{
    end();
}

void PortWalk::startProbes()
{
    for (int index = 0; index < static_cast<int>(ports_.size()) && running_ && probing_ < kMaxProbeThreads; ++index) {
        Port& port = ports_[index];
        if (port.state != State::Waiting)
            continue;
        const std::shared_ptr<ProbeInbox> inbox = inbox_;
        QThread* thread = new ProbeThread([probe = probe_, name = port.name, inbox, index] {
            const std::optional<DetectedReader> found = probe(name);
            QThread* self = QThread::currentThread();
            QMetaObject::invokeMethod(
                inbox.get(),
                [box = inbox.get(), index, self, found] {
                    if (box->deliver)
                        box->deliver(index, self, found);
                },
                Qt::QueuedConnection);
        });
        thread->setObjectName(QStringLiteral("probe"));
        port.thread = thread;
        port.state = State::Probing;
        port.started.start();
        ++probing_;
        thread->start();
    }
}

void PortWalk::probeDone(int index, QThread* thread, const std::optional<DetectedReader>& found)
{
    // Its last act was to post this: the thread is ending.
    thread->wait();
    const auto behind = std::find(leftBehind_.begin(), leftBehind_.end(), thread);
    if (behind != leftBehind_.end()) {
        // Ruled out as overdue before it ended: its answer came too late.
        leftBehind_.erase(behind);
        delete thread;
        return;
    }
    Port& port = ports_[index];
    delete thread;
    port.thread = nullptr;
    --probing_;
    const bool hit = found && (!accept_ || accept_(*found));
    port.state = hit ? State::Found : State::RuledOut;
    port.found = hit ? found : std::nullopt;
    startProbes();
    advance();
}

void PortWalk::ruleOutOverdue()
{
    bool changed = false;
    for (Port& port : ports_) {
        if (port.state != State::Probing || port.started.elapsed() < probeLimitMs_)
            continue;
        port.thread->requestInterruption();
        leftBehind_.push_back(port.thread);
        port.thread = nullptr;
        port.state = State::RuledOut;
        --probing_;
        changed = true;
    }
    if (changed) {
        startProbes();
        advance();
    }
}

void PortWalk::advance()
{
    const int count = static_cast<int>(ports_.size());
    while (running_ && next_ < count) {
        const Port& port = ports_[next_];
        if (port.state == State::Found) {
            const std::optional<DetectedReader> found = port.found;
            end();
            finish_(found);
            return;
        }
        if (port.state != State::RuledOut)
            return;
        if (++next_ < count)
            announce_(ports_[next_].name);
    }
    if (running_) {
        end();
        finish_(std::nullopt);
    }
}

void PortWalk::end()
{
    running_ = false;
    overdue_->stop();
    // The probes still running end after their transaction under way; their
    // answers no longer count.
    for (Port& port : ports_) {
        if (port.thread)
            port.thread->requestInterruption();
    }
}

void PortWalk::releaseThreads()
{
    std::vector<QThread*> threads;
    threads.swap(leftBehind_);
    for (Port& port : ports_) {
        if (port.thread)
            threads.push_back(port.thread);
        port.thread = nullptr;
    }
    release(threads);
}
