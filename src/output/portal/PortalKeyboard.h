// Keystrokes through the desktop portal (org.freedesktop.portal.RemoteDesktop
// on the session bus), for Wayland desktops without the virtual keyboard
// protocol, such as GNOME and KDE Plasma.
//
// At start() a remote-desktop session is set up that asks for the keyboard
// only and for persistence: the desktop asks the user once, and the token it
// hands back lets the next start go without asking. The session comes up
// asynchronously (the user may take a while to answer), driven by the event
// loop of the thread that owns the object; until then nothing is typed.
// Keys are sent as keysyms, so the layout does not matter, and go to the
// window that holds the keyboard focus.
#pragma once

#include "output/KeyboardOutput.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

class PortalKeyboard final : public QObject, public KeyboardOutput {
    Q_OBJECT

public:
    explicit PortalKeyboard(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
    ~PortalKeyboard() override;

    // True when a portal with the remote desktop interface is on the bus.
    bool present() const;

    bool available() const override;
    WindowId foregroundWindow() override { return ready() ? kFocusedWindow : 0; }
    bool isOwnWindow(WindowId) override { return false; }
    bool followsFocus() const override { return true; }
    void start(const std::string& restoreToken, NoticeHandler notice) override;
    bool typeText(WindowId target, const std::string& text, bool addComma, bool addEnter,
                  const ClipboardSetter& setClipboard) override;

    bool ready() const { return state_ == State::Ready; }

private slots:
    void onResponse(uint response, const QVariantMap& results);
    void onSessionClosed();

private:
    enum class State { Idle, CreatingSession, SelectingDevices, Starting, Ready, Failed };

    // Sends `method` with `arguments` and an options map that names the
    // request; its answer comes to onResponse.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options);
    void fail(Notice why);

    QDBusConnection bus_;
    State state_ = State::Idle;
    QString session_;
    QString requestPath_;
    QString restoreToken_;
    NoticeHandler notice_;
    int requests_ = 0;
};
