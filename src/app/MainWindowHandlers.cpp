// The main window's handlers of the reader controls: port, line settings,
// reader type and ID, the same-card filter, the pause box, and the keys and
// double clicks of the scroll bars, panels and the info log.
#include "app/MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == sbReaderID || watched == sbSameCard)) {
        // The keys of a scroll bar: Right, Down and Page Down go up the
        // range, Left, Up and Page Up down it.
        QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Right:
        case Qt::Key_Down: action = QAbstractSlider::SliderSingleStepAdd; break;
        case Qt::Key_Left:
        case Qt::Key_Up: action = QAbstractSlider::SliderSingleStepSub; break;
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
    // The entry shows what the system says about the port; its name is what counts.
    settings_.CommName = cmbPort->currentData().toString();
    settingsEdited();
}

void TfrmMain::cmbBaudrateChange()
{
    settings_.CommBaudRate = cmbBaudrate->currentText();
    settingsEdited();
}

void TfrmMain::cmbReaderTypeChange()
{
    settings_.ReaderType = cmbReaderType->currentIndex();
    settingsEdited();
}

void TfrmMain::sbReaderIDChange()
{
    pnReaderID->setText(QString::asprintf("%02d", sbReaderID->value()));
    settings_.ReaderID = sbReaderID->value();
    settingsEdited();
}

// ---------------------------------------------------------------- same-card filter

void TfrmMain::sbSameCardChange()
{
    pnSameCard->setText(QString::number(sbSameCard->value()));
    settings_.SameCardTime = sbSameCard->value();
    settingsEdited();
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

// ---------------------------------------------------------------- polling

void TfrmMain::chkPauseMouseUp()
{
    if (chkPause->isChecked()) {
        setPaused(true);
        sbMessage->showMessage(QString());
    } else {
        setPaused(false);
    }
}
