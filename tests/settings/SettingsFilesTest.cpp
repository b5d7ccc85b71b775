// The autostart entry and the name and folders of the export file.
#include "settings/Autostart.h"
#include "settings/ExportFileName.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class SettingsFilesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        // A configuration folder with no autostart folder in it yet.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path() + "/config"));
    }

    void autostartEntry_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("settingsFile");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/tallyport" << QString() << "/usr/bin/tallyport";
        QTest::newRow("space") << "/opt/my apps/tallyport" << QString() << R"("/opt/my apps/tallyport")";
        QTest::newRow("settings file") << "/usr/bin/tallyport" << "/home/u/my cards/t.conf"
                                       << R"(/usr/bin/tallyport --settings "/home/u/my cards/t.conf")";
        // Quoting escapes " ` $ \ with a backslash, then the value escapes each backslash.
        QTest::newRow("reserved") << "/opt/a$b/tally`port" << R"(/home/u/100% "odd"\x.conf)"
                                  << R"("/opt/a\\$b/tally\\`port" --settings "/home/u/100%% \\"odd\\"\\\\x.conf")";
        QTest::newRow("percent") << "/opt/50%/tallyport" << QString() << "/opt/50%%/tallyport";
    }
    void autostartEntry()
    {
        QFETCH(QString, executable);
        QFETCH(QString, settingsFile);
        QFETCH(QString, exec);
        const QString path = dir_.path() + "/config/autostart/tallyport.desktop";
        QCOMPARE(autostartEntryPath(), path);
        QVERIFY(setAutostart(true, executable, settingsFile));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        QCOMPARE(lines.first(), QString("[Desktop Entry]"));
        for (const char* line : {"Type=Application", "Name=Tallyport", "Terminal=false", "X-GNOME-Autostart-enabled=true"})
            QVERIFY2(lines.contains(line), line);
        QCOMPARE(lines.filter(QRegularExpression("^Exec=")), QStringList{"Exec=" + exec});

        QVERIFY(setAutostart(false, executable, settingsFile));
        QVERIFY(!QFile::exists(path));
        QVERIFY(setAutostart(false, executable, settingsFile));  // nothing to remove
    }

    void exportFileExtension_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("file");
        QTest::newRow("no extension") << "/home/u/logs/cards" << "/home/u/logs/cards.txt";
        QTest::newRow("txt in folder") << "/home/u/txtlogs/cards" << "/home/u/txtlogs/cards";
        QTest::newRow("other extension") << "card.log" << "card.log.txt";
        QTest::newRow("mixed case") << "/home/u/Cards.TxT" << "/home/u/Cards.TxT";
    }
    void exportFileExtension()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, file);
        QCOMPARE(exportFileWithExtension(chosen), file);
    }

    void foldersOfExportFile()
    {
        const QString nested = dir_.path() + "/a/b/c/card.txt";
        QVERIFY(createFoldersOf(nested));
        QVERIFY(QFileInfo(dir_.path() + "/a/b/c").isDir());
        QVERIFY(!QFile::exists(nested));
        QVERIFY(createFoldersOf(nested));  // already there
        QVERIFY(!createFoldersOf("card.txt"));
        QFile plain(dir_.path() + "/plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QVERIFY(!createFoldersOf(dir_.path() + "/plain/x/card.txt"));
    }
};

QTEST_GUILESS_MAIN(SettingsFilesTest)
#include "SettingsFilesTest.moc"
