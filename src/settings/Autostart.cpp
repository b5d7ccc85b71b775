#include "settings/Autostart.h"

#include "text/FileNameBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

#include <optional>

namespace {

// One argument of an Exec line: quoted when it holds a reserved character,
// with '"', '`', '$' and '\' escaped inside the quotes; '%' is doubled
// everywhere since a lone one starts a field code.
QString execArgument(const QString& arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = arg.isEmpty();
    QString out;
    for (const QChar c : arg) {
        if (reserved.contains(c))
            needsQuotes = true;
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
        if (c == QLatin1Char('%'))
            out += QLatin1Char('%');
    }
    return needsQuotes ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

// A desktop entry value of type string escapes '\' and the three control
// characters it can hold; no other control character can be written.
std::optional<QString> entryValue(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return std::nullopt;
            out += c;
        }
    }
    return out;
}

// A desktop entry is UTF-8 text without most control characters, so a
// settings file name holding bytes that are not UTF-8, or such characters,
// cannot stand in it. The entry then starts a shell that makes
// the name with printf from octal escapes; the 'x' keeps the command
// substitution from dropping a newline at the end of the name.
QStringList startThroughShell(const QString& executable, const QByteArray& file)
{
    QString escaped;
    for (const char c : file) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || QByteArrayView("/._-+,:=@").contains(c);
        escaped += plain ? QString(QLatin1Char(c)) : QString::asprintf("\\%03o", unsigned(uchar(c)));
    }
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            execArgument(QStringLiteral("s=$(printf \"$1x\"); exec \"$0\" --settings \"${s%x}\"")), executable,
            execArgument(escaped)};
}

}  // namespace

QString autostartLeftForAllUsers()
{
    return {};
}

QString autostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/tallyport.desktop");
}

bool setAutostart(bool enabled, const QString& executable, const QString& settingsFile)
{
    const QString entryPath = autostartEntryPath();
    if (!enabled)
        return !QFile::exists(entryPath) || QFile::remove(entryPath);

    if (executable.isEmpty())
        return false;
    // The session starts the program from anywhere, so no path may be relative.
    QStringList args{execArgument(QFileInfo(executable).absoluteFilePath())};
    if (!settingsFile.isEmpty()) {
        const QString file = absoluteFileName(settingsFile);
        // The shell also carries control characters, which an entry cannot hold.
        if (holdsRawBytes(file) || !entryValue(execArgument(file)))
            args = startThroughShell(args.first(), fileNameBytes(file));
        else
            args << QStringLiteral("--settings") << execArgument(file);
    }
    const auto exec = entryValue(args.join(QLatin1Char(' ')));
    if (!exec)
        return false;

    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tallyport\n"
                                         "Comment=Types the number of each RFID card read at the serial port\n"
                                         "Exec=%1\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(*exec);

    if (!QDir().mkpath(QFileInfo(entryPath).absolutePath()))
        return false;
    QSaveFile file(entryPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = entry.toUtf8();
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}
