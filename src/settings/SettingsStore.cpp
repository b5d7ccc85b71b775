#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>

#include <climits>
#include <optional>

namespace {

// No settings file of ours comes anywhere near this; anything larger (or a
// device that never ends) is not read.
constexpr qint64 kMaxFileSize = 1024 * 1024;

// QSettings hands a value written as @Variant(...) or @DateTime(...) to
// QDataStream, which trusts the lengths in it: a few bytes in a damaged or
// hostile file make it allocate gigabytes, or recurse without end. Such values
// never occur in our files, so before QSettings sees a file every value that
// it would decode so is replaced by @Invalid(), a value with no text.
//
// Lines are split as QSettings splits them, so that a replacement covers
// exactly one value.
struct IniLine {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1;  // the first '=' outside quotes
};

bool isIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool nextIniLine(const QByteArray& data, qsizetype& pos, IniLine& line)
{
    const qsizetype size = data.size();
    qsizetype start = pos;
    while (start < size && isIniSpace(data.at(start)))
        ++start;
    qsizetype i = start;
    qsizetype equals = -1;
    bool inQuotes = false;
    bool done = false;
    while (i < size && !done) {
        const char c = data.at(i++);
        switch (c) {
        case '=':
            if (!inQuotes && equals < 0)
                equals = i - 1;
            break;
        case '\n':
        case '\r':
            if (i == start + 1)
                ++start;
            else if (!inQuotes)
                done = true;
            break;
        case '\\':
            // The next character is escaped; \r\n and \n\r count as one.
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size && ((escaped == '\n' && data.at(i) == '\r') || (escaped == '\r' && data.at(i) == '\n')))
                    ++i;
            }
            break;
        case '"':
            inQuotes = !inQuotes;
            break;
        case ';':
            if (i == start + 1) {  // a comment line
                while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                    ++i;
                while (i < size && isIniSpace(data.at(i)))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                done = true;
            }
            break;
        default:
            break;
        }
    }
    if (done)
        --i;  // the line ends before the character that ended it
    pos = i;
    line = {start, i, equals};
    return i > start;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The raw value unescaped as QSettings does (quotes dropped, escapes decoded,
// spaces after a closing quote skipped), only the ASCII characters exact,
// and whether "@Variant(" or "@DateTime(" begins anywhere in it other than
// after another '@' (which QSettings reads as an escaped '@'). That covers
// every item of a list, at the price of also catching a few odd texts.
bool holdsStreamedValue(QByteArrayView raw)
{
    QString text;
    const qsizetype size = raw.size();
    qsizetype i = 0;
    bool inQuotes = false;
    while (i < size) {
        const char c = raw.at(i++);
        if (c == '"') {
            inQuotes = !inQuotes;
            if (!inQuotes) {
                while (i < size && (raw.at(i) == ' ' || raw.at(i) == '\t'))
                    ++i;
            }
            continue;
        }
        if (c != '\\') {
            text += uchar(c) < 0x80 ? QChar::fromLatin1(c) : QChar(QChar::ReplacementCharacter);
            continue;
        }
        if (i == size)
            break;
        const char e = raw.at(i++);
        switch (e) {
        case 'a': text += QLatin1Char('\a'); break;
        case 'b': text += QLatin1Char('\b'); break;
        case 'f': text += QLatin1Char('\f'); break;
        case 'n': text += QLatin1Char('\n'); break;
        case 'r': text += QLatin1Char('\r'); break;
        case 't': text += QLatin1Char('\t'); break;
        case 'v': text += QLatin1Char('\v'); break;
        case '"': case '?': case '\'': case '\\': text += QLatin1Char(e); break;
        case 'x':
            if (i < size && hexDigit(raw.at(i)) >= 0) {
                char16_t value = 0;
                while (i < size && hexDigit(raw.at(i)) >= 0)
                    value = char16_t(value * 16 + hexDigit(raw.at(i++)));
                text += QChar(value);
            }
            break;
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
            char16_t value = char16_t(e - '0');
            while (i < size && raw.at(i) >= '0' && raw.at(i) <= '7')
                value = char16_t(value * 8 + (raw.at(i++) - '0'));
            text += QChar(value);
            break;
        }
        case '\n':
        case '\r':
            if (i < size && (raw.at(i) == '\n' || raw.at(i) == '\r') && raw.at(i) != e)
                ++i;
            break;
        default:  // an unknown escape stands for nothing
            break;
        }
    }
    for (const QLatin1String marker : {QLatin1String("@Variant("), QLatin1String("@DateTime(")}) {
        for (qsizetype at = text.indexOf(marker); at >= 0; at = text.indexOf(marker, at + 1)) {
            if (at == 0 || text.at(at - 1) != QLatin1Char('@'))
                return true;
        }
    }
    return false;
}

QByteArray withoutStreamedValues(const QByteArray& data)
{
    QByteArray out;
    qsizetype copied = 0;
    qsizetype pos = data.startsWith("\xef\xbb\xbf") ? 3 : 0;  // QSettings skips a BOM
    IniLine line;
    while (nextIniLine(data, pos, line)) {
        if (line.equals < 0 || data.at(line.start) == '[')
            continue;
        const qsizetype valueStart = line.equals + 1;
        if (!holdsStreamedValue(QByteArrayView(data).sliced(valueStart, line.end - valueStart)))
            continue;
        out += QByteArrayView(data).sliced(copied, valueStart - copied);
        out += "@Invalid()";
        copied = line.end;
    }
    if (copied == 0)
        return data;
    out += QByteArrayView(data).sliced(copied);
    return out;
}

// QSettings keeps every file it has read in a process-wide cache and does not
// read it again while its size and modification time look unchanged, which
// within one millisecond they may well do. It would then hand back the old
// values and forget that the file was corrupt. So QSettings only ever sees a
// private copy under a fresh name, which it has never seen before, and
// without values it must not decode.
class ScratchIni
{
public:
    explicit ScratchIni(const QByteArray& content)
        : file_(QDir::tempPath() + QStringLiteral("/tallyport-settings-XXXXXX.ini"))
    {
        const QByteArray safe = withoutStreamedValues(content);
        ok_ = file_.open() && file_.write(safe) == safe.size() && file_.flush();
        file_.close();
    }
    bool ok() const { return ok_; }
    QString path() const { return file_.fileName(); }
    QByteArray content() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryFile file_;
    bool ok_ = false;
};

std::optional<QByteArray> readSettingsFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.read(kMaxFileSize + 1);
    if (data.size() > kMaxFileSize || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

#ifdef Q_OS_WIN
bool isRegistryPath(const QString& path)
{
    return path.startsWith(QLatin1String("\\HKEY_"), Qt::CaseInsensitive)
        || path.startsWith(QLatin1String("HKEY_"), Qt::CaseInsensitive);
}
#endif

// The text of a value: a string, or a list of strings, which is what Qt makes
// of a value with unquoted commas (joined back with the commas). Anything else
// Qt may decode (@ByteArray, @Variant, @Rect, @Invalid ...) has no text.
std::optional<QString> textOf(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return value.toStringList().join(QLatin1Char(','));
    case QMetaType::QVariantList: {
        // A list with an element starting with '@' comes as QVariantList.
        QStringList parts;
        for (const QVariant& element : value.toList()) {
            if (element.metaType().id() != QMetaType::QString)
                return std::nullopt;
            parts << element.toString();
        }
        return parts.join(QLatin1Char(','));
    }
    default:
        return std::nullopt;
    }
}

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

// Reads values in order until one is of the wrong type; after that every
// call leaves its value alone.
class Reader
{
public:
    explicit Reader(QSettings& settings) : settings_(settings) {}

    void text(const char* key, QString& out)
    {
        if (const auto value = take(key)) {
            if (const auto t = textOf(*value))
                out = *t;
            else
                stop(key);
        }
    }
    void integer(const char* key, int& out)
    {
        if (const auto value = take(key)) {
            const auto t = textOf(*value);
            const auto n = t ? integerOf(*t) : std::nullopt;
            if (n)
                out = *n;
            else
                stop(key);
        }
    }
    void boolean(const char* key, bool& out)
    {
        if (const auto value = take(key))
            out = booleanOf(textOf(*value));
    }

    const QString& stoppedAt() const { return stoppedAt_; }

private:
    std::optional<QVariant> take(const char* key)
    {
        const QString name = QLatin1String(key);
        if (!stoppedAt_.isEmpty() || !settings_.contains(name))
            return std::nullopt;
        return settings_.value(name);
    }
    void stop(const char* key) { stoppedAt_ = QLatin1String(key); }

    QSettings& settings_;
    QString stoppedAt_;
};

LoadResult readValues(QSettings& settings)
{
    LoadResult result;
    StoredSettings& v = result.values;
    Reader r(settings);
    r.text("CommName", v.CommName);
    r.text("CommBaudRate", v.CommBaudRate);
    r.integer("ReaderType", v.ReaderType);
    r.integer("ReaderID", v.ReaderID);
    r.integer("SameCardTime", v.SameCardTime);
    r.boolean("AddReturn", v.AddReturn);
    r.boolean("AddDown", v.AddDown);
    r.boolean("CardIDReverse", v.CardIDReverse);
    r.boolean("AutoRun", v.AutoRun);
    r.integer("Language", v.Language);
    r.integer("SendFormat", v.SendFormat);
    r.boolean("SaveToFile", v.SaveToFile);
    r.boolean("TimeField", v.TimeField);
    r.text("ExportFile", v.ExportFile);
    r.text("PortalRestoreToken", v.PortalRestoreToken);

    // Qt parses the [General] section on first access, so only now does the
    // status tell about every line of it.
    if (settings.status() != QSettings::NoError)
        return LoadResult();
    result.stoppedAt = r.stoppedAt();
    result.outcome = result.stoppedAt.isEmpty() ? LoadResult::Loaded : LoadResult::StoppedAtWrongType;
    return result;
}

// Reads INI text through a private copy (see ScratchIni); nothing when no copy
// could be made.
std::optional<LoadResult> parseIni(const QByteArray& data)
{
    ScratchIni scratch(data);
    if (!scratch.ok())
        return std::nullopt;
    QSettings settings(scratch.path(), QSettings::IniFormat);
    return readValues(settings);
}

QString boolText(bool value)
{
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

void writeValues(QSettings& s, StoredSettings& v)
{
    s.setValue(QStringLiteral("CommName"), v.CommName);
    s.setValue(QStringLiteral("CommBaudRate"), v.CommBaudRate);
    s.setValue(QStringLiteral("ReaderType"), v.ReaderType);
    s.setValue(QStringLiteral("ReaderID"), v.ReaderID);
    s.setValue(QStringLiteral("SameCardTime"), v.SameCardTime);
    s.setValue(QStringLiteral("AddReturn"), boolText(v.AddReturn));
    s.setValue(QStringLiteral("AddDown"), boolText(v.AddDown));
    s.setValue(QStringLiteral("CardIDReverse"), boolText(v.CardIDReverse));
    s.setValue(QStringLiteral("AutoRun"), boolText(v.AutoRun));
    s.setValue(QStringLiteral("Language"), v.Language);
    s.setValue(QStringLiteral("SendFormat"), v.SendFormat);
    if (v.ExportFile.trimmed().isEmpty())
        v.ExportFile = defaultExportFile();
    s.setValue(QStringLiteral("SaveToFile"), boolText(v.SaveToFile));
    s.setValue(QStringLiteral("TimeField"), boolText(v.TimeField));
    s.setValue(QStringLiteral("ExportFile"), v.ExportFile);
    // Only on desktops that use the portal.
    if (v.PortalRestoreToken.isEmpty())
        s.remove(QStringLiteral("PortalRestoreToken"));
    else
        s.setValue(QStringLiteral("PortalRestoreToken"), v.PortalRestoreToken);
}

// The INI text of `previous` with our values set in it. Other keys in the
// file are kept, unless the file is corrupt: then it is started afresh.
std::optional<QByteArray> renderIni(const QByteArray& previous, StoredSettings& values)
{
    for (const QByteArray& seed : {previous, QByteArray()}) {
        ScratchIni scratch(seed);
        if (!scratch.ok())
            return std::nullopt;
        QSettings s(scratch.path(), QSettings::IniFormat);
        (void)s.allKeys();  // parses every section, so the status is complete
        if (s.status() != QSettings::NoError)
            continue;
        writeValues(s, values);
        s.sync();
        if (s.status() != QSettings::NoError)
            return std::nullopt;
        return scratch.content();
    }
    return std::nullopt;
}

bool sameValues(const StoredSettings& a, const StoredSettings& b)
{
    return a.CommName == b.CommName && a.CommBaudRate == b.CommBaudRate
        && a.ReaderType == b.ReaderType && a.ReaderID == b.ReaderID
        && a.SameCardTime == b.SameCardTime && a.AddReturn == b.AddReturn
        && a.AddDown == b.AddDown && a.CardIDReverse == b.CardIDReverse
        && a.AutoRun == b.AutoRun && a.Language == b.Language
        && a.SendFormat == b.SendFormat && a.SaveToFile == b.SaveToFile
        && a.TimeField == b.TimeField && a.ExportFile == b.ExportFile
        && a.PortalRestoreToken == b.PortalRestoreToken;
}

}  // namespace

QString defaultSettingsPath()
{
    // On Unix Qt's native format is an INI file named .conf.
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quorix"),
                     QStringLiteral("Tallyport"))
        .fileName();
}

QString defaultPortName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM1");
#else
    return QStringLiteral("/dev/ttyS0");
#endif
}

QString defaultExportFile()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\card.txt");
#else
    return QDir::homePath() + QStringLiteral("/card.txt");
#endif
}

StoredSettings defaultSettings()
{
    StoredSettings values;
    values.CommName = defaultPortName();
    values.ExportFile = defaultExportFile();
    return values;
}

LoadResult loadSettings(const QString& path)
{
#ifdef Q_OS_WIN
    if (isRegistryPath(path)) {
        QSettings registry(path, QSettings::NativeFormat);
        if (registry.childKeys().isEmpty())
            return LoadResult();
        return readValues(registry);
    }
#endif
    const auto data = readSettingsFile(path);
    if (!data)
        return LoadResult();
    if (const auto result = parseIni(*data))
        return *result;
    // No room for a private copy: read the file itself, if that is safe.
    if (withoutStreamedValues(*data) != *data)
        return LoadResult();
    QSettings settings(path, QSettings::IniFormat);
    return readValues(settings);
}

bool saveSettings(const QString& path, StoredSettings& values)
{
#ifdef Q_OS_WIN
    if (isRegistryPath(path)) {
        QSettings registry(path, QSettings::NativeFormat);
        writeValues(registry, values);
        registry.sync();
        return registry.status() == QSettings::NoError;
    }
#endif
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const auto text = renderIni(readSettingsFile(path).value_or(QByteArray()), values);
    if (!text)
        return false;
    // QSettings writes through QSaveFile, which (Qt 6.4) reports success even
    // when the data could not all be written; it may have cut the text short.
    const auto check = parseIni(*text);
    if (!check || check->outcome != LoadResult::Loaded || !sameValues(check->values, values))
        return false;

    // The text goes to a temporary file beside the old one, which then
    // replaces it by a rename. Unbuffered, so that a failed write is seen
    // before the rename and not lost in QSaveFile's final flush.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(*text) != text->size() || !file.flush())
        return false;  // the temporary file goes with `file`
    return file.commit();
}
