// Arbitrary bytes as the settings file: loading gives values or the first
// run and never crashes or hangs; and a save over what loaded keeps every
// value it wrote and gives the same bytes when done again.
#include "settings/IniSettings.h"
#include "settings/SettingsFields.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Same {
    bool same = true;
    template <typename T> void compare(const T& a, const T& b) { same = same && a == b; }
    void text(const char*, const QString& a, const QString& b) { compare(a, b); }
    void integer(const char*, int a, int b) { compare(a, b); }
    void boolean(const char*, bool a, bool b) { compare(a, b); }
};

bool sameValues(const Settings& a, const Settings& b)
{
    Same s;
    forEachStoredValue(s, a, b);
    return s.same && a.PortalRestoreToken == b.PortalRestoreToken;
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
