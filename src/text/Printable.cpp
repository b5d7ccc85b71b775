#include "text/Printable.h"

#include "text/FileNameBytes.h"

QString shownName(QStringView name)
{
    QString shown;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const int kept = keptByteAt(name, i);
        if (kept >= 0)
            shown += QString::asprintf("\\x%02X", unsigned(kept));
        else if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            shown += QString::asprintf("\\x%02X", unsigned(c));
        else
            shown += name[i];
    }
    return shown;
}

QByteArray printable(const QByteArray& text)
{
    // Every byte past ASCII as the kept byte a file name would hold: the
    // escaper then writes it as itself.
    QString bytes;
    for (char c : text) {
        const auto byte = static_cast<uchar>(c);
        bytes += QChar(char16_t(byte < 0x80 ? byte : 0xDC00 + byte));
    }
    return shownName(bytes).toLatin1();
}
