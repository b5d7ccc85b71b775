#include "output/CardLog.h"

#include "text/FileNameBytes.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include "settings/SharedFolder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Opens the log for appending. Only a regular file (or a new one) will do: a
// FIFO without a reader would block the open for good, and a device takes no
// records of ours. The open itself never waits.
std::unique_ptr<QFile> openLog(const QString& path, CardLog::Outcome& why)
{
    why = CardLog::Failed;
    if (path.isEmpty())
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    // Text mode stores the line end as the platform writes it.
    const auto mode = QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered;
#ifdef Q_OS_UNIX
    // The name's own bytes, also where they are not UTF-8 (FileNameBytes.h).
    const QByteArray name = fileNameBytes(path);
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // A link is followed only when it is no stranger's (SharedFolder.h);
    // the file it leads to is judged in its own folder.
    int fd = ::open(name.constData(), flags | O_NOFOLLOW, 0666);
    QByteArray real = name;
    if (fd < 0 && errno == ELOOP) {
        struct stat link { };
        if (::lstat(name.constData(), &link) != 0)
            return nullptr;
        if (isStrangersEntry(name, link)) {
            why = CardLog::Refused;
            return nullptr;
        }
        fd = ::open(name.constData(), flags, 0666);
        if (char* resolved = fd >= 0 ? ::realpath(name.constData(), nullptr) : nullptr) {
            real = resolved;
            std::free(resolved);
        }
    }
    if (fd < 0) {
        // Where the kernel refuses it itself (fs.protected_regular), the
        // reason is the same.
        if (errno == EACCES && leadsToStrangersFile(name))
            why = CardLog::Refused;
        return nullptr;
    }
    struct stat info { };
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && isStrangersEntry(real, info)) {
        ::close(fd);
        why = CardLog::Refused;
        return nullptr;
    }
    if (!S_ISREG(info.st_mode) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0
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

// Whether the open file is still the one its path names: another program may
// have renamed or deleted it (on Windows an open file can be neither).
bool CardLog::stillNamedByItsPath() const
{
#ifdef Q_OS_UNIX
    struct stat named { };
    struct stat open { };
    return ::stat(fileNameBytes(openedPath_).constData(), &named) == 0 && ::fstat(CardLogFile->handle(), &open) == 0
        && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
#else
    return true;
#endif
}

CardLog::Outcome CardLog::append(const QByteArray& cardOutput, const Options& options, const QDateTime& when)
{
    if (!options.saveToFile)
        return Written;
    if (CardLogFile && !stillNamedByItsPath())
        close();
    if (!CardLogFile) {
        Outcome why = Failed;
        CardLogFile = openLog(options.path, why);
        if (!CardLogFile)
            return why;
        openedPath_ = options.path;
    }
    const QByteArray line = record(cardOutput, options.timeField, when.isValid() ? when : clock()) + '\n';
    // Flushed at once, so that a card is on disk even if the program dies.
    const qint64 sizeBefore = CardLogFile->size();
    if (CardLogFile->write(line) != line.size() || !CardLogFile->flush()) {
        // Take back a partial line, so the next record starts a line of its own.
        CardLogFile->resize(sizeBefore);
        close();
        return Failed;
    }
    if (++LogRecordsSinceOpen >= 10) {
        LogRecordsSinceOpen = 0;
        close();
    }
    return Written;
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
