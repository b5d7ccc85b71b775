// The main window's settings: loading them into the controls, saving them
// from there, the port list, and the choice of the card log file.
#include "app/MainWindow.h"

#include "link/PortList.h"
#include "settings/Autostart.h"
#include "settings/ExportFileName.h"
#include "settings/LanguageTable.h"
#include "settings/SettingsStore.h"
#include "text/Printable.h"

#include <QAbstractItemView>
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
    settings_.SendFormat = index;
    rbFormat[index]->setChecked(true);
    settingsEdited();
}

void TfrmMain::LoadSettings()
{
    const LoadResult result = loadSettings(settingsPath());
    // The record comes validated: the controls take its values as they are.
    const Settings& s = result.values;
    ++editing_;
    settings_ = s;
    chkAddEnter->setChecked(s.AddReturn);
    chkAddDown->setChecked(s.AddDown);
    chkAutoRun->setChecked(s.AutoRun);
    cmbReaderType->setCurrentIndex(s.ReaderType);
    sbReaderID->setValue(s.ReaderID);
    sbReaderIDChange();
    sbSameCard->setValue(s.SameCardTime);
    chkReverse->setChecked(s.CardIDReverse);
    cmbLanguage->setCurrentIndex(s.Language);
    chkSaveToFile->setChecked(s.SaveToFile);
    chkTimeField->setChecked(s.TimeField);
    edExportFile->setText(s.ExportFile);
    createFoldersOf(s.ExportFile);
    fillPortList();
    cmbBaudrate->setCurrentIndex(cmbBaudrate->findText(s.CommBaudRate));
    setSendFormat(s.SendFormat);
    --editing_;
    settingsEdited();

    switch (result.outcome) {
    case LoadResult::Loaded: pcMain->setCurrentWidget(tsReader); break;
    case LoadResult::OtherUsersFile:
        // Said once the info log starts (showEvent clears it); then as on a
        // first run.
        startNote_ = LanguageTable(Text::SettingsNotOurs, settings_.Language).arg(shownName(settingsPath()));
        [[fallthrough]];
    case LoadResult::NoFile:
        // First run: the parameters first, and no reader traffic until the
        // user has looked at them.
        pcMain->setCurrentWidget(tsParameter);
        setPaused(true);
        break;
    case LoadResult::StoppedAtWrongType: break;
    }
}

// The portal's permission is written at once, beside the values as the file
// holds them (the controls may hold changes nobody asked to save): a program
// that ends with the session, without Exit, must not ask again next time.
// Before the first save there is no file, and the first run stays a first run;
// nor do the machine's defaults become the user's own before a save.
void TfrmMain::storePortalRestoreToken()
{
    LoadResult stored = loadSettings(settingsPath());
    if (stored.outcome != LoadResult::Loaded || stored.machineDefaults)
        return;
    stored.values.PortalRestoreToken = settings_.PortalRestoreToken;
    saveSettings(settingsPath(), stored.values);
}

void TfrmMain::SaveSettings()
{
    const SaveResult saved = saveSettings(settingsPath(), settings_);
    if (!saved)
        AddInfoLine(LanguageTable(saved.outcome == SaveResult::NotReplaced ? Text::SettingsNotReplaced
                                                                           : Text::SettingsSaveError,
                                  settings_.Language)
                    + QStringLiteral(" : ") + shownName(settingsPath()));
    // Saving fills in a blank card log path.
    edExportFile->setText(settings_.ExportFile);
    if (!setAutostart(settings_.AutoRun, QApplication::applicationFilePath(), options_.settingsFile))
        AddInfoLine(LanguageTable(Text::AutostartError, settings_.Language).arg(shownName(autostartEntryPath())));
    // Unticked: an earlier installation's entry for all users must go too.
    if (!settings_.AutoRun) {
        if (const QString removal = autostartLeftForAllUsers(); !removal.isEmpty())
            AddInfoLine(LanguageTable(Text::AutostartLeftForAllUsers, settings_.Language).arg(removal));
    }
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
    settings_.ExportFile = chosen;
    settingsEdited();
}

void TfrmMain::fillPortList()
{
    const QList<PortEntry> entries
        = options_.systemPorts ? systemPortEntries(options_.extraPorts) : portEntries({}, options_.extraPorts);
    cmbPort->clear();
    for (const PortEntry& entry : entries) {
        cmbPort->addItem(portLabel(entry), entry.name);
        cmbPort->setItemData(cmbPort->count() - 1, portLabel(entry), Qt::ToolTipRole);
    }
    // A stored device whose adapter is listed under its stable name takes that name.
    settings_.CommName = listedNameOf(entries, settings_.CommName);
    // The stored name stays the port in use even when the list lacks it.
    cmbPort->setCurrentIndex(portListSelection(portNames(entries), settings_.CommName));
    // The list may be longer than the box: the drop-down shows it whole.
    cmbPort->view()->setMinimumWidth(cmbPort->view()->sizeHintForColumn(0) + 24);
}

void TfrmMain::refreshPortList()
{
    const QStringList before = portList();
    QStringList labels;
    for (int i = 0; i < cmbPort->count(); ++i)
        labels << cmbPort->itemText(i);
    const QString chosen = settings_.CommName;
    fillPortList();
    QStringList after;
    for (int i = 0; i < cmbPort->count(); ++i)
        after << cmbPort->itemText(i);
    if (after == labels && portList() == before)
        return;
    if (settings_.CommName != chosen)
        settingsEdited();
    emit portsChanged(portList());
}
