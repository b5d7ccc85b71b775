#include "settings/SettingsStore.h"

#include "settings/FileNameBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>

#include <climits>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <tuple>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include "settings/windows/RegistryStore.h"
#include "settings/windows/WinSettings.h"
#endif

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

private:
    QTemporaryFile file_;
    bool ok_ = false;
};

#ifdef Q_OS_UNIX
// Without waiting: a FIFO would block.
int openForReading(const QString& path)
{
    return ::open(fileNameBytes(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// Read only when it is a regular file.
std::optional<QByteArray> readSettingsFile(const QString& path)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> data;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        QByteArray read(kMaxFileSize + 1, Qt::Uninitialized);
        qsizetype size = 0;
        while (size < read.size()) {
            const ssize_t n = ::read(fd, read.data() + size, size_t(read.size() - size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n < 0)
                    size = -1;
                break;
            }
            size += n;
        }
        if (size >= 0 && size <= kMaxFileSize)
            data = read.first(size);
    }
    ::close(fd);
    return data;
}
#else
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
#endif

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

bool isHexDigitChar(char16_t c)
{
    return c < 0x80 && hexDigit(static_cast<char>(c)) >= 0;
}

// A text value as QSettings reads it back unchanged: escapes for the
// characters it would take otherwise, quotes around commas, semicolons,
// equals signs and blanks at the ends, and a second '@' before a leading one.
QByteArray iniText(const QString& value)
{
    const QString text = value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value;
    QByteArray out;
    QString plain;  // characters written as they are, in UTF-8, surrogate pairs whole
    const auto flush = [&] {
        out += plain.toUtf8();
        plain.clear();
    };
    bool escapeHexDigit = false;  // a \x escape takes every hex digit after it
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (escapeHexDigit && isHexDigitChar(c)) {
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        escapeHexDigit = false;
        if (c >= 0x20 && c != 0x7F && c != '"' && c != '\\') {
            plain += qc;
            continue;
        }
        flush();
        switch (c) {
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
            out += "\\x" + QByteArray::number(c, 16);
            escapeHexDigit = true;
        }
    }
    flush();
    const bool quoted = out.isEmpty() || text.contains(QLatin1Char(',')) || text.contains(QLatin1Char(';'))
        || text.contains(QLatin1Char('=')) || text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
    return quoted ? '"' + out + '"' : out;
}

const char* const kValueNames[] = {"CommName", "CommBaudRate", "ReaderType", "ReaderID", "SameCardTime",
    "AddReturn", "AddDown", "CardIDReverse", "AutoRun", "Language", "SendFormat", "SaveToFile",
    "TimeField", "ExportFile", "PortalRestoreToken"};

QByteArray valueLines(const StoredSettings& v)
{
    const QByteArray values[] = {iniText(v.CommName), iniText(v.CommBaudRate),
        QByteArray::number(v.ReaderType), QByteArray::number(v.ReaderID), QByteArray::number(v.SameCardTime),
        iniText(boolText(v.AddReturn)), iniText(boolText(v.AddDown)), iniText(boolText(v.CardIDReverse)),
        iniText(boolText(v.AutoRun)), QByteArray::number(v.Language), QByteArray::number(v.SendFormat),
        iniText(boolText(v.SaveToFile)), iniText(boolText(v.TimeField)), iniText(v.ExportFile)};
    // Every value but the last, which is written only when there is one.
    static_assert(std::size(kValueNames) == std::size(values) + 1);
    QByteArray out = "[General]\n";
    for (std::size_t i = 0; i < std::size(values); ++i)
        out += QByteArray(kValueNames[i]) + '=' + values[i] + '\n';
    // Only on desktops that use the portal.
    if (!v.PortalRestoreToken.isEmpty())
        out += QByteArray(kValueNames[std::size(values)]) + '=' + iniText(v.PortalRestoreToken) + '\n';
    return out;
}

bool isOurValue(QByteArrayView key)
{
    for (const char* name : kValueNames) {
        if (key == name)
            return true;
    }
    return false;
}

// The INI text of `previous` (a file that loaded as settings) with our values
// in a [General] section at the top and their old lines taken out; every
// other line is kept as it was. QSettings merges a section that appears twice.
QByteArray renderIni(const QByteArray& previous, const StoredSettings& values)
{
    QByteArray out = valueLines(values);
    qsizetype copied = previous.startsWith("\xef\xbb\xbf") ? 3 : 0;
    qsizetype pos = copied;
    bool general = true;  // keys before any section header are in [General]
    IniLine line;
    while (nextIniLine(previous, pos, line)) {
        const QByteArrayView text = QByteArrayView(previous).sliced(line.start, line.end - line.start);
        if (text.startsWith('[')) {
            const qsizetype close = text.indexOf(']');
            general = close > 0 && text.sliced(1, close - 1).trimmed().compare("general", Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!general || line.equals < 0 || !isOurValue(QByteArrayView(previous).sliced(line.start, line.equals - line.start).trimmed()))
            continue;
        out += QByteArrayView(previous).sliced(copied, line.start - copied);
        copied = line.end;
    }
    out += QByteArrayView(previous).sliced(copied);
    if (!out.endsWith('\n'))
        out += '\n';
    return out;
}

// Files this process may replace without reading them again: the ones it
// loaded as settings files and the ones it wrote, known by their identity
// on disk and their size and time of change as they were then.
#ifdef Q_OS_UNIX
using FileId = std::tuple<quint64, quint64, qint64, qint64, qint64>;
QMutex knownMutex;
std::set<FileId>& knownFiles()
{
    static std::set<FileId> files;
    return files;
}
FileId fileId(const struct stat& st)
{
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
            qint64(st.st_mtim.tv_nsec)};
}
void rememberFile(const QByteArray& path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        QMutexLocker lock(&knownMutex);
        knownFiles().insert(fileId(st));
    }
}
bool isKnownFile(const struct stat& st)
{
    QMutexLocker lock(&knownMutex);
    return knownFiles().count(fileId(st)) > 0;
}

// Creates the folder and the ones above it, as mkdir -p does.
bool makeFolders(const QByteArray& folder)
{
    for (qsizetype end = folder.indexOf('/', 1); ; end = folder.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? folder : folder.first(end);
        if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        if (end < 0)
            break;
    }
    struct stat st {};
    return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isLeftover(const char* name, const QByteArray& prefix)
{
    const QByteArrayView view(name);
    if (!view.startsWith(prefix) || view.size() != prefix.size() + 8)
        return false;
    for (const char c : view.sliced(prefix.size())) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// Writes `text` under a new name beside `base` in `dir`, then renames it over
// `base`. The data goes first into a file without a name (O_TMPFILE), which
// a killed process leaves nowhere; it gets a name only for the rename. A name
// left by a process killed just then (or by a system without O_TMPFILE) is
// removed by the next save.
bool replaceFile(const QByteArray& dir, const QByteArray& base, const QByteArray& text, std::optional<mode_t> keepMode)
{
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    const QByteArray prefix = '.' + base + '.';
    const int listFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        QList<QByteArray> leftovers;
        while (const dirent* entry = ::readdir(listing)) {
            if (isLeftover(entry->d_name, prefix))
                leftovers << entry->d_name;
        }
        ::closedir(listing);
        for (const QByteArray& name : leftovers)
            ::unlinkat(dirFd, name.constData(), 0);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    std::random_device random;
    const auto freshName = [&] {
        return prefix + QByteArray::number(random(), 16).rightJustified(8, '0');
    };
    QByteArray name;
    bool ok = false;
    int fd = ::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    const bool anonymous = fd >= 0;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        name = freshName();
        fd = ::openat(dirFd, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd >= 0) {
        qsizetype written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fd, text.constData() + written, size_t(text.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            written += n;
        }
        // A new file gets the usual mode (the umask applies); a replaced one keeps its own.
        ok = written == text.size() && (!keepMode || ::fchmod(fd, *keepMode) == 0) && ::fsync(fd) == 0;
        if (ok && anonymous) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
            ok = false;
            for (int attempt = 0; !ok && attempt < 100; ++attempt) {
                name = freshName();
                ok = ::linkat(AT_FDCWD, self.constData(), dirFd, name.constData(), AT_SYMLINK_FOLLOW) == 0;
                if (!ok && errno != EEXIST)
                    break;
            }
            if (!ok)
                name.clear();
        }
        ok = ok && ::renameat(dirFd, name.constData(), dirFd, base.constData()) == 0;
        if (!ok && !name.isEmpty())
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(fd);
    }
    ::close(dirFd);
    return ok;
}
#endif

}  // namespace

QString defaultSettingsPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\HKEY_CURRENT_USER\\") + QString::fromWCharArray(winsettings::SettingsKeyPath);
#else
    // On Unix Qt's native format is an INI file named .conf.
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quorix"),
                     QStringLiteral("Tallyport"))
        .fileName();
#endif
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
    // Not "C:\card.txt": an ordinary user cannot create files there.
    return QString::fromStdWString(winsettings::defaultCardLogPath());
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

namespace {

LoadResult readFileItself(const QString& path)
{
#ifdef Q_OS_UNIX
    // Qt cannot name a file whose name is not UTF-8, but it can name the
    // open file.
    if (holdsRawBytes(path)) {
        const int fd = openForReading(path);
        if (fd < 0)
            return LoadResult();
        QSettings settings(QStringLiteral("/proc/self/fd/%1").arg(fd), QSettings::IniFormat);
        const LoadResult result = readValues(settings);
        ::close(fd);
        return result;
    }
#endif
    QSettings settings(path, QSettings::IniFormat);
    return readValues(settings);
}

LoadResult loadRaw(const QString& path)
{
#ifdef Q_OS_WIN
    if (isRegistryPath(path))
        return loadRegistrySettings();
#endif
    const auto data = readSettingsFile(path);
    if (!data)
        return LoadResult();
    LoadResult result;
    if (const auto parsed = parseIni(*data)) {
        result = *parsed;
    } else if (withoutStreamedValues(*data) == *data) {
        // No room for a private copy: read the file itself, as it is safe.
        result = readFileItself(path);
    }
#ifdef Q_OS_UNIX
    if (result.outcome != LoadResult::NoFile)
        rememberFile(fileNameBytes(path));
#endif
    return result;
}

}  // namespace

LoadResult loadSettings(const QString& path)
{
    LoadResult result = loadRaw(path);
    result.values = result.values.validated();
    return result;
}

SaveResult saveSettings(const QString& path, StoredSettings& values)
{
    SaveResult result;
    if (values.ExportFile.trimmed().isEmpty())
        values.ExportFile = defaultExportFile();
#ifdef Q_OS_WIN
    if (isRegistryPath(path)) {
        result.outcome = saveRegistrySettings(values) ? SaveResult::Saved : SaveResult::Failed;
        return result;
    }
#endif
    QByteArray previous;
#ifdef Q_OS_UNIX
    // A symbolic link stays: the file it points to is replaced.
    QByteArray target = fileNameBytes(absoluteFileName(path));
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(target.constData(), nullptr);
        if (!real) {
            result.outcome = SaveResult::NotReplaced;  // a link to nothing
            return result;
        }
        target = real;
        std::free(real);
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash == 0 ? QByteArray("/") : target.first(slash);
    const QByteArray base = target.sliced(slash + 1);
    std::optional<mode_t> keepMode;
    if (::stat(target.constData(), &st) == 0) {
        // A file changed by someone else since is read again (loading it
        // makes it known when it is a settings file).
        if (!S_ISREG(st.st_mode)
            || (!isKnownFile(st) && loadSettings(fileNameFromBytes(target)).outcome == LoadResult::NoFile)) {
            result.outcome = SaveResult::NotReplaced;
            return result;
        }
        keepMode = st.st_mode & 07777;
        previous = readSettingsFile(fileNameFromBytes(target)).value_or(QByteArray());
    } else if (errno != ENOENT || !makeFolders(folder)) {
        return result;
    }
#else
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    if (target.isEmpty()) {
        result.outcome = SaveResult::NotReplaced;  // a link to nothing
        return result;
    }
    if (QFileInfo::exists(target)) {
        if (!QFileInfo(target).isFile() || loadSettings(target).outcome == LoadResult::NoFile) {
            result.outcome = SaveResult::NotReplaced;
            return result;
        }
        previous = readSettingsFile(target).value_or(QByteArray());
    } else if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        return result;
    }
#endif
    const QByteArray text = renderIni(previous, values);
    // Never a file that loading would refuse.
    if (text.size() > kMaxFileSize)
        return result;
#ifdef Q_OS_UNIX
    if (!replaceFile(folder, base, text, keepMode))
        return result;
    rememberFile(target);
#else
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(text) != text.size()
        || !file.flush() || !file.commit())
        return result;
#endif
    result.outcome = SaveResult::Saved;
    return result;
}
