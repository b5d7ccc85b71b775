// The card log file: one line per card output, appended to a plain text
// file that is kept open across reads and closed after ten records or a run
// of idle polls, so that other programs can read it while the reader is in use.
// Another program may rename or delete the file meanwhile: each record goes
// to the file the path names at that moment. In a shared sticky folder (as
// /tmp) a file or a link that another user left under the name is refused.
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

    enum Outcome {
        Written,  // or saving is off
        Failed,   // not written; the file is closed and the next card tries again
        Refused,  // the path names another user's file or link in a shared folder
    };

    // Appends the record of `cardOutput`, read at `when` (by default now).
    Outcome append(const QByteArray& cardOutput, const Options& options, const QDateTime& when = {});
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
    bool stillNamedByItsPath() const;

    std::unique_ptr<QFile> CardLogFile;
    QString openedPath_;  // the path the open file was opened by
};
