#include "settings/IniSettings.h"

#include "settings/IniCodec.h"
#include "settings/SettingsFields.h"

#include <QHash>
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

// Integer text beyond the range of int saturates; the window clamps anyway.
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

// True for a non-zero integer or "true" in any case, false for anything else.
bool booleanOf(const std::optional<QString>& text)
{
    if (!text)
        return false;
    const QString t = text->trimmed();
    if (isIntegerText(t)) {
        for (const QChar c : t) {
            if (c >= QLatin1Char('1') && c <= QLatin1Char('9'))
                return true;
        }
        return false;
    }
    return t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// The [General] lines: the last line of a key counts, as in QSettings.
struct GeneralValues {
    QHash<QString, QByteArray> raw;
    bool broken = false;  // some line is neither a section nor a value
    bool empty = true;    // no line at all: blanks and comments only
};

GeneralValues generalValues(const QByteArray& text)
{
    GeneralValues values;
    bool general = true;
    for (const IniLine& line : splitIni(text)) {
        values.empty = false;
        if (line.kind == IniLine::Broken)
            values.broken = true;
        else if (line.kind == IniLine::Section)
            general = line.general;
        else if (general)
            values.raw.insert(line.name, line.rawValue);
    }
    return values;
}

// Reads values in order until one is of the wrong type; after that every
// call leaves its value alone.
class Reader
{
public:
    explicit Reader(const QHash<QString, QByteArray>& raw) : raw_(raw) {}

    void text(const char* key, QString& out)
    {
        if (const auto raw = take(key)) {
            if (const auto t = iniValueText(*raw))
                out = *t;
            else
                stoppedAt = QLatin1String(key);
        }
    }
    void integer(const char* key, int& out)
    {
        if (const auto raw = take(key)) {
            const auto t = iniValueText(*raw);
            if (const auto n = t ? integerOf(*t) : std::nullopt)
                out = *n;
            else
                stoppedAt = QLatin1String(key);
        }
    }
    void boolean(const char* key, bool& out)
    {
        if (const auto raw = take(key))
            out = booleanOf(iniValueText(*raw));
    }

    QString stoppedAt;
    bool found = false;

private:
    std::optional<QByteArray> take(const char* key)
    {
        const auto it = raw_.constFind(QLatin1String(key));
        if (it == raw_.constEnd())
            return std::nullopt;
        found = true;
        if (!stoppedAt.isEmpty())
            return std::nullopt;
        return *it;
    }

    const QHash<QString, QByteArray>& raw_;
};

QByteArray boolText(bool value)
{
    return value ? "-1" : "0";
}

// Our value lines, in their stored order.
struct Writer {
    QByteArray out;
    void text(const char* key, const QString& value) { out += QByteArray(key) + '=' + iniValue(value) + '\n'; }
    void integer(const char* key, int value) { out += QByteArray(key) + '=' + QByteArray::number(value) + '\n'; }
    void boolean(const char* key, bool value) { out += QByteArray(key) + '=' + boolText(value) + '\n'; }
};

struct Names {
    QStringList names;
    void text(const char* key, const QString&) { names << QLatin1String(key); }
    void integer(const char* key, int) { names << QLatin1String(key); }
    void boolean(const char* key, bool) { names << QLatin1String(key); }
};

bool isOurName(const QString& name)
{
    static const QStringList names = [] {
        Names n;
        const Settings any;
        forEachStoredValue(n, any);
        return n.names << QLatin1String(kPortalRestoreTokenName);
    }();
    return names.contains(name);
}

}  // namespace

LoadResult readIniSettings(const QByteArray& text)
{
    const GeneralValues general = generalValues(text);
    LoadResult result;
    Reader r(general.raw);
    forEachStoredValue(r, result.values);
    r.text(kPortalRestoreTokenName, result.values.PortalRestoreToken);
    if (general.broken && !r.found)
        return LoadResult();
    result.stoppedAt = r.stoppedAt;
    result.outcome = result.stoppedAt.isEmpty() ? LoadResult::Loaded : LoadResult::StoppedAtWrongType;
    result.ours = r.found || general.empty;
    return result;
}

QByteArray renderIniSettings(const QByteArray& previous, const Settings& values)
{
    Writer w;
    w.out = "[General]\n";
    forEachStoredValue(w, values);
    // Only on desktops that use the portal, and never a token past its limit.
    if (!values.PortalRestoreToken.isEmpty() && values.PortalRestoreToken.size() <= Settings::kMaxPortalRestoreToken)
        w.text(kPortalRestoreTokenName, values.PortalRestoreToken);

    // The rest of the file without our old lines, and without a [General]
    // header that opens no new section: ours stands at the top.
    // A byte order mark goes too: our lines come first.
    QByteArray rest;
    qsizetype copied = iniTextStart(previous);
    bool general = true;
    for (const IniLine& line : splitIni(previous)) {
        bool drop = false;
        if (line.kind == IniLine::Section) {
            drop = general && line.general;
            general = line.general;
        } else if (line.kind == IniLine::Value) {
            drop = general && isOurName(line.name);
        }
        if (drop) {
            rest += QByteArrayView(previous).sliced(copied, line.start - copied);
            copied = line.end;
        }
    }
    rest += QByteArrayView(previous).sliced(copied);
    // Blank lines right below our values go: a '\r' there would pair with
    // our last '\n' into one line break, and the next save would differ.
    qsizetype blank = 0;
    while (blank < rest.size() && (rest.at(blank) == '\r' || rest.at(blank) == '\n'))
        ++blank;
    w.out += QByteArrayView(rest).sliced(blank);
    if (!w.out.endsWith('\n'))
        w.out += '\n';
    return w.out;
}
