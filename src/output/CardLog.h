// The card log file: one line per card output, appended to a plain text
// file that is kept open across reads and closed after ten records or a run
// of idle polls, so that other programs can read it while the reader is in use.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

class QFile;

class CardLog {
public:
    struct Options {
        bool saveToFile = false;
        bool timeField = false;
        QString path;
    };

    CardLog();
    ~CardLog();

    // Appends the record of `cardOutput`. False when the record could not be
    // written (the file is then closed and the next card tries again); true
    // when written or when saving is off.
    bool append(const QByteArray& cardOutput, const Options& options);
    // A polling tick without output: more than ten in a row close the file.
    void idleTick();
    // The connect phase starts the counts afresh; the file stays as it is.
    void reset();
    // A card was output: the run of idle ticks starts again.
    void resetIdle() { LogIdleTicks = 0; }
    void close();
    bool isOpen() const { return CardLogFile != nullptr; }

    // The record line without its line end, for a card read at `when`.
    static QByteArray record(const QByteArray& cardOutput, bool timeField, const QDateTime& when);

    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

    int LogRecordsSinceOpen = 0;
    int LogIdleTicks = 0;

private:
    std::unique_ptr<QFile> CardLogFile;
};
