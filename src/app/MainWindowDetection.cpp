// The main window and auto-detection: the walk the button starts, the
// window held while it runs, what it found; and a reader the worker found
// again on another port.
#include "app/MainWindow.h"

#include "reading/ReaderWorker.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>

#include <algorithm>

void TfrmMain::btnDetectClick()
{
    // The walk runs on the worker; the window stays disabled, with the wait
    // cursor, until its result comes back, and shows each probe line meanwhile.
    onDetectionStarted();
    detectPorts_ = portList();
    emit detectRequested(detectPorts_, chkPause->isChecked());
}

void TfrmMain::onDetectionStarted()
{
    if (detecting_)
        return;
    detecting_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
}

void TfrmMain::onDetectionFinished(const DetectionResult& result)
{
    ++editing_;
    if (result.found) {
        const DetectedReader& found = result.reader;
        settings_.CommName = found.portName;
        settings_.CommBaudRate = found.lineSettings;
        settings_.ReaderType = found.readerType;
        cmbPort->setCurrentIndex(cmbPort->findData(found.portName));
        cmbBaudrate->setCurrentIndex(cmbBaudrate->findText(found.lineSettings));
        cmbReaderType->setCurrentIndex(found.readerType);
        sbReaderID->setValue(found.readerId);
    } else {
        const bool listed = std::any_of(detectPorts_.begin(), detectPorts_.end(), [this](const QString& port) {
            return port.compare(settings_.CommName, Qt::CaseInsensitive) == 0;
        });
        if (!listed && !detectPorts_.isEmpty()) {
            cmbPort->setCurrentIndex(0);
            settings_.CommName = detectPorts_.first();
        }
    }
    --editing_;
    settingsEdited();
    if (detecting_) {
        detecting_ = false;
        setEnabled(true);
        QApplication::restoreOverrideCursor();
    }
}

void TfrmMain::onPortFollowed(const QString& port)
{
    settings_.CommName = port;
    const int index = cmbPort->findData(port);
    if (index >= 0)
        cmbPort->setCurrentIndex(index);
    settingsEdited();
}
