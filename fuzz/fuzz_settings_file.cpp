// Arbitrary bytes as the settings file: loading gives values or the first
// run, and never crashes or hangs.
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_settings_file";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static const QString path = QDir::tempPath() + QStringLiteral("/tallyport-fuzz-%1.conf").arg(::getpid());

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();
    const LoadResult result = loadSettings(path);
    if (result.outcome == LoadResult::StoppedAtWrongType && result.stoppedAt.isEmpty())
        std::abort();
    return 0;
}
