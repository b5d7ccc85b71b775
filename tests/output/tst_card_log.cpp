// The card log file in a temporary folder.
#include "output/CardLog.h"
#include "settings/ExportFileName.h"
#include "support/TestFiles.h"
#include "text/FileNameBytes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class TestCardLog : public QObject {
    Q_OBJECT
private slots:
    // A path holding bytes that are not UTF-8, as the settings file keeps
    // it, names exactly that folder and file.
    void aPathThatIsNotUtf8KeepsItsBytes()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + "/caf\xe9";
        const CardLog::Options options{true, false, fileNameFromBytes(folder + "/cards.txt")};
        QVERIFY(createFoldersOf(options.path));
        CardLog log;
        QCOMPARE(log.append("0439041101", options), CardLog::Written);
        log.close();
        const int fd = ::open((folder + "/cards.txt").constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        char text[32] = {};
        QCOMPARE(::read(fd, text, sizeof text), ssize_t(11));
        ::close(fd);
        QCOMPARE(QByteArray(text), QByteArray("0439041101\n"));
        ::unlink((folder + "/cards.txt").constData());  // Qt cannot name them to remove them
        ::rmdir(folder.constData());
    }

    void tenRecordsThenReopen()
    {
        QTemporaryDir dir;
        const CardLog::Options options{true, false, dir.filePath("cards.txt")};
        CardLog log;
        for (int i = 0; i < 9; ++i) {
            QCOMPARE(log.append(QByteArray::number(i), options), CardLog::Written);
            QVERIFY(log.isOpen());
        }
        QCOMPARE(log.append("9", options), CardLog::Written);
        QVERIFY(!log.isOpen());  // closed after the tenth
        QCOMPARE(log.append("10", options), CardLog::Written);
        QVERIFY(log.isOpen());
        log.close();
        QCOMPARE(fileContents(options.path), QByteArray("0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n"));
    }

    void recordFormats()
    {
        const QDateTime when(QDate(2026, 12, 7), QTime(7, 8, 9));
        QCOMPARE(CardLog::record("0439041101", true, when), QByteArray("2026-12-07 07:08:09,0439041101"));
        QCOMPARE(CardLog::record(" \t439041101\r ", false, when), QByteArray("439041101"));

        QTemporaryDir dir;
        CardLog log;
        log.clock = [when] { return when; };
        const CardLog::Options options{true, true, dir.filePath("t.txt")};
        QCOMPARE(log.append("439041101", options), CardLog::Written);
        log.close();
        QCOMPARE(fileContents(options.path), QByteArray("2026-12-07 07:08:09,439041101\n"));
    }

    void appendsToWhatIsThere()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("old.txt");
        QVERIFY(writeFile(path, "earlier\n"));
        CardLog log;
        QCOMPARE(log.append("new", {true, false, path}), CardLog::Written);
        log.close();
        QCOMPARE(fileContents(path), QByteArray("earlier\nnew\n"));
    }

    void savingOffWritesNothing()
    {
        QTemporaryDir dir;
        CardLog log;
        QCOMPARE(log.append("1", {false, false, dir.filePath("none.txt")}), CardLog::Written);
        QVERIFY(!QFile::exists(dir.filePath("none.txt")));
    }

    void idleTicksCloseTheFile()
    {
        QTemporaryDir dir;
        CardLog log;
        QCOMPARE(log.append("1", {true, false, dir.filePath("i.txt")}), CardLog::Written);
        for (int i = 0; i < 10; ++i)
            log.idleTick();
        QVERIFY(log.isOpen());
        log.idleTick();
        QVERIFY(!log.isOpen());
        // A card resets the run; the connect phase resets both counts.
        QCOMPARE(log.append("2", {true, false, dir.filePath("i.txt")}), CardLog::Written);
        log.resetIdle();
        QCOMPARE(log.LogIdleTicks, 0);
        log.reset();
        QCOMPARE(log.LogRecordsSinceOpen, 0);
    }

    void unwritablePathLosesOnlyThatRecord()
    {
        QTemporaryDir dir;
        CardLog log;
        const CardLog::Options bad{true, false, dir.filePath("missing/folder/c.txt")};
        QCOMPARE(log.append("1", bad), CardLog::Failed);
        QVERIFY(!log.isOpen());
        QVERIFY(log.append("2", {true, false, QString()}) != CardLog::Written);
        const CardLog::Options good{true, false, dir.filePath("c.txt")};
        QCOMPARE(log.append("3", good), CardLog::Written);
        log.close();
        QCOMPARE(fileContents(good.path), QByteArray("3\n"));
    }

    void onlyARegularFileTakesRecords()
    {
        // A FIFO without a reader once blocked the open for good: the alarm
        // ends such a hang as a failure.
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QTest::failOnWarning(QRegularExpression(".*"));
        ::alarm(20);
        CardLog log;
        QVERIFY(log.append("1", {true, false, fifo}) != CardLog::Written);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        QVERIFY(log.append("2", {true, false, fifo}) != CardLog::Written);
        ::close(reader);
        for (const QString& device : {QString("/dev/full"), QString("/dev/null"), dir.path()}) {
            QVERIFY2(log.append("3", {true, false, device}) != CardLog::Written, qPrintable(device));
            QVERIFY(!log.isOpen());
        }
        ::alarm(0);
        QCOMPARE(log.append("4", {true, false, dir.filePath("c.txt")}), CardLog::Written);
    }

    // Another program renames the log while it is open (an importer that
    // renames card.txt, reads it and deletes it), or deletes it: the next
    // records start a new file under the name, not go after the old one.
    void aLogTakenAwayWhileOpenIsStartedAgain()
    {
        QTemporaryDir dir;
        const CardLog::Options options{true, false, dir.filePath("card.txt")};
        CardLog log;
        QCOMPARE(log.append("1", options), CardLog::Written);
        QVERIFY(QFile::rename(options.path, dir.filePath("taken.txt")));
        QCOMPARE(log.append("2", options), CardLog::Written);
        QVERIFY(QFile::remove(options.path));
        QCOMPARE(log.append("3", options), CardLog::Written);
        QCOMPARE(log.append("4", options), CardLog::Written);
        log.close();
        QCOMPARE(fileContents(dir.filePath("taken.txt")), QByteArray("1\n"));
        QCOMPARE(fileContents(options.path), QByteArray("3\n4\n"));
    }

    // In a shared sticky folder (as /tmp) a file or a link that another
    // user left under the log's name is not written to.
    void anotherUsersFileInASharedFolderIsRefused()
    {
        if (geteuid() != 0)
            QSKIP("making a file owned by another user needs root (CI runs as root)");
        QTemporaryDir dir;
        const QString shared = dir.filePath("shared");
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        const QString planted = shared + "/card.txt";
        QVERIFY(writeFile(planted, "theirs\n"));
        QCOMPARE(::chown(QFile::encodeName(planted).constData(), 65534, 65534), 0);
        const QString ours = dir.filePath("ours.txt");
        QVERIFY(writeFile(ours, "mine\n"));
        const QString link = shared + "/link.txt";
        QVERIFY(QFile::link(ours, link));
        QCOMPARE(::lchown(QFile::encodeName(link).constData(), 65534, 65534), 0);
        CardLog log;
        QCOMPARE(log.append("1", {true, false, planted}), CardLog::Refused);
        QCOMPARE(log.append("2", {true, false, link}), CardLog::Refused);
        QVERIFY(!log.isOpen());
        QCOMPARE(fileContents(planted), QByteArray("theirs\n"));
        QCOMPARE(fileContents(ours), QByteArray("mine\n"));
        // Our own file there, and a new one, take records.
        QCOMPARE(::chown(QFile::encodeName(planted).constData(), 0, 0), 0);
        QCOMPARE(log.append("3", {true, false, planted}), CardLog::Written);
        log.close();
        QCOMPARE(log.append("4", {true, false, shared + "/new.txt"}), CardLog::Written);
        log.close();
        QCOMPARE(fileContents(planted), QByteArray("theirs\n3\n"));
    }

    void fullDiskLeavesNoPartialLine()
    {
        // A file size limit makes the write fail the way a full disk does.
        QTemporaryDir dir;
        const QString path = dir.filePath("full.txt");
        QVERIFY(writeFile(path, QByteArray(20, 'x') + '\n'));

        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 25;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        CardLog log;
        const CardLog::Options options{true, false, path};
        const bool written = log.append("0439041101", options) == CardLog::Written;
        setrlimit(RLIMIT_FSIZE, &old);

        QVERIFY(!written);
        QVERIFY(!log.isOpen());
        QCOMPARE(fileContents(path), QByteArray(20, 'x') + '\n');
        // Space again: the next card is written on a line of its own.
        QCOMPARE(log.append("12", options), CardLog::Written);
        log.close();
        QCOMPARE(fileContents(path), QByteArray(20, 'x') + "\n12\n");
    }
};

QTEST_APPLESS_MAIN(TestCardLog)
#include "tst_card_log.moc"
