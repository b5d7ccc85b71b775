// The autostart entry and the name and folders of the export file.
#include "settings/Autostart.h"
#include "settings/ExportFileName.h"
#include "support/TestFiles.h"
#include "text/FileNameBytes.h"
#include "text/Printable.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class SettingsFilesTest : public QObject {
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
        QTest::newRow("settings file") << "/usr/bin/tallyport"
                                       << "/home/u/my cards/t.conf"
                                       << R"(/usr/bin/tallyport --settings "/home/u/my cards/t.conf")";
        // Quoting escapes " ` $ \ with a backslash, then the value escapes each backslash.
        QTest::newRow("reserved") << "/opt/a$b/tally`port"
                                  << R"(/home/u/100% "odd"\x.conf)"
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
        const QStringList lines = QString::fromUtf8(fileContents(path)).split('\n');
        QCOMPARE(lines.first(), QString("[Desktop Entry]"));
        for (const char* line :
             {"Type=Application", "Name=Tallyport", "Terminal=false", "X-GNOME-Autostart-enabled=true"})
            QVERIFY2(lines.contains(line), line);
        QCOMPARE(lines.filter(QRegularExpression("^Exec=")), QStringList{"Exec=" + exec});

        QVERIFY(setAutostart(false, executable, settingsFile));
        QVERIFY(!QFile::exists(path));
        QVERIFY(setAutostart(false, executable, settingsFile));  // nothing to remove
    }

    // Names pass through a QString byte for byte, whatever the bytes.
    void fileNamesKeepTheirBytes()
    {
        const QList<QByteArray> names = {
            "/home/u/caf\xc3\xa9 \xf0\x9f\x92\xb3.conf",        // valid UTF-8
            "/home/u/caf\xe9.conf",                             // Latin-1
            "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82",  // overlong, surrogate, past U+10FFFF, cut short
            "\x80\xbf\xff\xfe",
            "/tmp/a\xef\xbb\xbf"
            "b.conf",  // a byte order mark inside a name is a character of it
        };
        for (const QByteArray& bytes : names) {
            const QString name = fileNameFromBytes(bytes);
            QCOMPARE(fileNameBytes(name), bytes);
            QCOMPARE(holdsRawBytes(name), !bytes.isValidUtf8());
        }
        QCOMPARE(fileNameFromBytes(names[0]), QString::fromUtf8(names[0]));
        QCOMPARE(fileNameFromBytes(names[4]), QString("/tmp/a") + QChar(0xFEFF) + "b.conf");
        QCOMPARE(shownName(fileNameFromBytes(names[1])), QString("/home/u/caf\\xE9.conf"));
        // A character outside the Basic Multilingual Plane is no kept byte.
        QCOMPARE(fileNameBytes(QString::fromUtf8("\xf0\x9f\x92\xb3")), QByteArray("\xf0\x9f\x92\xb3"));
    }

    // An entry for a settings file whose name is not UTF-8 still starts the
    // program with exactly that name, as a desktop (GLib here) reads it.
    void autostartEntryKeepsTheBytesOfTheSettingsName()
    {
        const QString recorder = dir_.path() + "/record args";
        const QString recorded = dir_.path() + "/args";
        {
            QFile script(recorder);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" '"
                         + QFile::encodeName(recorded) + "'\n");
            script.setPermissions(script.permissions() | QFile::ExeOwner);
        }
        // Not UTF-8; UTF-8 with control characters an entry cannot hold.
        for (const QByteArray& name :
             {QByteArray("/caf\xe9 100% \"$x`\\\xff.conf\n"), QByteArray("/t\x01\x1b[0m.conf")}) {
            const QByteArray settings = QFile::encodeName(dir_.path()) + name;
            QVERIFY(setAutostart(true, recorder, fileNameFromBytes(settings)));
            QProcess gio;
            gio.start("gio", {"launch", autostartEntryPath()});
            QVERIFY(gio.waitForFinished(10000));
            QCOMPARE(gio.exitCode(), 0);
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recorded), 10000);
            QFile args(recorded);
            QVERIFY(args.open(QIODevice::ReadOnly));
            QCOMPARE(args.readAll(), "--settings" + QByteArray(1, '\0') + settings + QByteArray(1, '\0'));
            QVERIFY(QFile::remove(recorded));
        }
        QVERIFY(setAutostart(false, recorder, QString()));
    }

    void exportFileExtension_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("file");
        QTest::newRow("no extension") << "/home/u/logs/cards"
                                      << "/home/u/logs/cards.txt";
        QTest::newRow("txt in folder") << "/home/u/txtlogs/cards"
                                       << "/home/u/txtlogs/cards";
        QTest::newRow("other extension") << "card.log"
                                         << "card.log.txt";
        QTest::newRow("mixed case") << "/home/u/Cards.TxT"
                                    << "/home/u/Cards.TxT";
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
#include "tst_settings_files.moc"
