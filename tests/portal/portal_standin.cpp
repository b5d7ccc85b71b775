// A stand-in for the desktop portal's remote desktop interface, for tests on
// a private session bus. It answers every request at once, as a user who
// says yes (or, with "refuse", no at the Start dialog), and writes every
// call it gets to a file, one line each:
//   CreateSession
//   SelectDevices types=1 persist_mode=<0 when not asked> restore_token=<token or nothing>
//   Start
//   Keysym <keysym> <1 pressed, 0 released>
// Restore tokens it hands out are "token-1", "token-2", ...: each start
// gets the next one, as real portals do.
//
// Keys are handled as the real portal does: each call after a delay of its
// own (up to 5 ms), so calls sent together are written down, and reach the
// desktop, in another order than they were sent. "stall" never answers a
// key at all (and writes it down as it comes, "unanswered"). "version=N"
// is the interface version it names (2 by default; 1 has no persistence).
//
//   portal_standin LOGFILE [grant|refuse] [stall] [version=N]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>

class RemoteDesktop : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint version READ version)

public:
    RemoteDesktop(const QString& logPath, const QStringList& modes) : log_(logPath)
    {
        log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        refuse_ = modes.contains("refuse");
        stall_ = modes.contains("stall");
        for (const QString& mode : modes) {
            if (mode.startsWith("version="))
                version_ = mode.mid(8).toUInt();
        }
    }
    uint version() const { return version_; }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options)
    {
        record("CreateSession");
        const QString session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                                    .arg(senderPart(), options.value("session_handle_token").toString());
        return respond(options, 0, {{"session_handle", session}});
    }

    QDBusObjectPath SelectDevices(const QDBusObjectPath&, const QVariantMap& options)
    {
        record(QStringLiteral("SelectDevices types=%1 persist_mode=%2 restore_token=%3")
                   .arg(options.value("types").toUInt())
                   .arg(options.value("persist_mode").toUInt())
                   .arg(options.value("restore_token").toString()));
        return respond(options, 0, {});
    }

    QDBusObjectPath Start(const QDBusObjectPath&, const QString&, const QVariantMap& options)
    {
        record("Start");
        if (refuse_)
            return respond(options, 1, {});
        if (version_ < 2)
            return respond(options, 0, {{"devices", 1u}});
        return respond(options, 0, {{"devices", 1u}, {"restore_token", QStringLiteral("token-%1").arg(++starts_)}});
    }

    void NotifyKeyboardKeysym(const QDBusObjectPath&, const QVariantMap&, int keysym, uint state)
    {
        setDelayedReply(true);
        if (stall_) {
            record(QStringLiteral("Keysym %1 %2 unanswered").arg(keysym).arg(state));
            return;
        }
        const QDBusMessage reply = message().createReply();
        QTimer::singleShot(QRandomGenerator::global()->bounded(6), this, [this, reply, keysym, state] {
            record(QStringLiteral("Keysym %1 %2").arg(keysym).arg(state));
            QDBusConnection::sessionBus().send(reply);
        });
    }

private:
    void record(const QString& line) { log_.write((line + '\n').toUtf8()); }

    QString senderPart() const
    {
        QString sender = message().service().mid(1);
        return sender.replace('.', '_');
    }

    // The reply names the request object; its Response signal follows once
    // the reply is out, as a portal's does after the user answered.
    QDBusObjectPath respond(const QVariantMap& options, uint response, const QVariantMap& results)
    {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(senderPart(), options.value("handle_token").toString());
        QTimer::singleShot(0, this, [path, response, results] {
            QDBusMessage signal = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
            signal << response << results;
            QDBusConnection::sessionBus().send(signal);
        });
        return QDBusObjectPath(path);
    }

    QFile log_;
    bool refuse_ = false;
    bool stall_ = false;
    uint version_ = 2;
    int starts_ = 0;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: portal_standin LOGFILE [grant|refuse] [stall] [version=N]\n");
        return 2;
    }
    RemoteDesktop portal(QString::fromLocal8Bit(argv[1]), app.arguments().mid(2));
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties;
    if (!bus.registerObject("/org/freedesktop/portal/desktop", &portal, exported)
        || !bus.registerService("org.freedesktop.portal.Desktop")) {
        std::fprintf(stderr, "portal_standin: cannot register on the session bus\n");
        return 1;
    }
    return app.exec();
}

#include "portal_standin.moc"
