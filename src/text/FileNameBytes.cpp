#include "text/FileNameBytes.h"

#include "text/Utf8.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

constexpr char16_t kFirstKept = 0xDC80;  // the kept byte 0x80
constexpr char16_t kLastKept = 0xDCFF;   // the kept byte 0xFF

bool isKeptByte(QStringView name, qsizetype i)
{
    const char16_t c = name[i].unicode();
    return c >= kFirstKept && c <= kLastKept && (i == 0 || !name[i - 1].isHighSurrogate());
}

}  // namespace

QString fileNameFromBytes(QByteArrayView bytes)
{
    QString name;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const utf8::Sequence sequence = utf8::sequenceAt({bytes.data() + i, size_t(bytes.size() - i)});
        if (sequence.length == 0) {
            name += QChar(char16_t(0xDC00 + uchar(bytes[i])));
            ++i;
        } else {
            // Character by character: U+FEFF stays a character of the name,
            // where a decoder given it first would drop it as a byte order mark.
            name.append(QStringView(QChar::fromUcs4(sequence.codePoint)));
            i += qsizetype(sequence.length);
        }
    }
    return name;
}

QByteArray fileNameBytes(QStringView name)
{
    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isKeptByte(name, i))
            continue;
        bytes += name.sliced(runStart, i - runStart).toUtf8();
        bytes += char(name[i].unicode() - 0xDC00);
        runStart = i + 1;
    }
    bytes += name.sliced(runStart).toUtf8();
    return bytes;
}

bool holdsRawBytes(QStringView name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isKeptByte(name, i))
            return true;
    }
    return false;
}

int keptByteAt(QStringView name, qsizetype i)
{
    return isKeptByte(name, i) ? int(name[i].unicode() - 0xDC00) : -1;
}

QString absoluteFileName(const QString& name)
{
    if (!QDir::isRelativePath(name))
        return name;
#ifdef Q_OS_UNIX
    QByteArray folder(4096, '\0');
    while (::getcwd(folder.data(), size_t(folder.size())) == nullptr) {
        if (errno != ERANGE)
            return QFileInfo(name).absoluteFilePath();
        folder.resize(folder.size() * 2);
    }
    folder.truncate(qstrlen(folder.constData()));
    if (!folder.endsWith('/'))
        folder += '/';
    return fileNameFromBytes(folder) + name;
#else
    return QFileInfo(name).absoluteFilePath();
#endif
}
