#include "settings/IniSettings.h"

#include "settings/IniCodec.h"
#include "settings/StoredValues.h"

#include <QHash>
#include <algorithm>

namespace {

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

// The [General] values as the value rules read them (StoredValues.h).
class IniSource {
public:
    explicit IniSource(const QHash<QString, QByteArray>& raw) : raw_(raw) { }

    // Of the wrong type when it is no text ("@ByteArray(...)" and the like).
    Stored text(const char* name, QString& out) const
    {
        const auto it = raw_.constFind(QLatin1String(name));
        if (it == raw_.constEnd())
            return Stored::Missing;
        const auto text = iniValueText(*it);
        if (!text)
            return Stored::WrongType;
        out = *text;
        return Stored::Ok;
    }
    // A text that is an integer.
    Stored integer(const char* name, int& out) const
    {
        QString text;
        const Stored stored = this->text(name, text);
        if (stored != Stored::Ok)
            return stored;
        const auto number = integerOf(text);
        if (!number)
            return Stored::WrongType;
        out = *number;
        return Stored::Ok;
    }
    // Never of the wrong type: a value that is no text reads as false.
    Stored booleanText(const char* name, QString& out) const
    {
        return text(name, out) == Stored::Missing ? Stored::Missing : Stored::Ok;
    }

private:
    const QHash<QString, QByteArray>& raw_;
};

// Our value lines, in their stored order.
struct IniSink {
    QByteArray out;
    bool text(const char* name, const QString& value)
    {
        out += QByteArray(name) + '=' + iniValue(value) + '\n';
        return true;
    }
    bool integer(const char* name, int value)
    {
        out += QByteArray(name) + '=' + QByteArray::number(value) + '\n';
        return true;
    }
};

struct Names {
    QStringList names;
    void text(const char* name, const QString&) { names << QLatin1String(name); }
    void integer(const char* name, int) { names << QLatin1String(name); }
    void boolean(const char* name, bool) { names << QLatin1String(name); }
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
    const QList<QString> names = general.raw.keys();
    const bool found = std::any_of(names.cbegin(), names.cend(), isOurName);
    if (general.broken && !found)
        return LoadResult();
    LoadResult result;
    IniSource source(general.raw);
    StoredValueReader reader(source);
    forEachStoredValue(reader, result.values);
    reader.text(kPortalRestoreTokenName, result.values.PortalRestoreToken);
    result.stoppedAt = reader.stoppedAt();
    result.outcome = result.stoppedAt.isEmpty() ? LoadResult::Loaded : LoadResult::StoppedAtWrongType;
    result.ours = found || general.empty;
    return result;
}

QByteArray renderIniSettings(const QByteArray& previous, const Settings& values)
{
    IniSink sink;
    sink.out = "[General]\n";
    StoredValueWriter writer(sink);
    forEachStoredValue(writer, values);
    // Only on desktops that use the portal, and never a token past its limit.
    if (!values.PortalRestoreToken.isEmpty() && values.PortalRestoreToken.size() <= Settings::kMaxPortalRestoreToken)
        writer.text(kPortalRestoreTokenName, values.PortalRestoreToken);
    QByteArray& out = sink.out;

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
    out += QByteArrayView(rest).sliced(blank);
    if (!out.endsWith('\n'))
        out += '\n';
    return out;
}
