// The widgets of the main window, their design-time defaults, and the
// captions and font of each language.
#include "app/MainWindow.h"

#include "app/tray/TrayIcon.h"
#include "link/PortList.h"
#include "link/ReaderTypes.h"
#include "reading/CardFormat.h"
#include "settings/LanguageTable.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QColor kSkyBlue(166, 202, 240);

template <typename T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel* panel(const char* name, const QString& text, int width)
{
    auto* label = named(new QLabel(text), name);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setFixedWidth(width);
    return label;
}

QScrollBar* scrollBar(const char* name, int maximum, int largeChange, int position)
{
    auto* bar = named(new QScrollBar(Qt::Horizontal), name);
    bar->setRange(0, maximum);
    bar->setPageStep(largeChange);
    bar->setSingleStep(1);
    bar->setValue(position);
    // Reached with Tab; the arrow keys move by one, Page Up and Page Down
    // by the large step. A click does not take the focus from where it was.
    bar->setFocusPolicy(Qt::TabFocus);
    return bar;
}

QComboBox* pickList(const char* name, const QStringList& items, int index)
{
    auto* list = named(new QComboBox, name);
    list->addItems(items);
    list->setCurrentIndex(index);
    return list;
}

// Keyboard users reach these through their accelerators or the mouse only.
void outsideTabOrder(std::initializer_list<QWidget*> widgets)
{
    for (QWidget* widget : widgets)
        widget->setFocusPolicy(Qt::ClickFocus);
}

}  // namespace
// ---------------------------------------------------------------- widgets

void TfrmMain::buildWidgets()
{
    // Fixed size; a title bar without close, minimise or maximise buttons:
    // Exit is the way out, Minimized the way to the tray.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(424, 593);
    setAutoFillBackground(true);

    pcMain = named(new QTabWidget, "pcMain");
    pcMain->addTab(buildReaderPage(), QStringLiteral("Reader information"));
    pcMain->addTab(buildParameterPage(), QStringLiteral("Parameter"));
    pcMain->setCurrentWidget(tsParameter);

    btnMin = named(new QPushButton(QStringLiteral("Minimized")), "btnMin");
    btnExit = named(new QPushButton(QStringLiteral("Exit")), "btnExit");
    for (QPushButton* button : {btnMin, btnExit})
        button->setMinimumHeight(33);
    connect(btnMin, &QPushButton::clicked, this, &TfrmMain::btnMinClick);
    connect(btnExit, &QPushButton::clicked, this, &TfrmMain::btnExitClick);

    sbMessage = named(new QStatusBar, "sbMessage");
    sbMessage->setSizeGripEnabled(false);
    sbMessage->setFixedHeight(25);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnMin);
    buttons->addWidget(btnExit);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 0);
    root->setSpacing(6);
    root->addWidget(pcMain, 1);
    root->addLayout(buttons);
    root->addWidget(sbMessage);

    outsideTabOrder({chkAutoRun, chkAddEnter, chkAddDown, chkSaveToFile, chkTimeField, cmbPort, cmbBaudrate,
                     cmbReaderType, cmbLanguage, edExportFile, btnExportFile, btnMin, btnExit});
}

QWidget* TfrmMain::buildReaderPage()
{
    tsReader = named(new QWidget, "tsReader");
    moInfo = named(new QPlainTextEdit, "moInfo");
    moInfo->setReadOnly(true);
    // The log runs for days: no undo history of its lines.
    moInfo->setUndoRedoEnabled(false);
    moInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    moInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette palette = moInfo->palette();
    palette.setColor(QPalette::Base, kSkyBlue);
    palette.setColor(QPalette::Text, Qt::black);
    moInfo->setPalette(palette);
    moInfo->viewport()->installEventFilter(this);

    chkPause = named(new QCheckBox(QStringLiteral("Pause Polling")), "chkPause");
    connect(chkPause, &QCheckBox::clicked, this, &TfrmMain::chkPauseMouseUp);

    auto* layout = new QVBoxLayout(tsReader);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(moInfo, 1);
    layout->addWidget(chkPause);
    return tsReader;
}

QWidget* TfrmMain::buildParameterPage()
{
    tsParameter = named(new QWidget, "tsParameter");
    auto* grid = new QGridLayout(tsParameter);
    grid->setContentsMargins(8, 10, 8, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(7);
    grid->setColumnStretch(1, 1);
    int row = 0;
    // The controls start at the record's defaults.
    const Settings defaults = defaultSettings();
    auto addRow = [&](QLabel* label, QWidget* field) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row++, 1);
    };
    auto rowOf = [](std::initializer_list<QWidget*> widgets, int stretchAt = -1) {
        auto* box = new QWidget;
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        int i = 0;
        for (QWidget* widget : widgets)
            layout->addWidget(widget, i++ == stretchAt ? 1 : 0);
        return box;
    };

    lblPort = named(new QLabel(QStringLiteral("Port:")), "lblPort");
    cmbPort = pickList("cmbPort", {defaults.CommName}, 0);
    connect(cmbPort, qOverload<int>(&QComboBox::activated), this, &TfrmMain::cmbPortChange);
    addRow(lblPort, cmbPort);

    lblBaudrate = named(new QLabel(QStringLiteral("Baudrate:")), "lblBaudrate");
    cmbBaudrate
        = pickList("cmbBaudrate", standardLineSettings(), standardLineSettings().indexOf(defaults.CommBaudRate));
    connect(cmbBaudrate, qOverload<int>(&QComboBox::activated), this, &TfrmMain::cmbBaudrateChange);
    addRow(lblBaudrate, cmbBaudrate);

    lblReaderType = named(new QLabel(QStringLiteral("Reader Type:")), "lblReaderType");
    QStringList types;
    for (int i = 0; i < kReaderTypeCount; ++i)
        types << QLatin1String(readerType(i)->name);
    cmbReaderType = pickList("cmbReaderType", types, defaults.ReaderType);
    // Any change of the type, also by detection or loading, is the type in use.
    connect(cmbReaderType, &QComboBox::currentIndexChanged, this, &TfrmMain::cmbReaderTypeChange);
    addRow(lblReaderType, cmbReaderType);

    lblReaderID = named(new QLabel(QStringLiteral("Reader ID:")), "lblReaderID");
    pnReaderID = panel("pnReaderID", QString::fromLatin1(defaults.readerIdText()), 41);
    sbReaderID = scrollBar("sbReaderID", Settings::kMaxReaderID, 10, defaults.ReaderID);
    sbReaderID->installEventFilter(this);
    connect(sbReaderID, &QScrollBar::valueChanged, this, &TfrmMain::sbReaderIDChange);
    addRow(lblReaderID, rowOf({pnReaderID, sbReaderID}, 1));

    btnDetect = named(new QPushButton(QStringLiteral("Auto Detect Reader")), "btnDetect");
    connect(btnDetect, &QPushButton::clicked, this, &TfrmMain::btnDetectClick);
    grid->addWidget(btnDetect, row++, 0, 1, 2);

    lblSameCard = named(new QLabel(QStringLiteral("Same card filter:")), "lblSameCard");
    pnSameCard = panel("pnSameCard", QString::number(defaults.SameCardTime), 56);
    pnSameCard->setFocusPolicy(Qt::ClickFocus);
    pnSameCard->installEventFilter(this);
    pnSameCard->setToolTip(QStringLiteral("0 = off. Double-click to switch the filter off."));
    lblSec = named(new QLabel(QStringLiteral("Sec.")), "lblSec");
    // At 1 as designed: FormCreate moves it to 0, through its handler.
    sbSameCard = scrollBar("sbSameCard", Settings::kMaxSameCardTime, 100, 1);
    sbSameCard->installEventFilter(this);
    connect(sbSameCard, &QScrollBar::valueChanged, this, &TfrmMain::sbSameCardChange);
    addRow(lblSameCard, rowOf({pnSameCard, lblSec, sbSameCard}, 2));

    gbFormat = named(new QGroupBox(QStringLiteral("Send format")), "gbFormat");
    static const char* const radioNames[] = {"rbF8H", "rbF6H", "rbF10D", "rbF8D", "rbF16H", "rbFD"};
    auto* formats = new QButtonGroup(this);
    auto* radios = new QHBoxLayout;
    for (int i = 0; i < kSendFormatCount; ++i) {
        rbFormat[i] = named(new QRadioButton(QLatin1String(sendFormatCaption(i))), radioNames[i]);
        formats->addButton(rbFormat[i], i);
        radios->addWidget(rbFormat[i]);
        connect(rbFormat[i], &QRadioButton::clicked, this, [this, i] { setSendFormat(i); });
    }
    rbFormat[defaults.SendFormat]->setChecked(true);
    chkReverse = named(new QCheckBox(QStringLiteral("Card ID Reverse")), "chkReverse");
    auto* formatLayout = new QVBoxLayout(gbFormat);
    formatLayout->addLayout(radios);
    formatLayout->addWidget(chkReverse);
    grid->addWidget(gbFormat, row++, 0, 1, 2);

    GroupBox1 = named(new QGroupBox, "GroupBox1");
    chkSaveToFile = named(new QCheckBox(QStringLiteral("Save to File")), "chkSaveToFile");
    lblExportFile = named(new QLabel(QStringLiteral("Export File:")), "lblExportFile");
    edExportFile = named(new QLineEdit, "edExportFile");
    // Read-only: the path comes from the settings or the chooser and is
    // never shortened (a length limit would cut it in setText as well).
    edExportFile->setReadOnly(true);
    edExportFile->setAttribute(Qt::WA_InputMethodEnabled, false);
    btnExportFile = named(new QToolButton, "btnExportFile");
    btnExportFile->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    btnExportFile->setToolTip(QStringLiteral("Choose the card log file"));
    connect(btnExportFile, &QToolButton::clicked, this, &TfrmMain::btnExportFileClick);
    chkTimeField = named(new QCheckBox(QStringLiteral("DateTime Field")), "chkTimeField");
    auto* fileLayout = new QGridLayout(GroupBox1);
    fileLayout->addWidget(chkSaveToFile, 0, 0, 1, 2);
    fileLayout->addWidget(chkTimeField, 0, 2);
    fileLayout->addWidget(lblExportFile, 1, 0);
    fileLayout->addWidget(rowOf({edExportFile, btnExportFile}, 0), 1, 1, 1, 2);
    fileLayout->setColumnStretch(1, 1);
    grid->addWidget(GroupBox1, row++, 0, 1, 2);

    chkAddDown = named(new QCheckBox(QStringLiteral("Add Comma(,)")), "chkAddDown");
    chkAddEnter = named(new QCheckBox(QStringLiteral("Add Enter")), "chkAddEnter");
    grid->addWidget(chkAddDown, row, 0);
    grid->addWidget(chkAddEnter, row++, 1);

    chkAutoRun = named(new QCheckBox(QStringLiteral("Start run when I start Windows")), "chkAutoRun");
    grid->addWidget(chkAutoRun, row++, 0, 1, 2);

    grid->setRowStretch(row++, 1);
    lblLanguage = named(new QLabel(QStringLiteral("Language:")), "lblLanguage");
    cmbLanguage = pickList("cmbLanguage", {languageName(0), languageName(1), languageName(2)}, defaults.Language);
    connect(cmbLanguage, qOverload<int>(&QComboBox::activated), this, &TfrmMain::cmbLanguageChange);
    // A row of its own: the language names are long in every language.
    lblLanguage->setBuddy(cmbLanguage);
    grid->addWidget(rowOf({lblLanguage, cmbLanguage}, 1), row++, 0, 1, 2);

    // Each box edits its value of the settings record.
    const std::pair<QCheckBox*, bool Settings::*> boxes[]
        = {{chkReverse, &Settings::CardIDReverse}, {chkSaveToFile, &Settings::SaveToFile},
           {chkTimeField, &Settings::TimeField},   {chkAddDown, &Settings::AddDown},
           {chkAddEnter, &Settings::AddReturn},    {chkAutoRun, &Settings::AutoRun}};
    for (const auto& [box, value] : boxes) {
        box->setChecked(defaults.*value);
        connect(box, &QCheckBox::toggled, this, [this, value = value](bool checked) {
            settings_.*value = checked;
            settingsEdited();
        });
    }
    return tsParameter;
}

void TfrmMain::buildNonVisual()
{
    mnuTray = named(new QMenu(this), "mnuTray");
    mnuExit = mnuTray->addAction(QStringLiteral("Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    mnuRestore = mnuTray->addAction(QStringLiteral("Restore"));
    mnuRestore->setObjectName(QStringLiteral("mnuRestore"));
    mnuRestore->setEnabled(false);
    connect(mnuExit, &QAction::triggered, this, &TfrmMain::mnuExitClick);
    connect(mnuRestore, &QAction::triggered, this, &TfrmMain::mnuRestoreClick);

    triMain = new TTrayIcon(this, mnuTray, this);
    triMain->setObjectName(QStringLiteral("triMain"));
    connect(triMain, &TTrayIcon::minimized, this, &TfrmMain::triMainMinimize);
    connect(triMain, &TTrayIcon::restored, this, &TfrmMain::triMainRestore);

    tmrStart = named(new QTimer(this), "tmrStart");
    tmrStart->setInterval(1);
    connect(tmrStart, &QTimer::timeout, this, &TfrmMain::tmrStartTimer);
}

// ---------------------------------------------------------------- language

void TfrmMain::ApplyLanguage()
{
    const int language = settings_.Language;
    const LanguageFont& spec = languageFont(language);
    QFont font(QString::fromUtf8(spec.name));
    font.setPointSize(spec.pointSize);
    if (spec.style <= 15) {
        font.setBold(spec.style & 1);
        font.setItalic(spec.style & 2);
        font.setUnderline(spec.style & 4);
        font.setStrikeOut(spec.style & 8);
    }
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(spec.colour));
    setPalette(palette);

    auto t = [language](Text key) { return LanguageTable(key, language); };
    auto labelled = [&t](Text key) { return t(key) + QStringLiteral(" :"); };
    setWindowTitle(t(Text::Title));
    pcMain->setTabText(0, t(Text::ReaderPage));
    pcMain->setTabText(1, t(Text::ParameterPage));
    chkPause->setText(t(Text::Pause));
    btnExit->setText(t(Text::Exit));
    btnMin->setText(t(Text::Minimize));
    lblPort->setText(labelled(Text::Port));
    lblBaudrate->setText(labelled(Text::Baudrate));
    lblReaderType->setText(labelled(Text::ReaderTypeLabel));
    lblReaderID->setText(labelled(Text::ReaderIdLabel));
    btnDetect->setText(t(Text::AutoDetect));
    chkAddEnter->setText(t(Text::AddEnter));
    chkAddDown->setText(t(Text::AddComma));
    chkAutoRun->setText(t(Text::AutoRun));
    lblLanguage->setText(labelled(Text::Language));
    gbFormat->setTitle(t(Text::SendFormat));
    chkReverse->setText(t(Text::CardIdReverse));
    lblSameCard->setText(labelled(Text::SameCardFilter));
    lblSec->setText(t(Text::Seconds));
    chkSaveToFile->setText(t(Text::SaveToFile));
    lblExportFile->setText(labelled(Text::FilePath));
    chkTimeField->setText(t(Text::TimeField));
    mnuExit->setText(t(Text::Exit));
    mnuRestore->setText(t(Text::Restore));
}

void TfrmMain::cmbLanguageChange()
{
    settings_.Language = cmbLanguage->currentIndex();
    settingsEdited();
    ApplyLanguage();
}
