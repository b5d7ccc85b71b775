// The main window and its tray icon: minimising to the tray, restoring from
// it, and following the window manager's minimise and restore.
#include "app/MainWindow.h"

#include "app/tray/TrayIcon.h"

#include <QAction>
#include <QEvent>
#include <QTimer>

void TfrmMain::minimizeToTray()
{
    triMain->setIconIndex(0);
    triMain->Minimize();
}

void TfrmMain::triMainMinimize()
{
    triMain->setVisible(true);
    mnuRestore->setEnabled(true);
}

void TfrmMain::triMainRestore()
{
    triMain->setVisible(false);
    mnuRestore->setEnabled(false);
}

void TfrmMain::mnuRestoreClick()
{
    triMain->Restore();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // The window manager minimised or restored us: go the tray's way.
    if (isMinimized() && !triMain->isMinimized() && TTrayIcon::trayAvailable())
        QTimer::singleShot(0, triMain, &TTrayIcon::Minimize);
    else if (!isMinimized() && isVisible() && triMain->isMinimized())
        triMain->Restore();
}
