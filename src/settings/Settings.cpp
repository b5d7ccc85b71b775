#include "settings/Settings.h"

#include "link/ReaderTypes.h"
#include "reading/CardFormat.h"
#include "settings/LanguageTable.h"
#include "settings/SettingsStore.h"

#include <QByteArray>
#include <algorithm>

Settings Settings::validated() const
{
    Settings v = *this;
    if (v.ReaderType < 0 || v.ReaderType >= ReaderTypeCount)
        v.ReaderType = 0;
    v.ReaderID = std::clamp(v.ReaderID, 0, MaxReaderID);
    v.SameCardTime = std::clamp(v.SameCardTime, 0, MaxSameCardTime);
    v.Language = validLanguage(v.Language);
    if (v.SendFormat < 0 || v.SendFormat >= SendFormatCount)
        v.SendFormat = 0;
    if (v.ExportFile.trimmed().isEmpty())
        v.ExportFile = defaultExportFile();
    return v;
}

QByteArray Settings::readerIdText() const
{
    return QByteArray::number(std::clamp(ReaderID, 0, MaxReaderID)).rightJustified(2, '0');
}

bool Settings::sameLink(const Settings& other) const
{
    return CommName == other.CommName && CommBaudRate == other.CommBaudRate && ReaderType == other.ReaderType
        && ReaderID == other.ReaderID;
}
