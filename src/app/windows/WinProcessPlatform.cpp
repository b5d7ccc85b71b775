#include "app/ProcessPlatform.h"

#include <windows.h>

#include <shellapi.h>

QStringList commandLineArguments(int, char*[])
{
    // argv is in the ANSI code page here, which cannot hold every file
    // name; the wide command line can, as Qt itself reads it.
    QStringList arguments;
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments << QString::fromWCharArray(wide[i]);
        ::LocalFree(wide);
    }
    return arguments;
}

QString settingsFileAsGiven(int, char*[], const QString& parsed)
{
    return parsed;  // read from the wide command line: already as given
}

bool chooseHeadless()
{
    return false;  // Windows has no display variables: its desktop is always there
}

void ignoreBrokenPipe() { }  // no SIGPIPE: a failed write only fails

void catchStopSignals(TfrmMain&) { }  // ended by the session (aboutToQuit) or Exit
