#include "settings/FileNameBytes.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

constexpr char16_t kFirstKept = 0xDC80;  // the kept byte 0x80
constexpr char16_t kLastKept = 0xDCFF;   // the kept byte 0xFF

bool isContinuation(uchar c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at the start of `bytes`, or 0. Overlong
// forms, surrogates and code points past U+10FFFF are not valid.
qsizetype validSequence(QByteArrayView bytes)
{
    const auto at = [&](qsizetype i) { return uchar(bytes[i]); };
    const uchar lead = at(0);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    uchar low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (!isContinuation(at(i)))
            return 0;
    }
    return length;
}

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
        const qsizetype length = validSequence(bytes.sliced(i));
        if (length == 0) {
            name += QChar(char16_t(0xDC00 + uchar(bytes[i])));
            ++i;
        } else if (length == 3 && bytes.sliced(i).startsWith("\xef\xbb\xbf")) {
            // U+FEFF is a character of the name: QString::fromUtf8 would
            // drop it as a byte order mark, since it starts what it is given.
            name += QChar(char16_t(0xFEFF));
            i += length;
        } else {
            name += QString::fromUtf8(bytes.sliced(i, length));
            i += length;
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

QString printableFileName(QStringView name)
{
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isKeptByte(name, i))
            out += QString::asprintf("\\x%02X", unsigned(name[i].unicode() - 0xDC00));
        else
            out += name[i];
    }
    return out;
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
