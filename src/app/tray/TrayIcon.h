// The notification-area icon: shows the program while its window is hidden,
// blinks while a reader is connected, brings the window back on a
// double-click (a single click where the tray reports no double-clicks) and
// opens the tray menu on a right click.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <optional>

class QMenu;
class QTimer;
class QWidget;

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    TTrayIcon(QWidget* window, QMenu* popupMenu, QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Adds the icon to the notification area, or takes it away.
    void setVisible(bool visible);
    bool isVisible() const { return visible_; }

    // Which of the two pictures the icon shows.
    void setIconIndex(int index);
    int iconIndex() const { return iconIndex_; }

    // Hides the window into the notification area; where the desktop has no
    // notification area the window is minimised to the taskbar instead, so
    // that it can always be reached. A window the desktop is just giving the
    // focus goes a few milliseconds later, once Qt has taken that in.
    void Minimize();
    // Shows the window again and makes it the active window.
    void Restore();

    // True while Minimize() has the window hidden or minimised.
    bool isMinimized() const { return minimized_; }

    static bool trayAvailable();
    // The two pictures of the icon: a card, and the same card being read.
    static QIcon image(int index);

signals:
    void minimized();
    void restored();

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    bool activationUnderWay() const;
    void activationTick();
    void minimizeNow();
    static bool statusNotifierTray();

    QWidget* window_;
    QSystemTrayIcon* icon_;
    std::optional<bool> statusNotifierTray_;
    QElapsedTimer lastMiddleClick_;
    QTimer* tmrActivation_;
    QElapsedTimer activationWait_;
    bool visible_ = false;
    bool minimized_ = false;
    int iconIndex_ = 0;
};
