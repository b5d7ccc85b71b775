#include "app/MainWindow.h"

#include "app/PlatformKeyboard.h"
#include "app/tray/TrayIcon.h"
#include "link/Detector.h"
#include "settings/LanguageTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int MaxInfoLines = 26;

// Ends `loop` once `window` is exposed.
class ExposeWatch : public QObject {
public:
    ExposeWatch(QWindow* window, QEventLoop& loop) : window_(window), loop_(loop) { window->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && window_->isExposed())
            loop_.quit();
        return false;
    }

private:
    QWindow* window_;
    QEventLoop& loop_;
};

// A port name as the log shows it: control characters written as \xNN, as
// the bytes a reader sends are.
QString shownPortName(const QString& name)
{
    QString shown;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            shown += QString::asprintf("\\x%02X", c.unicode());
        else
            shown += c;
    }
    return shown;
}

}  // namespace

TfrmMain::TfrmMain(const AppOptions& options, std::unique_ptr<KeyboardOutput> keyboard, QWidget* parent)
    : QWidget(parent), options_(options), cycle_(link_, *this), keyboard_(std::move(keyboard))
{
    if (!keyboard_) {
        PlatformKeyboard chosen = makePlatformKeyboard(options_.keyboard);
        keyboard_ = std::move(chosen.output);
        keyboardName_ = chosen.name.isEmpty() ? QStringLiteral("-") : chosen.name;
    }
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tallyport"));
    setWindowIcon(TTrayIcon::image(0));
    buildWidgets();
    buildNonVisual();
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    FormClose();
}

// ---------------------------------------------------------------- life cycle

void TfrmMain::FormCreate()
{
    // The filter time starts at 0 without taking the focus (see sbSameCardChange).
    pnSameCardTag = 0;
    sbSameCard->setValue(0);
    pnSameCardTag = 0;
    LoadSettings();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    ApplyLanguage();
    moInfo->clear();
    tmrStart->start();
}

void TfrmMain::tmrStartTimer()
{
    tmrStart->stop();
    // Paint the window before the possibly long steps below. The window
    // manager may take a moment to show it: wait for that, up to a second.
    QWindow* window = windowHandle();
    if (isVisible() && window && !window->isExposed()) {
        QEventLoop loop;
        ExposeWatch watch(window, loop);
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QApplication::processEvents();
    startKeyboard();
    if (!link_.OpenPort(PortName, LineSettings))
        btnDetectClick();
    tmrPolling->start();
    tmrSameCard->start();
}

void TfrmMain::btnExitClick()
{
    SaveSettings();
    cycle_.CloseRequested = true;
}

void TfrmMain::mnuExitClick()
{
    triMain->Restore();
    btnExitClick();
}

void TfrmMain::btnMinClick()
{
    SaveSettings();
    cycle_.MinimizeRequested = true;
}

void TfrmMain::closeMainWindow()
{
    closeAllowed_ = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // Only Exit (through the polling tick) or the end of the session close
    // the window; a close request from the window manager is ignored.
    if (!closeAllowed_ && !sessionEnded_) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    QApplication::quit();
}

void TfrmMain::FormClose()
{
    cycle_.cardLog().close();
    link_.ClosePort();
}

void TfrmMain::endSession()
{
    if (sessionEnded_)
        return;
    sessionEnded_ = true;
    tmrPolling->stop();
    FormClose();
    triMain->setVisible(false);
    close();
    QApplication::quit();
}

void TfrmMain::showFromSecondStart()
{
    if (options_.verbose)
        std::fputs("tallyport: a second start asked for the window\n", stderr);
    if (isMinimized() || !isVisible()) {
        // Back from the tray or the taskbar; the tray icon stays as it is.
        showNormal();
    }
    raise();
    activateWindow();
}

// ---------------------------------------------------------------- info log

void TfrmMain::AddInfoLine(const QString& text)
{
    QTextDocument* document = moInfo->document();
    if (document->blockCount() >= MaxInfoLines && !moInfo->toPlainText().isEmpty()) {
        QTextCursor cursor(document->firstBlock());
        cursor.select(QTextCursor::BlockUnderCursor);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    moInfo->appendPlainText(text);
    sbMessage->showMessage(text);
    if (options_.verbose) {
        const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toUtf8()
            + text.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
    }
}

void TfrmMain::moInfoDblClick()
{
    moInfo->clear();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == sbReaderID || watched == sbSameCard)) {
        // The keys of a scroll bar: Right, Down and Page Down go up the
        // range, Left, Up and Page Up down it.
        QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Right: case Qt::Key_Down: action = QAbstractSlider::SliderSingleStepAdd; break;
        case Qt::Key_Left: case Qt::Key_Up: action = QAbstractSlider::SliderSingleStepSub; break;
        case Qt::Key_PageDown: action = QAbstractSlider::SliderPageStepAdd; break;
        case Qt::Key_PageUp: action = QAbstractSlider::SliderPageStepSub; break;
        default: break;
        }
        if (action != QAbstractSlider::SliderNoAction) {
            static_cast<QScrollBar*>(watched)->triggerAction(action);
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == moInfo->viewport()) {
            moInfoDblClick();
            return true;
        }
        if (watched == pnSameCard) {
            pnSameCardDblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- link settings

void TfrmMain::cmbPortChange()
{
    PortName = cmbPort->currentText();
    cycle_.LinkSettingsChanged = true;
}

void TfrmMain::cmbBaudrateChange()
{
    LineSettings = cmbBaudrate->currentText();
    cycle_.LinkSettingsChanged = true;
}

void TfrmMain::cmbReaderTypeChange()
{
    cycle_.LinkSettingsChanged = true;
}

void TfrmMain::sbReaderIDChange()
{
    pnReaderID->setText(QString::asprintf("%02d", sbReaderID->value()));
    cycle_.LinkSettingsChanged = true;
}

// ---------------------------------------------------------------- same-card filter

void TfrmMain::sbSameCardChange()
{
    pnSameCard->setText(QString::number(sbSameCard->value()));
    // A change by mouse moves the focus to the panel; one made with the
    // keys leaves it on the bar, so that the next key moves it further.
    if (pnSameCardTag == 1 && !sbSameCard->hasFocus())
        pnSameCard->setFocus();
    pnSameCardTag = 1;
}

void TfrmMain::pnSameCardDblClick()
{
    sbSameCard->setValue(0);
}

void TfrmMain::tmrSameCardTimer()
{
    cycle_.tmrSameCardTimer();
}

// ---------------------------------------------------------------- polling

void TfrmMain::tmrPollingTimer()
{
    cycle_.tmrPollingTimer();
}

void TfrmMain::chkPauseMouseUp()
{
    if (chkPause->isChecked()) {
        cycle_.PollingPaused = true;
        sbMessage->showMessage(QString());
    } else {
        cycle_.PollingPaused = false;
    }
}

PollInputs TfrmMain::pollInputs()
{
    PollInputs in;
    in.portName = PortName;
    in.lineSettings = LineSettings;
    in.readerType = cmbReaderType->currentIndex();
    in.readerId = pnReaderID->text().toLatin1();
    in.reverse = chkReverse->isChecked();
    in.sendFormat = SendFormatIndex;
    in.sameCardTime = sbSameCard->value();
    in.language = LanguageIndex;
    in.cardLog.saveToFile = chkSaveToFile->isChecked();
    in.cardLog.timeField = chkTimeField->isChecked();
    in.cardLog.path = edExportFile->text();
    return in;
}

QString TfrmMain::statusText()
{
    return sbMessage->currentMessage();
}

void TfrmMain::setStatusText(const QString& text)
{
    sbMessage->showMessage(text);
}

int TfrmMain::trayImage()
{
    return triMain->iconIndex();
}

void TfrmMain::setTrayImage(int index)
{
    triMain->setIconIndex(index);
}

void TfrmMain::setPollingTimer(bool enabled, int intervalMs)
{
    if (!enabled) {
        tmrPolling->stop();
        return;
    }
    tmrPolling->setInterval(intervalMs);
    tmrPolling->start();
}

void TfrmMain::minimizeToTray()
{
    triMain->Minimize();
}

// ---------------------------------------------------------------- tray

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

// ---------------------------------------------------------------- keystrokes

void TfrmMain::appEventsIdle()
{
    const KeyboardOutput::WindowId window = keyboard_->foregroundWindow();
    if (window != 0 && !keyboard_->isOwnWindow(window))
        TargetWindow = window;
}

// Says which output types the cards, once, and lets it ask the desktop for
// permission where it has to.
void TfrmMain::startKeyboard()
{
    if (keyboardName_.isEmpty())
        return;  // an output handed in by a test
    AddInfoLine(keyboardName_ == QLatin1String("-")
                    ? LanguageTable(Text::KeystrokesNone, LanguageIndex)
                    : LanguageTable(Text::KeystrokesVia, LanguageIndex) + keyboardName_);
    QPointer<TfrmMain> self(this);
    keyboard_->start(portalRestoreToken_.toStdString(),
                     [self](KeyboardOutput::Notice notice, const std::string& token) {
                         if (!self)
                             return;
                         switch (notice) {
                         case KeyboardOutput::Notice::RestoreToken:
                             self->portalRestoreToken_ = QString::fromStdString(token);
                             self->storePortalRestoreToken();
                             break;
                         case KeyboardOutput::Notice::Refused:
                             self->AddInfoLine(LanguageTable(Text::KeystrokesRefused, self->LanguageIndex));
                             break;
                         case KeyboardOutput::Notice::Unavailable:
                             self->AddInfoLine(LanguageTable(Text::KeystrokesNoPortal, self->LanguageIndex));
                             break;
                         }
                     });
}

void TfrmMain::TypeText(const QByteArray& text)
{
    const PendingCard card{text, chkAddDown->isChecked(), chkAddEnter->isChecked()};
    // Where keys go to the focused window, our own must give the focus up
    // first: minimise, then type once it has gone elsewhere.
    if (keyboard_->followsFocus() &&
        (QGuiApplication::applicationState() == Qt::ApplicationActive || !pendingCards_.isEmpty())) {
        pendingCards_.append(card);
        if (!tmrFocusWait->isActive()) {
            minimizeToTray();
            focusWaitClock_.start();
            tmrFocusWait->start();
        }
        return;
    }
    typeCard(card);
}

void TfrmMain::focusWaitTick()
{
    if (QGuiApplication::applicationState() != Qt::ApplicationActive) {
        tmrFocusWait->stop();
        const QList<PendingCard> cards = std::move(pendingCards_);
        pendingCards_.clear();
        for (const PendingCard& card : cards)
            typeCard(card);
    } else if (focusWaitClock_.elapsed() >= 500) {
        tmrFocusWait->stop();
        pendingCards_.clear();
        AddInfoLine(LanguageTable(Text::KeystrokesFocusKept, LanguageIndex));
    }
}

void TfrmMain::typeCard(const PendingCard& card)
{
    keyboard_->typeText(TargetWindow, card.text.toStdString(), card.comma, card.enter,
                        [](const std::string& utf8) {
                            QApplication::clipboard()->setText(QString::fromStdString(utf8));
                        });
}

// ---------------------------------------------------------------- detection

void TfrmMain::btnDetectClick()
{
    cycle_.PollingPaused = true;
    cycle_.LinkSettingsChanged = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
    ReaderLink::pause(100);

    const QString startPort = PortName;
    const QString startLine = LineSettings;
    QStringList ports;
    for (int i = 0; i < cmbPort->count(); ++i)
        ports << cmbPort->itemText(i);
    const auto found = detectReader(link_, ports, [this](const QString& port) {
        AddInfoLine(LanguageTable(Text::Detecting, LanguageIndex) + QStringLiteral("  ") + shownPortName(port));
        // Show the line now; no other event runs inside the probe.
        repaint();
    });
    if (found) {
        PortName = found->portName;
        LineSettings = found->lineSettings;
        cmbPort->setCurrentIndex(cmbPort->findText(PortName));
        cmbBaudrate->setCurrentIndex(cmbBaudrate->findText(LineSettings));
        cmbReaderType->setCurrentIndex(found->readerType);
        sbReaderID->setValue(found->readerId);
        cycle_.LinkSettingsChanged = true;
        AddInfoLine(LanguageTable(Text::DetectOk, LanguageIndex) + found->identity);
    } else {
        LineSettings = startLine;
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const QString& port) {
            return port.compare(startPort, Qt::CaseInsensitive) == 0;
        });
        if (!listed && !ports.isEmpty()) {
            cmbPort->setCurrentIndex(0);
            PortName = ports.first();
        } else {
            PortName = startPort;
        }
    }
    // Polling follows the pause box, so a paused program stays paused.
    cycle_.PollingPaused = chkPause->isChecked();
    setEnabled(true);
    QApplication::restoreOverrideCursor();
}

