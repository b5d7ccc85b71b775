// Every language-dependent text of the program, in English, Simplified
// Chinese and Traditional Chinese, and the font that goes with each language.
#pragma once

#include <QString>

enum class Text {
    Title,
    ReaderPage,
    ParameterPage,
    Pause,
    Exit,
    Minimize,
    Restore,
    Port,
    Baudrate,
    ReaderTypeLabel,
    ReaderIdLabel,
    AutoDetect,
    AddEnter,
    AddComma,
    AutoRun,
    Language,
    OpenError,
    Connecting,
    ConnectError,
    ConnectOk,
    ReadCard,
    CardId,
    SendFormat,
    CardIdReverse,
    Detecting,
    DetectOk,
    Polling,
    SameCardFilter,
    Seconds,
    SaveToFile,
    FilePath,
    TimeField,
    SaveError,            // not a caption: a card could not be written to the card log
    SettingsSaveError,    // the settings could not be written
    SettingsNotReplaced,  // the settings file is something else, left alone
    AutostartError,       // the start at login could not be set up or removed: %1 the entry
    KeystrokesLost,       // the keystroke output went away after the start
    KeystrokesBack,       // ... and works again
    // Why the port did not open: %1 the port, %2 the device's group.
    PortMissing,
    PortBusy,
    PortNoPermission,
    PortNoAccess,
    PortBusyBy,  // %1 the port, %2 the program holding it, %3 its process id
    // A reader whose port vanished: %1 its port, %2 the port it is found at
    // or another reader's identity, %3 the reader's port.
    LookingForReader,
    ReaderMoved,
    OtherReaderOnPort,
    AutostartLeftForAllUsers,  // %1 the command that removes an earlier installation's entry
    // Info-log lines about the keystroke output.
    KeystrokesVia,
    KeystrokesNone,
    KeystrokesRefused,
    KeystrokesNoPortal,
    KeystrokesFocusKept,
    KeystrokesAskEachStart,  // the desktop keeps no permission
    KeystrokesCardCut,       // %1 a card that was not typed in full
    // Why card %1 was not typed.
    KeystrokesNoTarget,
    KeystrokesTargetGone,
    KeystrokesNoFocus,
    KeystrokesTargetElevated,
    // Input methods: %1 its name; the card in %2 where there is one.
    InputMethodPassed,     // found, and cards get past it
    InputMethodOnlyOff,    // found, and cards get past it only while it is off
    InputMethodUnknown,    // in use, and cards cannot get past it
    InputMethodComposing,  // card %2 waits for the word the user is typing
    InputMethodWordKept,   // ... and was not typed: the word was not finished
    InputMethodStuck,      // card %2 not typed: no switch to direct input
    InputMethodNotBack,    // it could not be put back as it was
    // The card log's file system stopped answering (%1 the file), answers
    // again, and card %1 that it may lack (%2 the file).
    CardLogStalled,
    CardLogAnswers,
    CardMaybeMissing,
    // Another user's file (%1) in a shared folder, not used.
    CardLogNotOurs,
    SettingsNotOurs,
    Count
};

constexpr int kLanguageCount = 3;  // 0 English, 1 Simplified Chinese, 2 Traditional Chinese

// The text of `key` in `language`; a language outside 0..2 gives English.
QString LanguageTable(Text key, int language);

struct LanguageFont {
    const char* name;
    int charset;  // the Windows character-set number; informative on Linux
    int pointSize;
    int style;  // bits: 1 bold, 2 italic, 4 underline, 8 strike-out
    unsigned colour;
};

const LanguageFont& languageFont(int language);

// The three fixed items of cmbLanguage, the same in every language.
QString languageName(int language);

// A language index that the table serves: anything outside 0..2 is English.
int validLanguage(int language);
