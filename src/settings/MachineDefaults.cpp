#include "settings/MachineDefaults.h"

#include <QFileInfo>
#include <QStandardPaths>

QString machineSettingsFile()
{
    // Qt lists the user's folder first, then those of $XDG_CONFIG_DIRS.
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        const QString file = folder + QStringLiteral("/Quorix/Tallyport.conf");
        if (folder != user && QFileInfo::exists(file))
            return file;
    }
    return QString();
}
