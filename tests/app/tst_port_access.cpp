// The real program, run as an ordinary user (nobody) by setpriv, meets a port
// it may not open, one another program holds, and one that does not exist:
// the info log explains each once, however often the connect is retried.
#include "support/TestFiles.h"
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A pseudo-terminal whose device node the test may chown and chmod.
struct Pty {
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { ::close(master); }
    int master = -1;
    QString path;
};

// Runs tallyport as nobody until it has tried to connect `attempts` times;
// returns its info log.
QString infoLogAsNobody(const QString& port, int attempts)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        return QStringLiteral("no user nobody");
    QTemporaryDir dir;
    const QString settingsPath = writeSettingsFile(dir.filePath("tallyport.conf"), {{"CommName", port}});
    for (const QString& path : {dir.path(), settingsPath})
        if (::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            return QStringLiteral("cannot hand %1 to nobody").arg(path);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start("setpriv",
                  {"--reuid", QString::number(nobody->pw_uid), "--regid", QString::number(nobody->pw_gid),
                   "--clear-groups", qEnvironmentVariable("TALLYPORT_BUILD") + "/tallyport", "--verbose", "--port",
                   port, "--settings", settingsPath});
    QString log;
    QElapsedTimer clock;
    clock.start();
    // Each failed attempt ends with this line; the explanation, if any, follows it at once.
    while (log.count("Open communication port error!") < attempts && clock.elapsed() < 15000
           && program.state() != QProcess::NotRunning) {
        program.waitForReadyRead(100);
        log += QString::fromUtf8(program.readAllStandardError());
    }
    program.terminate();
    program.waitForFinished(5000);
    return log + QString::fromUtf8(program.readAllStandardError());
}

}  // namespace

class TestPortAccess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to run the program as nobody against ports made for it");
    }

    void eachCauseIsExplainedOnce()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        const QByteArray node = QFile::encodeName(pty.path);
        // The usual serial device: owned by a group that may read and write,
        // which nobody is not in.
        const group* owners = ::getgrnam("dialout");
        QVERIFY2(owners, "the group dialout is missing");
        QCOMPARE(::chown(node.constData(), 0, owners->gr_gid), 0);
        QCOMPARE(::chmod(node.constData(), 0660), 0);

        QString log = infoLogAsNobody(pty.path, 4);
        QVERIFY2(log.count("Open communication port error!") >= 4, qPrintable(log));
        QVERIFY2(log.contains("dialout"), qPrintable(log));
        QCOMPARE(log.count("No permission to open port " + pty.path + ": your user must be in the group \"dialout\""),
                 1);

        // Open to everyone but held by another program.
        QCOMPARE(::chmod(node.constData(), 0666), 0);
        QSerialPort holder(pty.path);
        QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
        log = infoLogAsNobody(pty.path, 4);
        QCOMPARE(log.count("Port " + pty.path + " is in use by another program"), 1);
        QVERIFY2(!log.contains("No permission"), qPrintable(log));
        holder.close();

        log = infoLogAsNobody("/dev/tallyport-no-such-port", 4);
        QVERIFY2(log.count("Open communication port error!") >= 4, qPrintable(log));
        QCOMPARE(log.count("Port /dev/tallyport-no-such-port does not exist"), 1);
    }
};

QTEST_GUILESS_MAIN(TestPortAccess)
#include "tst_port_access.moc"
