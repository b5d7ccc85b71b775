// The main window's settings: loading them into the controls, saving them
// from there, the port list, and the choice of the card log file.
#include "app/MainWindow.h"

#include "link/PortList.h"
#include "link/ReaderTypes.h"
#include "reading/CardFormat.h"
#include "settings/Autostart.h"
#include "settings/ExportFileName.h"
#include "settings/LanguageTable.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>

QString TfrmMain::settingsPath() const
{
    return options_.settingsFile.isEmpty() ? defaultSettingsPath() : options_.settingsFile;
}

void TfrmMain::setSendFormat(int index)
{
    if (index < 0 || index >= SendFormatCount)
        index = 0;
    SendFormatIndex = index;
    rbFormat[index]->setChecked(true);
}

void TfrmMain::LoadSettings()
{
    const LoadResult result = loadSettings(settingsPath());
    const StoredSettings& s = result.values;
    PortName = s.CommName;
    LineSettings = s.CommBaudRate;
    chkAddEnter->setChecked(s.AddReturn);
    chkAddDown->setChecked(s.AddDown);
    chkAutoRun->setChecked(s.AutoRun);
    cmbReaderType->setCurrentIndex(s.ReaderType >= 0 && s.ReaderType < ReaderTypeCount ? s.ReaderType : 0);
    sbReaderID->setValue(s.ReaderID);
    sbReaderIDChange();
    sbSameCard->setValue(s.SameCardTime);
    chkReverse->setChecked(s.CardIDReverse);
    cmbLanguage->setCurrentIndex(validLanguage(s.Language));
    chkSaveToFile->setChecked(s.SaveToFile);
    chkTimeField->setChecked(s.TimeField);
    portalRestoreToken_ = s.PortalRestoreToken;

    switch (result.outcome) {
    case LoadResult::Loaded:
        pcMain->setCurrentWidget(tsReader);
        break;
    case LoadResult::NoFile:
        // First run: the parameters first, and no reader traffic until the
        // user has looked at them.
        pcMain->setCurrentWidget(tsParameter);
        cycle_.PollingPaused = true;
        break;
    case LoadResult::StoppedAtWrongType:
        break;
    }
    // A card log needs a path even when the file stopped short of it.
    edExportFile->setText(s.ExportFile.trimmed().isEmpty() ? defaultExportFile() : s.ExportFile);
    createFoldersOf(edExportFile->text());

    fillPortList();
    cmbBaudrate->setCurrentIndex(cmbBaudrate->findText(LineSettings));
    LanguageIndex = cmbLanguage->currentIndex();
    setSendFormat(s.SendFormat);
    // Loading cleared the link flags through the handlers; the first tick
    // connects all the same.
    cycle_.LinkSettingsChanged = true;
}

// The portal's permission is written at once, beside the values as the file
// holds them (the controls may hold changes nobody asked to save): a program
// that ends with the session, without Exit, must not ask again next time.
// Before the first save there is no file, and the first run stays a first run.
void TfrmMain::storePortalRestoreToken()
{
    LoadResult stored = loadSettings(settingsPath());
    if (stored.outcome != LoadResult::Loaded)
        return;
    stored.values.PortalRestoreToken = portalRestoreToken_;
    saveSettings(settingsPath(), stored.values);
}

void TfrmMain::SaveSettings()
{
    StoredSettings s;
    s.CommName = PortName;
    s.CommBaudRate = LineSettings;
    s.ReaderType = cmbReaderType->currentIndex();
    s.ReaderID = sbReaderID->value();
    s.SameCardTime = sbSameCard->value();
    s.AddReturn = chkAddEnter->isChecked();
    s.AddDown = chkAddDown->isChecked();
    s.CardIDReverse = chkReverse->isChecked();
    s.AutoRun = chkAutoRun->isChecked();
    s.Language = cmbLanguage->currentIndex();
    s.SendFormat = SendFormatIndex;
    s.SaveToFile = chkSaveToFile->isChecked();
    s.TimeField = chkTimeField->isChecked();
    s.ExportFile = edExportFile->text();
    s.PortalRestoreToken = portalRestoreToken_;
    const SaveResult saved = saveSettings(settingsPath(), s);
    if (!saved)
        AddInfoLine(LanguageTable(saved.outcome == SaveResult::NotReplaced ? Text::SettingsNotReplaced
                                                                           : Text::SettingsSaveError,
                                  LanguageIndex)
                    + QStringLiteral(" : ") + settingsPath());
    edExportFile->setText(s.ExportFile);
    setAutostart(s.AutoRun, QApplication::applicationFilePath(), options_.settingsFile);
}

void TfrmMain::btnExportFileClick()
{
    if (!dlgSaveFile) {
        dlgSaveFile = new QFileDialog(this);
        dlgSaveFile->setObjectName(QStringLiteral("dlgSaveFile"));
        dlgSaveFile->setAcceptMode(QFileDialog::AcceptSave);
        // Cards are only ever appended: an existing file is no loss.
        dlgSaveFile->setOption(QFileDialog::DontConfirmOverwrite);
        dlgSaveFile->setDefaultSuffix(QStringLiteral("txt"));
        dlgSaveFile->setNameFilter(QStringLiteral("txt files(*.txt)"));
        // The folder of the default card log: the home folder, or on
        // Windows the Documents folder.
        dlgSaveFile->setDirectory(QFileInfo(defaultExportFile()).absolutePath());
        dlgSaveFile->selectFile(QStringLiteral("Card.txt"));
    }
    if (dlgSaveFile->exec() != QDialog::Accepted || dlgSaveFile->selectedFiles().isEmpty())
        return;
    const QString chosen = exportFileWithExtension(dlgSaveFile->selectedFiles().first());
    edExportFile->setText(chosen);
    createFoldersOf(chosen);
}

void TfrmMain::fillPortList()
{
    const QStringList ports = options_.systemPorts ? buildPortList(options_.extraPorts)
                                                   : buildPortList(QStringList(), options_.extraPorts);
    cmbPort->clear();
    cmbPort->addItems(ports);
    // The stored name stays the port in use even when the list lacks it.
    cmbPort->setCurrentIndex(portListSelection(ports, PortName));
}

