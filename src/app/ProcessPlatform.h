// What the process is given and told by its system: the command line, a
// display or none, the signals that end it. ProcessPlatform.cpp is the Unix
// one and windows/WinProcessPlatform.cpp the Windows one; the build picks.
#pragma once

#include <QString>
#include <QStringList>

class TfrmMain;

// The arguments, the program's name first, with every file name intact.
QStringList commandLineArguments(int argc, char* argv[]);

// The --settings file the parser read as `parsed`, as the system gave it:
// a name whose bytes are not UTF-8 stays the file it names.
QString settingsFileAsGiven(int argc, char* argv[], const QString& parsed);

// Without any display the program runs headless: the whole cycle and the
// card log, with no window to see and no keystrokes. True when it does.
bool chooseHeadless();

// A closed standard error (tallyport -v | head) must not end the program; a
// log line that cannot be written is simply lost.
void ignoreBrokenPipe();

// Stop signals end the program the way the end of the desktop session does:
// port and card log closed, nothing else changed.
void catchStopSignals(TfrmMain& window);
