// The settings file: round trips, hand-edited and damaged files, and saves
// that cannot be written.
#include "settings/SettingsFields.h"
#include "settings/SettingsStore.h"
#include "support/TestFiles.h"
#include "text/FileNameBytes.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace {

// Texts with every control and non-ASCII character as \uXXXX.
QString escaped(const QString& text)
{
    QString out;
    for (const QChar c : text)
        out += c.unicode() < 0x20 || c.unicode() > 0x7e || c == '\\' ? QString::asprintf("\\u%04x", c.unicode())
                                                                     : QString(c);
    return out;
}

// Name=value lines in the stored order, so that a failed comparison shows
// which value differs.
struct Describer {
    QStringList lines;
    void text(const char* key, const QString& v) { lines << QString(key) + '=' + escaped(v); }
    void integer(const char* key, int v) { lines << QString(key) + '=' + QString::number(v); }
    void boolean(const char* key, bool v) { integer(key, v); }
};

QString describe(const Settings& v)
{
    Describer d;
    forEachStoredValue(d, v);
    return d.lines.join('\n');
}

const QStringList kNames = [] {
    QStringList names;
    for (const QString& line : describe(Settings()).split('\n'))
        names << line.section('=', 0, 0);
    return names;
}();

}  // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString file_;

    void checkConsistent(const LoadResult& r)
    {
        if (r.outcome == LoadResult::NoFile)
            QCOMPARE(describe(r.values), describe(defaultSettings()));
        QCOMPARE(r.outcome == LoadResult::StoppedAtWrongType, kNames.contains(r.stoppedAt));
    }

    // A save that must fail, leaving the file and its folder as they were.
    void expectFailedSave(const QString& path)
    {
        const QByteArray before = fileContents(path);
        const QStringList entries = QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden);
        Settings changed = defaultSettings();
        changed.ExportFile = QString(6000, 'x');
        QVERIFY(!saveSettings(path, changed));
        QCOMPARE(fileContents(path), before);
        QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden), entries);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        // Before anything asks Qt for the configuration folder, which it remembers.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path() + "/config"));
        file_ = dir_.path() + "/t.conf";
    }

    void defaultPathIsTheConfFile() { QCOMPARE(defaultSettingsPath(), dir_.path() + "/config/Quorix/Tallyport.conf"); }

    void everyValueRoundTrips()
    {
        // In table order, none at its default.
        const Settings v{"@ttyUSB3", "9600,n,8,2", 5, 42, 2500, false, true,
                         true,       true,         2, 3,  true, true,  "/tmp/a b/\"x\";y=z\\kärt\t.txt",
                         {}};
        const QString path = dir_.path() + "/new/folders/t.conf";
        Settings saved = v;
        QVERIFY(saveSettings(path, saved));
        const LoadResult r = loadSettings(path);
        QCOMPARE(r.outcome, LoadResult::Loaded);
        QCOMPARE(describe(r.values), describe(v));
        const QByteArray text = fileContents(path);
        for (const char* line :
             {"\nCommBaudRate=\"9600,n,8,2\"\n", "\nReaderID=42\n", "\nAddReturn=0\n", "\nAddDown=-1\n"})
            QVERIFY2(text.contains(line), line);
    }

    // A user without a file of their own starts with the machine's file,
    // until the first save makes the values their own; the machine's file is
    // only ever read.
    void machineDefaultsUntilTheUserHasAFile()
    {
        const QString user = defaultSettingsPath();
        const QString important = dir_.path() + "/xdg1/Quorix/Tallyport.conf";
        const QString machine = dir_.path() + "/xdg2/Quorix/Tallyport.conf";
        QVERIFY(QDir().mkpath(QFileInfo(machine).absolutePath()) && QDir().mkpath(QFileInfo(user).absolutePath()));
        writeSettingsFile(machine, {{"CommName", "/dev/ttyUSB7"}, {"SendFormat", 2}, {"ReaderID", 150}});
        const QByteArray machineText = fileContents(machine);
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(dir_.path() + "/xdg1:" + dir_.path() + "/xdg2"));
        const auto restore = qScopeGuard([&] {
            qunsetenv("XDG_CONFIG_DIRS");
            QFile::remove(user);
        });

        // A folder without the file is passed over.
        LoadResult r = loadSettings(user);
        QCOMPARE(r.outcome, LoadResult::Loaded);
        QVERIFY(r.machineDefaults);
        QCOMPARE(r.values.CommName, QString("/dev/ttyUSB7"));
        QCOMPARE(r.values.SendFormat, 2);
        QCOMPARE(r.values.ReaderID, 99);  // validated as the user's own would be
        // A file given by name stands alone, and a broken file of the user's
        // own is a first run.
        QCOMPARE(loadSettings(dir_.path() + "/other.conf").outcome, LoadResult::NoFile);
        QVERIFY(writeFile(user, "[General\n"));
        QVERIFY(!loadSettings(user).machineDefaults);
        QVERIFY(QFile::remove(user));

        r.values.ReaderType = 3;
        QVERIFY(saveSettings(user, r.values));
        QCOMPARE(fileContents(machine), machineText);
        writeSettingsFile(machine, {{"CommName", "/dev/ttyUSB9"}});
        r = loadSettings(user);
        QVERIFY(!r.machineDefaults);
        QCOMPARE(r.values.CommName, QString("/dev/ttyUSB7"));
        QCOMPARE(r.values.ReaderType, 3);

        // The more important folder comes first.
        QVERIFY(QFile::remove(user));
        QVERIFY(QDir().mkpath(QFileInfo(important).absolutePath()));
        writeSettingsFile(important, {{"CommName", "/dev/ttyACM0"}});
        QCOMPARE(loadSettings(user).values.CommName, QString("/dev/ttyACM0"));
    }

    void unavailableFileIsFirstRun()
    {
        for (const QString& path : {dir_.path() + "/missing.conf", dir_.path()}) {
            const LoadResult r = loadSettings(path);
            QVERIFY2(r.outcome == LoadResult::NoFile, qPrintable(path));
            QCOMPARE(describe(r.values), describe(defaultSettings()));
        }
    }

    // One line before SendFormat=4: reading it either stops (SendFormat keeps
    // its default) or goes on, and `field` then reads as `value`.
    void valueTexts_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("stoppedAt");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        const auto row = [](const char* line, const char* stop, const char* field, const QString& value) {
            QTest::newRow(line) << QByteArray(line) << QString(stop) << QString(field) << value;
        };
        row("ReaderID=\" 7 \"", "", "ReaderID", "7");
        row("ReaderID=+4", "", "ReaderID", "4");
        // Numbers beyond int saturate, then come into the reader ID's range.
        row("ReaderID=99999999999", "", "ReaderID", "99");
        row("ReaderID=-99999999999", "", "ReaderID", "0");
        row("SameCardTime=-5", "", "SameCardTime", "0");
        for (const char* bad : {"abc", "1.5", "", "0x10", "1,2", "@ByteArray(1)", "@Invalid()"})
            row(qPrintable(QString("ReaderID=") + bad), "ReaderID", "ReaderID", "1");
        row("CommBaudRate=19200,e,8,1", "", "CommBaudRate", "19200,e,8,1");
        row("CommBaudRate=a,@b", "", "CommBaudRate", "a,@b");
        row("CommBaudRate=@ByteArray(9600)", "CommBaudRate", "CommBaudRate", "19200,e,8,1");
        row("CommBaudRate=a,@Rect(1 2 3 4)", "CommBaudRate", "CommBaudRate", "19200,e,8,1");
        // AddDown defaults to false, AddReturn to true.
        for (const char* t : {"1", "-1", "2", "TRUE", "true", "\" tRuE \""})
            row(qPrintable(QString("AddDown=") + t), "", "AddDown", "1");
        for (const char* t : {"0", "-0", "False", "", "yes", "@ByteArray(1)"})
            row(qPrintable(QString("AddReturn=") + t), "", "AddReturn", "0");
    }
    void valueTexts()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, stoppedAt);
        QFETCH(QString, field);
        QFETCH(QString, value);
        QVERIFY(writeFile(file_, "CommName=/dev/ttyUSB1\n" + line + "\nSendFormat=4\n"));
        const LoadResult r = loadSettings(file_);
        QCOMPARE(r.outcome, stoppedAt.isEmpty() ? LoadResult::Loaded : LoadResult::StoppedAtWrongType);
        QCOMPARE(r.stoppedAt, stoppedAt);
        const QStringList lines = describe(r.values).split('\n');
        QCOMPARE(lines.filter(QRegularExpression('^' + field + '=')), QStringList{field + '=' + value});
        QCOMPARE(r.values.CommName, QString("/dev/ttyUSB1"));
        QCOMPARE(r.values.SendFormat, stoppedAt.isEmpty() ? 4 : 0);
    }

    void wholeFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("outcome");  // -1: any, as long as it is consistent
        QTest::newRow("empty") << QByteArray() << int(LoadResult::Loaded);
        QTest::newRow("comment only") << QByteArray("; note\n[Window]\nx=1\n") << int(LoadResult::Loaded);
        QTest::newRow("lines without =") << QByteArray("# notes\n\njunk\n") << int(LoadResult::NoFile);
        QTest::newRow("binary") << QByteArray("\0\xff\xfe\x01=\0\n[\x80]", 10) << -1;
        QTest::newRow("unknown type") << QByteArray("X=@Variant(\\0\\0\\x1\\0\\0)") << -1;
        // Made Qt ask for 66 GB; found by fuzzing.
        QTest::newRow("streamed value") << QByteArray("CommName=@Variant(\\0\\0\\0\\t|0\\xff)") << -1;
        QTest::newRow("dangling escapes") << QByteArray("CommName=\"\\x\nExportFile=\\") << -1;
        QTest::newRow("many commas") << "CommName=" + QByteArray(200000, ',') << -1;
    }
    void wholeFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, outcome);
        QVERIFY(writeFile(file_, content));
        const LoadResult r = loadSettings(file_);
        checkConsistent(r);
        if (outcome >= 0) {
            QCOMPARE(int(r.outcome), outcome);
            QCOMPARE(describe(r.values), describe(defaultSettings()));  // none of these sets a value
        }
    }

    // Our values load as Qt loads them, whatever else the file holds: notes
    // and stray lines in any section, a section without its ']' (named by
    // the rest of its line), sections named [] or [ ] (other sections, not
    // [General]), a byte order mark at the start (as Windows editors write
    // it). A save keeps all of that but the mark.
    void ourValuesLoadWhateverElseTheFileHolds_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("note elsewhere") << QByteArray("[General]\nReaderID=7\n[Notes]\n# by hand\n");
        QTest::newRow("stray line") << QByteArray("ReaderID=7\njunk\n");
        QTest::newRow("note first") << QByteArray("# note\n[General]\nReaderID=7\n");
        QTest::newRow("open section") << QByteArray("[General\nReaderID=7\n[Window\nReaderID=3\n");
        QTest::newRow("empty names") << QByteArray("[General]\nReaderID=7\n[]\nReaderID=3\n[ ]\nAddDown=1\n");
        QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf[General]\nReaderID=7\n");
    }
    void ourValuesLoadWhateverElseTheFileHolds()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(file_, content));
        QCOMPARE(QSettings(file_, QSettings::IniFormat).value("ReaderID").toInt(), 7);
        const LoadResult r = loadSettings(file_);
        QCOMPARE(r.outcome, LoadResult::Loaded);
        QCOMPARE(r.values.ReaderID, 7);
        QCOMPARE(r.values.AddDown, false);
        Settings v = r.values;
        v.ReaderID = 9;
        QVERIFY(saveSettings(file_, v));
        const QByteArray saved = fileContents(file_);
        QVERIFY2(saved.startsWith("[General]\n"), saved);
        QCOMPARE(QSettings(file_, QSettings::IniFormat).value("ReaderID").toInt(), 9);
        QCOMPARE(loadSettings(file_).values.ReaderID, 9);
        // The other sections keep their lines.
        for (const char* kept : {"# by hand", "junk", "[Window", "ReaderID=3", "AddDown=1"})
            QCOMPARE(saved.contains(kept), content.contains(kept));
    }

    // A name or a value with a U+FEFF inside keeps it: the name is that file,
    // not the one without it.
    void byteOrderMarksInNamesAndValues()
    {
        const QByteArray folder = QFile::encodeName(dir_.path());
        QVERIFY(writeFile(dir_.path() + "/ab.conf", "ReaderID=3\n"));
        const QByteArray name = folder
            + "/a\xef\xbb\xbf"
              "b.conf";
        QVERIFY(writeFile(QFile::decodeName(name),
                          "ReaderID=7\nCommName=/dev/a\xef\xbb\xbf"
                          "b\n"));
        const LoadResult r = loadSettings(fileNameFromBytes(name));
        QCOMPARE(r.values.ReaderID, 7);
        QCOMPARE(r.values.CommName, QString("/dev/a") + QChar(0xFEFF) + "b");
        Settings v = r.values;
        v.ReaderID = 8;
        QVERIFY(saveSettings(fileNameFromBytes(name), v));
        QCOMPARE(loadSettings(fileNameFromBytes(name)).values.ReaderID, 8);
        QCOMPARE(fileContents(dir_.path() + "/ab.conf"), QByteArray("ReaderID=3\n"));
    }

    void rewrittenFileIsReadAgain()
    {
        // Same size, same moment: nothing may be remembered from the last read.
        QVERIFY(writeFile(file_, "ReaderID=1\n"));
        QCOMPARE(loadSettings(file_).values.ReaderID, 1);
        QVERIFY(writeFile(file_, "ReaderID=2\n"));
        QCOMPARE(loadSettings(file_).values.ReaderID, 2);
        QVERIFY(writeFile(file_, "ReaderID 3\n"));
        QCOMPARE(loadSettings(file_).outcome, LoadResult::NoFile);
    }

    void blankExportFileSavesTheDefault()
    {
        QFile::remove(file_);
        Settings v = defaultSettings();
        v.ExportFile = "  \t ";
        QVERIFY(saveSettings(file_, v));
        QCOMPARE(v.ExportFile, defaultExportFile());
        QCOMPARE(loadSettings(file_).values.ExportFile, defaultExportFile());
    }

    void saveOverExistingFile()
    {
        Settings v = defaultSettings();
        v.ReaderID = 9;
        QVERIFY(writeFile(file_, "[Window]\ngeometry=10\nReaderID=3\n[General]\nReaderID=4\nOther=x\n"));
        QCOMPARE(loadSettings(file_).values.ReaderID, 4);
        QVERIFY(saveSettings(file_, v));
        QVERIFY(fileContents(file_).contains("[Window]\ngeometry=10\nReaderID=3\n"));
        const LoadResult r = loadSettings(file_);
        QCOMPARE(r.outcome, LoadResult::Loaded);
        QCOMPARE(r.values.ReaderID, 9);
        QCOMPARE(fileContents(file_).count("ReaderID=9"), 1);
        QVERIFY(fileContents(file_).contains("\nOther=x\n"));
    }

    void onlySettingsFilesAreReplaced()
    {
        // Whatever did not load as a settings file stays as it is.
        const QByteArray readme = "# Notes\n\nNothing = here to lose\n";
        const QByteArray cardLog = "0439041101\n4294967295\n";
        const QByteArray big = "[General]\nReaderID=5\n" + QByteArray(1100000, ';') + '\n';
        for (const QByteArray& content : {readme, cardLog, big}) {
            QVERIFY(writeFile(file_, content));
            QCOMPARE(loadSettings(file_).outcome, LoadResult::NoFile);
            Settings v = defaultSettings();
            QCOMPARE(saveSettings(file_, v).outcome, SaveResult::NotReplaced);
            QCOMPARE(fileContents(file_), content);
        }
        // Nor is anything that is not a regular file, loaded or not.
        const QString fifo = dir_.path() + "/fifo.conf";
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        Settings v = defaultSettings();
        QCOMPARE(saveSettings(fifo, v).outcome, SaveResult::NotReplaced);
        QCOMPARE(saveSettings(dir_.path(), v).outcome, SaveResult::NotReplaced);
        QVERIFY(QFileInfo(fifo).isFile() == false && QFileInfo(fifo).exists());

        // A file that loaded is replaced, through a link to it.
        QVERIFY(writeFile(file_, "ReaderID=2\n"));
        const QString link = dir_.path() + "/link.conf";
        QVERIFY(QFile::link(file_, link));
        QCOMPARE(loadSettings(link).values.ReaderID, 2);
        v.ReaderID = 6;
        QVERIFY(saveSettings(link, v));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(loadSettings(file_).values.ReaderID, 6);
        // A file put in its place since is not.
        QVERIFY(QFile::remove(file_));
        QVERIFY(writeFile(file_, readme));
        QCOMPARE(saveSettings(file_, v).outcome, SaveResult::NotReplaced);
        QCOMPARE(fileContents(file_), readme);
        QFile::remove(link);
        QFile::remove(file_);
    }

    void saveNeedsNoTemporaryFolderAndStaysLoadable()
    {
        const QString folder = dir_.path() + "/beside";
        const QString path = folder + "/t.conf";
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(dir_.path() + "/no/such/tmp"));
        auto restore = qScopeGuard([&] { qputenv("TMPDIR", oldTmp); });
        Settings v = defaultSettings();
        v.ReaderID = 42;
        QVERIFY(saveSettings(path, v));
        v.ReaderID = 43;
        QVERIFY(saveSettings(path, v));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"t.conf"});
        restore.dismiss();
        qputenv("TMPDIR", oldTmp);
        QCOMPARE(loadSettings(path).values.ReaderID, 43);

        // A save that would make a file too large to load fails, and the file stays.
        Settings huge = v;
        huge.ExportFile = QString(1100000, 'x');
        QCOMPARE(saveSettings(path, huge).outcome, SaveResult::Failed);
        const LoadResult r = loadSettings(path);
        QCOMPARE(r.outcome, LoadResult::Loaded);
        QCOMPARE(r.values.ReaderID, 43);
    }

    // File names are bytes: a folder and a file whose names are not UTF-8
    // are made, replaced and read under exactly those names, also when the
    // file must be read without a private copy.
    void namesThatAreNotUtf8()
    {
        const QByteArray folder = QFile::encodeName(dir_.path()) + "/caf\xe9";
        const QString path = fileNameFromBytes(folder + "/t\xff\xfe.conf");
        // Qt could not remove them with the temporary folder.
        auto removeThem = qScopeGuard([&] {
            ::unlink(fileNameBytes(path).constData());
            ::rmdir(folder.constData());
        });
        Settings v = defaultSettings();
        v.ReaderID = 17;
        QVERIFY(saveSettings(path, v));
        v.ReaderID = 18;
        QVERIFY(saveSettings(path, v));
        QStringList names;
        if (DIR* listing = ::opendir(folder.constData())) {
            while (const dirent* entry = ::readdir(listing))
                names << QString::fromLatin1(QByteArray(entry->d_name).toHex());
            ::closedir(listing);
        }
        names.sort();
        QCOMPARE(names, (QStringList{"2e", "2e2e", QString::fromLatin1(QByteArray("t\xff\xfe.conf").toHex())}));
        QCOMPARE(loadSettings(path).values.ReaderID, 18);
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(dir_.path() + "/no/such/tmp"));
        auto restore = qScopeGuard([&] { qputenv("TMPDIR", oldTmp); });
        QCOMPARE(loadSettings(path).values.ReaderID, 18);
    }

    // The files in tests/settings/corpus load as they did when QSettings
    // read them (corpus/expected.txt was written by that loader), except
    // that a stray line or a byte order mark no longer makes a first run of
    // a file whose values Qt itself reads.
    void storedFilesLoadAsBefore()
    {
        const QString corpus = qEnvironmentVariable("TALLYPORT_SOURCE") + "/tests/settings/corpus";
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", "/home/u");  // the default card log of the expectations
        auto restore = qScopeGuard([&] { qputenv("HOME", home); });
        const QStringList expected
            = QString::fromUtf8(fileContents(corpus + "/expected.txt")).split("== ", Qt::SkipEmptyParts);
        QVERIFY(expected.size() >= 20);
        for (const QString& entry : expected) {
            const QString name = entry.section('\n', 0, 0);
            const LoadResult r = loadSettings(corpus + '/' + name);
            const char* outcomes[] = {"NoFile", "Loaded", "StoppedAtWrongType", "OtherUsersFile"};
            const QStringList lines{"outcome=" + QString(outcomes[r.outcome]), "stoppedAt=" + r.stoppedAt,
                                    describe(r.values), "PortalRestoreToken=" + escaped(r.values.PortalRestoreToken)};
            QCOMPARE(name + '\n' + lines.join('\n'), entry.trimmed());
        }
    }

    // One codec decides what a key is, for reading and for rewriting: a
    // save replaces every line that loading takes as ours, keeps the rest,
    // and saving the same values again gives the same bytes.
    void savesReplaceWhatLoadingReads()
    {
        const QByteArray foreign = "; kept\n[Window]\ngeometry=10\nReaderID=3\n";
        QVERIFY(writeFile(file_,
                          "[General]\nComm%4Eame=/dev/escaped\n%43ommName=x\nSave%54oFile=-1\nPortal%52estoreToken=t\n"
                          "  ReaderID = 4 ; old\n[general]\nOther=x\n"
                              + foreign));
        QCOMPARE(loadSettings(file_).values.CommName, QString("x"));
        Settings v = defaultSettings();
        v.CommName = "/dev/chosen";
        QVERIFY(saveSettings(file_, v));
        const QByteArray once = fileContents(file_);
        const LoadResult r = loadSettings(file_);
        QCOMPARE(describe(r.values), describe(v));
        QCOMPARE(r.values.PortalRestoreToken, QString());
        QVERIFY2(once.endsWith("Other=x\n" + foreign), once);
        QCOMPARE(once.count('%'), 0);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(saveSettings(file_, v));
            QCOMPARE(fileContents(file_), once);
        }
    }

    // Another program's INI file, or a shell file, loads as defaults but is
    // never rewritten; an empty file is ours to fill.
    void foreignFilesAreNotRewritten()
    {
        for (const QByteArray& content : {QByteArray("[user]\n\tname = someone\n[core]\n\teditor = vi\n"),
                                          QByteArray("export A=1\nexport B=2\n")}) {
            QVERIFY(writeFile(file_, content));
            QCOMPARE(loadSettings(file_).outcome, LoadResult::Loaded);
            Settings v = defaultSettings();
            QCOMPARE(saveSettings(file_, v).outcome, SaveResult::NotReplaced);
            QCOMPARE(fileContents(file_), content);
        }
        QVERIFY(writeFile(file_, "\n"));
        Settings v = defaultSettings();
        QVERIFY(saveSettings(file_, v));
    }

    // Texts come back as they were saved: a byte order mark at the start,
    // "@Variant(" inside, bytes that are not UTF-8 in the card log path; and
    // a token past its limit is refused without failing the save.
    void oddTextsRoundTrip()
    {
        QFile::remove(file_);
        Settings v = defaultSettings();
        v.CommName = QString(QChar(0xFEFF)) + "/dev/ttyUSB0";
        v.CommBaudRate = "9600,@Variant(x),8,1";
        v.ExportFile = fileNameFromBytes(QFile::encodeName(dir_.path()) + "/caf\xe9/cards.txt");
        v.PortalRestoreToken = QString(2 * 1024 * 1024, 't');
        QVERIFY(saveSettings(file_, v));
        QVERIFY(fileContents(file_).contains("/caf\xe9/cards.txt\n"));
        const LoadResult r = loadSettings(file_);
        QCOMPARE(r.outcome, LoadResult::Loaded);
        v.PortalRestoreToken.clear();
        QCOMPARE(describe(r.values), describe(v));
        QCOMPARE(r.values.PortalRestoreToken, QString());
    }

    // A link that another user put in a shared sticky folder (as /tmp) is
    // not followed by a save, as the kernel would not follow it either.
    void anotherUsersLinkInASharedFolderIsNotFollowed()
    {
        if (geteuid() != 0)
            QSKIP("making a link owned by another user needs root (CI runs as root)");
        const QString shared = dir_.path() + "/shared";
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        QVERIFY(writeFile(file_, "ReaderID=2\n"));
        const QString link = shared + "/x.conf";
        QVERIFY(QFile::link(file_, link));
        Settings v = defaultSettings();
        QVERIFY(saveSettings(link, v));  // our own link
        QCOMPARE(::lchown(QFile::encodeName(link).constData(), 65534, 65534), 0);
        const QByteArray before = fileContents(file_);
        QCOMPARE(saveSettings(link, v).outcome, SaveResult::Failed);
        QCOMPARE(fileContents(file_), before);
    }

    // A settings file that another user left in a shared sticky folder is
    // not loaded (its card log path, its autostart could be anything), nor
    // replaced; the folder's owner's and our own are.
    void anotherUsersFileInASharedFolderIsRefused()
    {
        if (geteuid() != 0)
            QSKIP("making a file owned by another user needs root (CI runs as root)");
        const QString shared = dir_.path() + "/sharedfiles";
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        const QString planted = shared + "/planted.conf";
        QVERIFY(writeFile(planted, "ReaderID=2\nSaveToFile=-1\nExportFile=/tmp/theirs.txt\n"));
        QCOMPARE(::chown(QFile::encodeName(planted).constData(), 65534, 65534), 0);
        const LoadResult r = loadSettings(planted);
        QCOMPARE(r.outcome, LoadResult::OtherUsersFile);
        QCOMPARE(describe(r.values), describe(defaultSettings()));
        Settings v = defaultSettings();
        QCOMPARE(saveSettings(planted, v).outcome, SaveResult::Failed);
        QCOMPARE(fileContents(planted), QByteArray("ReaderID=2\nSaveToFile=-1\nExportFile=/tmp/theirs.txt\n"));
        // Our own link there to it counts as the file it names.
        const QString link = shared + "/link.conf";
        QVERIFY(QFile::link(planted, link));
        QCOMPARE(loadSettings(link).outcome, LoadResult::OtherUsersFile);
        // The folder's owner's file is no stranger's.
        QCOMPARE(::chown(QFile::encodeName(shared).constData(), 65534, 65534), 0);
        QCOMPARE(loadSettings(planted).values.ReaderID, 2);
        QCOMPARE(::chown(QFile::encodeName(shared).constData(), 0, 0), 0);
        QCOMPARE(::chown(QFile::encodeName(planted).constData(), 0, 0), 0);
        QCOMPARE(loadSettings(planted).values.ReaderID, 2);
    }

    void saveToReadOnlyFolderKeepsOldFile()
    {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders; saveToFullDiskKeepsOldFile covers root");
        const QString folder = dir_.path() + "/readonly";
        Settings old = defaultSettings();
        QVERIFY(saveSettings(folder + "/t.conf", old));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        auto restore = qScopeGuard(
            [&] { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        expectFailedSave(folder + "/t.conf");
    }

    void saveToFullDiskKeepsOldFile()
    {
        const QString mountPoint = dir_.path() + "/full";
        QVERIFY(QDir().mkpath(mountPoint));
        if (mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=16k") != 0)
            QSKIP("mounting a small tmpfs needs root");
        auto unmount = qScopeGuard([&] { umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH); });
        Settings old = defaultSettings();
        QVERIFY(saveSettings(mountPoint + "/t.conf", old));
        QFile filler(mountPoint + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(512, 'x')) == 512 && filler.flush()) { }
        filler.close();
        expectFailedSave(mountPoint + "/t.conf");
    }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "tst_settings_store.moc"
