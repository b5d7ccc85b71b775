#include "link/Printable.h"

#include <cstdio>

namespace {

bool isPrintableAscii(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7F;
}

}  // namespace

QByteArray printable(const QByteArray& text)
{
    QByteArray out;
    for (char c : text) {
        if (isPrintableAscii(c)) {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            out += escaped;
        }
    }
    return out;
}

QString shownName(const QString& name)
{
    QString shown;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            shown += QString::asprintf("\\x%02X", c.unicode());
        else
            shown += c;
    }
    return shown;
}
