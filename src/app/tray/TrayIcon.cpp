#include "app/tray/TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#ifndef Q_OS_WIN
#include <QDBusInterface>
#endif

namespace {

// How long a minimise waits for Qt to catch up with the desktop (see
// activationUnderWay); it takes milliseconds.
constexpr int kActivationWaitMs = 1000;

}  // namespace

TTrayIcon::TTrayIcon(QWidget* window, QMenu* popupMenu, QObject* parent)
    : QObject(parent), window_(window), icon_(new QSystemTrayIcon(this))
{
    icon_->setIcon(image(0));
    icon_->setContextMenu(popupMenu);
    connect(icon_, &QSystemTrayIcon::activated, this, &TTrayIcon::activated);
    tmrActivation_ = new QTimer(this);
    tmrActivation_->setInterval(5);
    connect(tmrActivation_, &QTimer::timeout, this, &TTrayIcon::activationTick);
}

// Qt shows the icon through a StatusNotifierItem host when the session bus
// has one, and in an XEmbed tray otherwise; it makes this choice the same way
// (asked only once there is a click, so that no bus is needed before).
bool TTrayIcon::statusNotifierTray()
{
#ifdef Q_OS_WIN
    return false;  // the Windows notification area reports double-clicks
#else
    QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
                           QStringLiteral("org.kde.StatusNotifierWatcher"));
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
#endif
}

void TTrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        // An XEmbed tray: a left double-click.
        Restore();
        break;
    case QSystemTrayIcon::Trigger:
        // A StatusNotifierItem host reports a click as one activation and
        // never a double-click; in an XEmbed tray this is the first click of
        // a double-click, or a single click that does nothing.
        if (!statusNotifierTray_)
            statusNotifierTray_ = statusNotifierTray();
        if (*statusNotifierTray_)
            Restore();
        break;
    case QSystemTrayIcon::MiddleClick:
        // Each middle click arrives on its own: two in quick succession
        // are the double-click that restores.
        if (lastMiddleClick_.isValid() && lastMiddleClick_.elapsed() <= QApplication::doubleClickInterval()) {
            lastMiddleClick_.invalidate();
            Restore();
        } else {
            lastMiddleClick_.start();
        }
        break;
    default: break;
    }
}

TTrayIcon::~TTrayIcon()
{
    icon_->hide();
}

bool TTrayIcon::trayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

namespace {

QIcon drawImage(int index)
{
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        // The card: a rounded rectangle with a chip and a stripe.
        const QColor body = index == 0 ? QColor(52, 101, 164) : QColor(46, 160, 67);
        painter.setPen(QPen(body.darker(140), 0.8));
        painter.setBrush(body);
        painter.drawRoundedRect(QRectF(1.5, 4.0, 13.0, 9.0), 1.6, 1.6);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(240, 200, 80));
        painter.drawRoundedRect(QRectF(3.2, 6.4, 3.4, 2.8), 0.6, 0.6);
        painter.setBrush(QColor(255, 255, 255, 200));
        painter.drawRect(QRectF(3.2, 10.6, 9.2, 1.0));
        if (index != 0) {
            // Being read: waves above the card.
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(QColor(46, 160, 67), 1.2, Qt::SolidLine, Qt::RoundCap));
            painter.drawArc(QRectF(8.5, 0.4, 6.0, 6.0), 20 * 16, 70 * 16);
            painter.drawArc(QRectF(10.0, 1.9, 3.0, 3.0), 20 * 16, 70 * 16);
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon TTrayIcon::image(int index)
{
    // Drawn once: the icon changes on every polling tick while connected.
    static const QIcon images[2] = {drawImage(0), drawImage(1)};
    return images[index == 0 ? 0 : 1];
}

void TTrayIcon::setVisible(bool visible)
{
    visible_ = visible;
    if (!trayAvailable())
        return;
    if (visible)
        icon_->show();
    else
        icon_->hide();
}

void TTrayIcon::setIconIndex(int index)
{
    if (index == iconIndex_)
        return;
    iconIndex_ = index;
    icon_->setIcon(image(index));
}

// Qt on Wayland (6.4) takes the desktop's word that a window has the focus in
// two steps: its platform layer at once, the rest of Qt a moment later, after
// a round trip to the desktop. A window minimised between the two loses the
// focus at the desktop while Qt has not yet counted it as gained, and Qt then
// counts it as focused for good: every card would wait in vain for our window
// to give up a focus it no longer has. So the window is minimised once Qt has
// caught up (QWidget::isActiveWindow asks the platform layer when the rest
// of Qt does not yet count the window as active).
bool TTrayIcon::activationUnderWay() const
{
    return window_->isVisible() && QApplication::activeWindow() != window_ && window_->isActiveWindow();
}

void TTrayIcon::Minimize()
{
    if (activationUnderWay()) {
        if (!tmrActivation_->isActive())
            activationWait_.start();
        tmrActivation_->start();
        return;
    }
    minimizeNow();
}

void TTrayIcon::activationTick()
{
    if (activationUnderWay() && activationWait_.elapsed() < kActivationWaitMs)
        return;
    minimizeNow();
}

void TTrayIcon::minimizeNow()
{
    tmrActivation_->stop();
    if (trayAvailable()) {
        minimized_ = true;
        window_->hide();
    } else {
        // A minimise asked for before the desktop had the window up can be
        // lost: the window is in front while Qt counts it minimised, and
        // would not ask again. Clearing that state is no restore: it happens
        // while we count the window as not minimised, so the window's own
        // reaction to a state change (a restore by the desktop) stays out.
        if (window_->isMinimized() && window_->isActiveWindow()) {
            minimized_ = false;
            window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
        }
        minimized_ = true;
        window_->showMinimized();
    }
    emit minimized();
}

void TTrayIcon::Restore()
{
    tmrActivation_->stop();
    minimized_ = false;
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
    emit restored();
}
