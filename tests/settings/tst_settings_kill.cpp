// A save cut short by the death of the process leaves a whole settings
// file: the old one or the new one, never a mixture or a torn one.
#include "settings/SettingsStore.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class SettingsKillTest : public QObject {
    Q_OBJECT
private slots:
    void killedDuringSavesLeavesAWholeFile()
    {
        QTemporaryDir dir;
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const QString path = dir.filePath("s.conf");
        Settings a;
        a.CommName = "/dev/ttyA";
        a.ReaderID = 11;
        Settings b;
        b.CommName = "/dev/ttyB";
        b.ReaderID = 22;
        QVERIFY(saveSettings(path, a));
        for (int round = 0; round < 20; ++round) {
            const pid_t child = ::fork();
            if (child == 0) {
                // Saves without end, alternating two complete sets of values.
                for (int i = 0;; ++i)
                    saveSettings(path, i % 2 ? a : b);
            }
            ::usleep(2000 + 1500 * round);
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            const LoadResult loaded = loadSettings(path);
            QCOMPARE(loaded.outcome, LoadResult::Loaded);
            const bool isA = loaded.values.CommName == a.CommName && loaded.values.ReaderID == a.ReaderID;
            const bool isB = loaded.values.CommName == b.CommName && loaded.values.ReaderID == b.ReaderID;
            QVERIFY2(isA || isB, qPrintable(loaded.values.CommName));
        }
        // Nothing was left in the temporary folder; beside the file, a name
        // left by a kill between naming and renaming goes with the next save.
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(saveSettings(path, a));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"s.conf"});
    }
};

QTEST_GUILESS_MAIN(SettingsKillTest)
#include "tst_settings_kill.moc"
