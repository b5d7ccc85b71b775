#include "output/CardLog.h"

#include "settings/FileNameBytes.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Opens the log for appending. Only a regular file (or a new one) will do: a
// FIFO without a reader would block the open for good, and a device takes no
// records of ours. The open itself never waits.
std::unique_ptr<QFile> openLog(const QString& path)
{
    if (path.isEmpty())
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    // Text mode stores the line end as the platform writes it.
    const auto mode = QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered;
#ifdef Q_OS_UNIX
    // The name's own bytes, also where they are not UTF-8 (FileNameBytes.h).
    const int fd = ::open(fileNameBytes(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0
        || !file->open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
#else
    if (!file->open(mode))
        return nullptr;
#endif
    return file;
}

// Blanks and control characters off both ends.
QByteArray trimmedCard(const QByteArray& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

}  // namespace

CardLog::CardLog() = default;

CardLog::~CardLog()
{
    close();
}

QByteArray CardLog::record(const QByteArray& cardOutput, bool timeField, const QDateTime& when)
{
    const QByteArray card = trimmedCard(cardOutput);
    if (!timeField)
        return card;
    const QByteArray stamp = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
    return stamp + ',' + card;
}

bool CardLog::append(const QByteArray& cardOutput, const Options& options)
{
    if (!options.saveToFile)
        return true;
    if (!CardLogFile) {
        CardLogFile = openLog(options.path);
        if (!CardLogFile)
            return false;
    }
    const QByteArray line = record(cardOutput, options.timeField, clock()) + '\n';
    // Flushed at once, so that a card is on disk even if the program dies.
    const qint64 sizeBefore = CardLogFile->size();
    if (CardLogFile->write(line) != line.size() || !CardLogFile->flush()) {
        // Take back a partial line, so the next record starts a line of its own.
        CardLogFile->resize(sizeBefore);
        close();
        return false;
    }
    if (++LogRecordsSinceOpen >= 10) {
        LogRecordsSinceOpen = 0;
        close();
    }
    return true;
}

void CardLog::idleTick()
{
    if (CardLogFile && ++LogIdleTicks > 10)
        close();
}

void CardLog::reset()
{
    LogIdleTicks = 0;
    LogRecordsSinceOpen = 0;
}

void CardLog::close()
{
    if (CardLogFile) {
        CardLogFile->close();
        CardLogFile.reset();
    }
}
