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

// QSettings keeps every file it has read in a process-wide cache and does not
// read it again while its size and modification time look unchanged, which
// within one millisecond they may well do. It would then hand back the old
// values and forget that the file was corrupt. So QSettings only ever sees a
// private copy under a fresh name, which it has never seen before.
class ScratchIni
{
public:
    explicit ScratchIni(const QByteArray& content)
        : file_(QDir::tempPath() + QStringLiteral("/tallyport-settings-XXXXXX.ini"))
    {
        ok_ = file_.open() && file_.write(content) == content.size() && file_.flush();
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

    // Qt parses the [General] section on first access, so only now does the
    // status tell about every line of it.
    if (settings.status() != QSettings::NoError)
        return LoadResult();
    result.stoppedAt = r.stoppedAt();
    result.outcome = result.stoppedAt.isEmpty() ? LoadResult::Loaded : LoadResult::StoppedAtWrongType;
    return result;
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
}

// The INI text of `previous` with our values set in it. Other keys in the
// file are kept, unless the file is corrupt: then it is started afresh.
std::optional<QByteArray> renderIni(const QByteArray& previous, StoredSettings& values)
{
    ScratchIni scratch(previous);
    if (!scratch.ok())
        return std::nullopt;
    {
        QSettings s(scratch.path(), QSettings::IniFormat);
        (void)s.allKeys();  // parses every section, so the status is complete
        if (s.status() == QSettings::NoError) {
            writeValues(s, values);
            s.sync();
            if (s.status() != QSettings::NoError)
                return std::nullopt;
            return scratch.content();
        }
    }
    if (previous.isEmpty())
        return std::nullopt;
    return renderIni(QByteArray(), values);
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
    ScratchIni scratch(*data);
    QSettings settings(scratch.ok() ? scratch.path() : path, QSettings::IniFormat);
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
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    const auto text = renderIni(readSettingsFile(path).value_or(QByteArray()), values);
    if (!text)
        return false;
    // The new text goes to a temporary file beside the old one, which then
    // replaces it by a rename; nothing is ever written into the old file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(*text) != text->size())
        return false;  // the temporary file goes with `file`
    return file.commit();
}
