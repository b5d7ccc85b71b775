#include "reading/CardLogWriter.h"

#include "reading/ThreadsLeftBehind.h"
#include "text/Printable.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

// The writing thread's side: the card log itself, used there alone.
struct CardLogWriter::Desk : QObject {
    CardLog log;
};

// Where the writing thread's reports arrive, on the user's thread. When the
// writing thread has to be left behind, this stays too and hands whatever
// still comes to nobody.
struct CardLogWriter::Reports : QObject {
    CardLogWriter* writer = nullptr;
};

CardLogWriter::CardLogWriter(Say say) : say_(std::move(say)) { }

CardLogWriter::~CardLogWriter()
{
    say_ = nullptr;
    finish(2000);
}

void CardLogWriter::start()
{
    if (thread_)
        return;
    reports_ = new Reports;
    reports_->writer = this;
    stallTimer_ = new QTimer(reports_);
    stallTimer_->setSingleShot(true);
    QObject::connect(stallTimer_, &QTimer::timeout, reports_, [reports = reports_] {
        if (reports->writer)
            reports->writer->stalled();
    });
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("card log"));
    desk_ = new Desk;
    desk_->moveToThread(thread_);
    thread_->start();
}

void CardLogWriter::post(std::function<void(CardLog&)> work)
{
    QMetaObject::invokeMethod(
        desk_, [desk = desk_, work = std::move(work)] { work(desk->log); }, Qt::QueuedConnection);
}

void CardLogWriter::append(const QByteArray& cardOutput, const CardLog::Options& options)
{
    if (!options.saveToFile)
        return;
    if (waiting_.size() >= static_cast<std::size_t>(kMaxWaiting)) {
        sayMissing({cardOutput, options.path});
        return;
    }
    start();
    waiting_.push_back({cardOutput, options.path});
    mayBeOpen_ = true;
    const QDateTime when = clock();
    post([cardOutput, options, when, reports = reports_](CardLog& log) {
        const CardLog::Outcome outcome = log.append(cardOutput, options, when);
        QMetaObject::invokeMethod(
            reports,
            [reports, outcome] {
                if (reports->writer)
                    reports->writer->reported(outcome);
            },
            Qt::QueuedConnection);
    });
    if (!stallTimer_->isActive())
        stallTimer_->start(kStallMs);
}

void CardLogWriter::reported(CardLog::Outcome outcome)
{
    if (waiting_.empty())
        return;
    // Reports come back in the order the records went out.
    const Waiting record = waiting_.front();
    waiting_.pop_front();
    const QString path = shownName(record.path);
    if (outcome == CardLog::Failed && say_)
        say_({Text::SaveError, QStringLiteral(" : ") + path});
    else if (outcome == CardLog::Refused && say_)
        say_({Text::CardLogNotOurs, {}, {path}});
    // The log answers: the time without an answer counts from now.
    if (waiting_.empty())
        stallTimer_->stop();
    else
        stallTimer_->start(kStallMs);
    if (saidStalled_ && waiting_.empty()) {
        saidStalled_ = false;
        if (say_)
            say_({Text::CardLogAnswers, {}, {path}});
    }
}

void CardLogWriter::stalled()
{
    if (waiting_.empty() || saidStalled_)
        return;
    saidStalled_ = true;
    if (say_)
        say_({Text::CardLogStalled, {}, {shownName(waiting_.front().path)}});
}

void CardLogWriter::sayMissing(const Waiting& record)
{
    if (say_)
        say_({Text::CardMaybeMissing, {}, {QString::fromLatin1(printable(record.card)), shownName(record.path)}});
}

void CardLogWriter::idleTick()
{
    if (mayBeOpen_ && ++idleTicks_ > 10)
        close();
}

void CardLogWriter::reset()
{
    idleTicks_ = 0;
    if (mayBeOpen_)
        post([](CardLog& log) { log.reset(); });
}

void CardLogWriter::close()
{
    mayBeOpen_ = false;
    if (thread_)
        post([](CardLog& log) { log.close(); });
}

void CardLogWriter::finish(int waitMs)
{
    if (!thread_)
        return;
    close();
    // Last in the writing thread's queue, after every record.
    post([thread = thread_](CardLog&) { thread->quit(); });
    const bool ended = thread_->wait(QDeadlineTimer(waitMs));
    if (ended)
        QCoreApplication::sendPostedEvents(reports_);  // the reports on their way
    stallTimer_->stop();
    reports_->writer = nullptr;
    for (const Waiting& record : waiting_)
        sayMissing(record);
    waiting_.clear();
    saidStalled_ = false;
    if (ended) {
        delete desk_;
        delete thread_;
        delete reports_;
    } else {
        // The thread, its desk and the reports stay as they are: the thread
        // may still come back from the file system before the process ends.
        leaveBehind(thread_);
    }
    thread_ = nullptr;
    desk_ = nullptr;
    reports_ = nullptr;
    stallTimer_ = nullptr;
}
