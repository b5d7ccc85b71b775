#include "settings/Settings.h"

#include "link/ReaderTypes.h"
#include "settings/LanguageTable.h"
#include "settings/SendFormat.h"

#include <QByteArray>
#include <QDir>
#include <QStandardPaths>
#include <algorithm>

#ifdef Q_OS_WIN
#include "settings/windows/WinSettings.h"
#endif

Settings Settings::validated() const
{
    Settings v = *this;
    if (v.ReaderType < 0 || v.ReaderType >= kReaderTypeCount)
        v.ReaderType = 0;
    v.ReaderID = std::clamp(v.ReaderID, 0, kMaxReaderID);
    v.SameCardTime = std::clamp(v.SameCardTime, 0, kMaxSameCardTime);
    v.Language = validLanguage(v.Language);
    if (v.SendFormat < 0 || v.SendFormat >= kSendFormatCount)
        v.SendFormat = 0;
    if (v.ExportFile.trimmed().isEmpty())
        v.ExportFile = defaultExportFile();
    if (v.PortalRestoreToken.size() > kMaxPortalRestoreToken)
        v.PortalRestoreToken.clear();
    return v;
}

QByteArray Settings::readerIdText() const
{
    return QByteArray::number(std::clamp(ReaderID, 0, kMaxReaderID)).rightJustified(2, '0');
}

bool Settings::sameLink(const Settings& other) const
{
    return CommName == other.CommName && CommBaudRate == other.CommBaudRate && ReaderType == other.ReaderType
        && ReaderID == other.ReaderID;
}

QString defaultSettingsPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\HKEY_CURRENT_USER\\") + QString::fromWCharArray(winsettings::kSettingsKeyPath);
#else
    // Where QSettings keeps the user's settings of organisation Quorix, program Tallyport.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Quorix/Tallyport.conf");
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

Settings defaultSettings()
{
    Settings values;
    values.CommName = defaultPortName();
    values.ExportFile = defaultExportFile();
    return values;
}
