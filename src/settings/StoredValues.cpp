#include "settings/StoredValues.h"

#include <QtGlobal>
#include <climits>

namespace {

bool isIntegerText(const QString& text)
{
    qsizetype i = (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-'))) ? 1 : 0;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

}  // namespace

bool booleanOf(const QString& text)
{
    const QString t = text.trimmed();
    if (isIntegerText(t)) {
        for (const QChar c : t) {
            if (c >= QLatin1Char('1') && c <= QLatin1Char('9'))
                return true;
        }
        return false;
    }
    return t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QString booleanText(bool value)
{
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

std::optional<int> integerOf(const QString& text)
{
    const QString t = text.trimmed();
    if (!isIntegerText(t))
        return std::nullopt;
    const bool negative = t.startsWith(QLatin1Char('-'));
    qint64 magnitude = 0;
    for (const QChar c : t) {
        if (c.isDigit())
            magnitude = qMin<qint64>(magnitude * 10 + (c.unicode() - '0'), qint64(INT_MAX) + 1);
    }
    if (negative)
        return int(qMax<qint64>(-magnitude, INT_MIN));
    return int(qMin<qint64>(magnitude, INT_MAX));
}
