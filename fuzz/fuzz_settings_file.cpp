// Arbitrary bytes as the settings file: loading gives values or the first
// run and never crashes or hangs; and a save over what loaded keeps every
// value it wrote and gives the same bytes when done again.
#include "settings/IniSettings.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <unistd.h>

namespace {

bool sameValues(const Settings& a, const Settings& b)
{
    return a.CommName == b.CommName && a.CommBaudRate == b.CommBaudRate && a.ReaderType == b.ReaderType
        && a.ReaderID == b.ReaderID && a.SameCardTime == b.SameCardTime && a.AddReturn == b.AddReturn
        && a.AddDown == b.AddDown && a.CardIDReverse == b.CardIDReverse && a.AutoRun == b.AutoRun
        && a.Language == b.Language && a.SendFormat == b.SendFormat && a.SaveToFile == b.SaveToFile
        && a.TimeField == b.TimeField && a.ExportFile == b.ExportFile && a.PortalRestoreToken == b.PortalRestoreToken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_settings_file";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static const QString path = QDir::tempPath() + QStringLiteral("/tallyport-fuzz-%1.conf").arg(::getpid());

    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(text);
    file.close();
    const LoadResult result = loadSettings(path);
    if (result.outcome == LoadResult::StoppedAtWrongType && result.stoppedAt.isEmpty())
        std::abort();

    if (result.outcome == LoadResult::NoFile || !result.ours)
        return 0;
    const QByteArray saved = renderIniSettings(text, result.values);
    const LoadResult again = readIniSettings(saved);
    if (again.outcome != LoadResult::Loaded || !sameValues(again.values, result.values))
        std::abort();
    if (renderIniSettings(saved, result.values) != saved)
        std::abort();
    return 0;
}
