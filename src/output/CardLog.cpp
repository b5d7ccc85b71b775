#include "output/CardLog.h"

#include <QFile>

namespace {

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
        auto file = std::make_unique<QFile>(options.path);
        // Text mode stores the line end as the platform writes it.
        if (options.path.isEmpty() || !file->open(QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered))
            return false;
        CardLogFile = std::move(file);
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
