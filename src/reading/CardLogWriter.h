// The card log written on a thread of its own, so that a file system that
// stops answering (a network share gone quiet) holds up neither the reading
// of cards nor the program's end.
//
// The polling cycle hands each record over as a copy, with the time of the
// read, and goes on; the writing thread reports each one back through the
// user's event queue. At most kMaxWaiting records wait: while none comes
// back for kStallMs the info log says that the log does not answer, and a
// card beyond that room, or one still owed when the program ends, is said to
// be possibly missing from the log. Nothing is lost without a word.
//
// Used from one thread (the reader's); that thread needs an event loop for
// the reports to arrive.
#pragma once

#include "output/CardLog.h"
#include "reading/InfoLine.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <deque>
#include <functional>

class QThread;
class QTimer;

class CardLogWriter {
public:
    using Say = std::function<void(const InfoLine&)>;

    explicit CardLogWriter(Say say);
    // Ends the writing thread as finish() does, without a word.
    ~CardLogWriter();
    CardLogWriter(const CardLogWriter&) = delete;
    CardLogWriter& operator=(const CardLogWriter&) = delete;

    // The card log's operations (output/CardLog.h), carried out on the
    // writing thread in the order they are asked for.
    void append(const QByteArray& cardOutput, const CardLog::Options& options);
    // A polling tick without output: more than ten in a row close the file.
    void idleTick();
    // The connect phase starts the counts afresh; the file stays as it is.
    void reset();
    // A card was output: the run of idle ticks starts again.
    void resetIdle() { idleTicks_ = 0; }
    void close();

    // Closes the file and ends the writing thread, waiting at most `waitMs`
    // for the records under way; the cards still owed then are said to be
    // possibly missing. A thread that does not end by then is left to the
    // end of the process (the file system may never give it back).
    void finish(int waitMs);

    // Records handed over and not reported back yet.
    int waiting() const { return static_cast<int>(waiting_.size()); }

    // When a card was read; the record carries it, however late it is written.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

    static constexpr int kMaxWaiting = 1000;
    static constexpr int kStallMs = 3000;

    struct Desk;
    struct Reports;

private:
    struct Waiting {
        QByteArray card;
        QString path;
    };

    void start();
    void post(std::function<void(CardLog&)> work);
    void reported(CardLog::Outcome outcome);
    void stalled();
    void sayMissing(const Waiting& record);

    Say say_;
    std::deque<Waiting> waiting_;
    int idleTicks_ = 0;
    bool mayBeOpen_ = false;  // a record went out since the last close
    bool saidStalled_ = false;
    QThread* thread_ = nullptr;
    Desk* desk_ = nullptr;        // on the writing thread
    Reports* reports_ = nullptr;  // on this thread
    QTimer* stallTimer_ = nullptr;
};
