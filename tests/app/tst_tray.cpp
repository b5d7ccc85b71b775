// The tray icon where the desktop shows it through a StatusNotifierItem host
// (KDE Plasma, GNOME with the AppIndicator extension, most Wayland desktops):
// such a host reports a click as one activation and never a double-click.
// The real program runs on Xvfb with a private session bus, on which this
// test plays the panel: a stand-in watcher and host that call the item's
// Activate and SecondaryActivate as a panel does on a click.
#include "support/RunningProgram.h"
#include "support/SimulatedReader.h"
#include "support/TestFiles.h"
#include "support/XSession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <X11/Xlib.h>
#undef Bool  // Xlib's, which moc's output below also spells

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        QMutexLocker lock(&mutex_);
        return items_;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        QMutexLocker lock(&mutex_);
        items_ << (service.startsWith('/') ? message.service() : service);
    }
    void RegisterStatusNotifierHost(const QString&) { }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex mutex_;
    QStringList items_;
};

class TestTray : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const std::string missing = kbdtest::XSession::missingPrograms({"Xvfb", "openbox", "dbus-daemon"});
        QVERIFY2(missing.empty(), ("not installed: " + missing + " (scripts/install installs them)").c_str());
    }

    void aSingleActivationRestores()
    {
        QTemporaryDir dir;
        QProcess bus;
        // The socket goes with the folder: a killed bus leaves none in /tmp.
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1", "--address=unix:dir=" + dir.path()});
        QVERIFY(bus.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(bus.canReadLine(), 5000);
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        QDBusConnection panel = QDBusConnection::connectToBus(address, "panel");
        QVERIFY2(panel.isConnected(), qPrintable(panel.lastError().message()));
        // The panel answers from a thread of its own: the test's own thread
        // waits on the program without an event loop.
        QThread panelThread;
        panelThread.start();
        Watcher watcher;
        watcher.moveToThread(&panelThread);
        auto stopPanel = qScopeGuard([&] {
            panelThread.quit();
            panelThread.wait();
        });
        QVERIFY(panel.registerObject("/StatusNotifierWatcher", &watcher,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties
                                         | QDBusConnection::ExportAllSignals));
        QVERIFY(panel.registerService("org.kde.StatusNotifierWatcher"));
        QVERIFY(
            panel.registerService(QString("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid())));

        kbdtest::XSession session;
        std::string error;
        QVERIFY2(session.start(true, error), error.c_str());
        SimulatedReader reader({"--type", "C", "--id", "07"});
        const QString settings = writeSettingsFile(dir.filePath("tallyport.conf"),
                                                   {{"CommName", reader.path()}, {"ReaderType", 2}, {"ReaderID", 7}});
        RunningProgram program(dir, {"--settings", settings, "--verbose"}, QString::fromStdString(session.display()),
                               {{"DBUS_SESSION_BUS_ADDRESS", address}});
        QVERIFY2(program.waitFor("Read card ..."), qPrintable(program.seen));
        const kbdtest::Window window = session.findClient("tallyport", 5000);
        QVERIFY(window != 0);
        auto viewable = [&] {
            XWindowAttributes attributes{};
            return XGetWindowAttributes(session.x(), window, &attributes) && attributes.map_state == IsViewable;
        };
        auto click = [&](const char* method) {
            const QDBusMessage call = QDBusMessage::createMethodCall(watcher.items().last(), "/StatusNotifierItem",
                                                                     "org.kde.StatusNotifierItem", method);
            return panel.call(QDBusMessage(call) << 0 << 0).type() == QDBusMessage::ReplyMessage;
        };

        // Connected at start: the window went to the tray, the item to the panel.
        QTRY_VERIFY_WITH_TIMEOUT(!watcher.items().isEmpty(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!viewable(), 5000);
        QVERIFY(click("Activate"));
        QTRY_VERIFY_WITH_TIMEOUT(viewable(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel.interface()->isServiceRegistered(watcher.items().last()), 5000);

        // Minimized again; a middle click restores only as a double-click.
        QVERIFY(session.activate(window));
        QCOMPARE(session.run({"xdotool", "key", "alt+m"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(watcher.items().size() == 2 && !viewable(), 5000);
        QVERIFY(click("SecondaryActivate"));
        QTest::qWait(1000);
        QVERIFY(!viewable());
        QVERIFY(click("SecondaryActivate"));
        QVERIFY(click("SecondaryActivate"));
        QTRY_VERIFY_WITH_TIMEOUT(viewable(), 5000);
        bus.terminate();
        bus.waitForFinished(3000);
    }
};

QTEST_GUILESS_MAIN(TestTray)
#include "tst_tray.moc"
