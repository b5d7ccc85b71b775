// Starting the program at log-on on Windows: the value "Tallyport" of the
// user's Run key (see WinSettings.h). It starts this executable as the
// system names it, without arguments, so a settings file given on the
// command line is not passed on.
#include "settings/Autostart.h"

#include "settings/windows/WinSettings.h"

bool setAutostart(bool enabled, const QString& /*executable*/, const QString& /*settingsFile*/)
{
    return winsettings::setRunEntry(enabled);
}

// Named in the message when the entry could not be written.
QString autostartEntryPath()
{
    return QStringLiteral("HKEY_CURRENT_USER\\") + QString::fromWCharArray(winsettings::kRunKeyPath)
        + QStringLiteral("\\Tallyport");
}

QString autostartLeftForAllUsers()
{
    return QString::fromStdWString(winsettings::machineRunEntryRemoval());
}
