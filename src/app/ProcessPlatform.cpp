#include "app/ProcessPlatform.h"

#include "app/MainWindow.h"
#include "text/FileNameBytes.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// The value of the last --settings as the system gave it (bytes), or empty.
QByteArray rawSettingsValue(int argc, char* argv[])
{
    QByteArray value;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--")
            break;
        if (!arg.startsWith('-'))
            continue;
        const QByteArray name = arg.startsWith("--") ? arg.mid(2) : arg.mid(1);
        if (name == "settings" && i + 1 < argc)
            value = argv[++i];
        else if (name.startsWith("settings="))
            value = name.mid(9);
    }
    return value;
}

}  // namespace

QStringList commandLineArguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

QString settingsFileAsGiven(int argc, char* argv[], const QString& parsed)
{
    // Qt reads the name as UTF-8, which would turn bytes that are not into
    // another file; the name is taken as the system gave it.
    const QByteArray raw = rawSettingsValue(argc, argv);
    if (!raw.isEmpty() && QString::fromLocal8Bit(raw) == parsed)
        return fileNameFromBytes(raw);
    return parsed;
}

bool chooseHeadless()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}

void ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

// SIGINT, SIGTERM and SIGHUP.
void catchStopSignals(TfrmMain& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] { window.endSession(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
