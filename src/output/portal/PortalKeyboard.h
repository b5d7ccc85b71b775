// Keystrokes through the desktop portal (org.freedesktop.portal.RemoteDesktop
// on the session bus), for Wayland desktops without the virtual keyboard
// protocol, such as GNOME and KDE Plasma.
//
// At start() a remote-desktop session is set up that asks for the keyboard
// only. Where the portal can keep the user's answer (version 2 of the
// interface and later), it asks for that too: the token it hands back lets
// the next start go without asking. Older portals ask at every start, which
// is said once in the info log. The session comes up asynchronously (the
// user may take a while to answer), driven by the event loop of the thread
// that owns the object; until then nothing is typed. Keys are sent as
// keysyms, so the layout does not matter, and go to the window that holds
// the keyboard focus; PortalKeyQueue sends them in order.
#pragma once

#include "output/KeyboardOutput.h"
#include "output/portal/PortalKeyQueue.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusPendingCallWatcher;

class PortalKeyboard final : public QObject, public KeyboardOutput {
    Q_OBJECT

public:
    explicit PortalKeyboard(const QDBusConnection& bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    ~PortalKeyboard() override;

    // True when a portal with the remote desktop interface is on the bus.
    bool present() const;

    bool available() const override;
    WindowId foregroundWindow() override { return ready() ? kFocusedWindow : 0; }
    bool isOwnWindow(WindowId) override { return false; }
    bool followsFocus() const override { return true; }
    void start(const std::string& restoreToken, NoticeHandler notice) override;
    // The keys go to the focused window, so the target says nothing here:
    // the window learns of a focused window only on its next look, and a
    // card read just after the desktop said yes must not be lost for that.
    bool showWindow(WindowId) override { return true; }
    bool bringForward(WindowId) override { return true; }
    Sent sendKeys(const std::string& text, bool addComma, bool addEnter) override;

    bool ready() const { return state_ == State::Ready; }
    // True while cards are being typed or wait to be.
    bool busy() const { return keys_.busy(); }

private slots:
    void onVersion(QDBusPendingCallWatcher* call);
    void onResponse(uint response, const QVariantMap& results);
    void onSessionClosed();

private:
    enum class State { Idle, ReadingVersion, CreatingSession, SelectingDevices, Starting, Ready, Failed };

    // Sends `method` with `arguments` and an options map that names the
    // request; its answer comes to onResponse.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options);
    void fail(Notice why);
    void tell(Notice what, const std::string& detail = {});

    QDBusConnection bus_;
    State state_ = State::Idle;
    QString session_;
    QString requestPath_;
    QString restoreToken_;
    NoticeHandler notice_;
    int requests_ = 0;
    uint version_ = 0;  // of the portal's RemoteDesktop interface
    PortalKeyQueue keys_;
};
