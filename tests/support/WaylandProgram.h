// The real tallyport executable as a client of a test's compositor, read
// through its --verbose output.
#pragma once

#include "support/RunningProgram.h"
#include "support/SwaySession.h"

namespace waytest {

// The Wayland app id of the program's window: its desktop file's name.
inline const QString kProgramAppId = QStringLiteral("com.quorix.Tallyport");

class Program : public RunningProgram {
public:
    // As the session's user, unless `ownUser`; `extra` adds to the session's
    // environment.
    Program(SwaySession& sway, const QStringList& arguments, QProcessEnvironment extra = {}, bool ownUser = false)
    {
        extra.insert("QT_QPA_PLATFORM", "wayland");
        sway.prepare(process, QStringList{program()} + arguments, extra, ownUser);
        process.start();
        process.waitForStarted(5000);
    }
};

}  // namespace waytest
