// Tallyport: turns a serial RFID card reader into a keyboard.

#include "app/AppOptions.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP end the program the way the end of the
// desktop session does: port and card log closed, nothing else changed.
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

// Reads the command line; exits with status 2 on a bad option.
AppOptions parseOptions(const QApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads card numbers from a serial RFID card reader and types them into the application "
        "you last worked in."));
    parser.addHelpOption();
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Keep the settings in <file> instead of the default file."),
                                      QStringLiteral("file"));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Also write every info-log line to standard error."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Offer <path> in the port list as well (a pseudo-terminal, a "
                                                 "network serial link); may be given more than once."),
                                  QStringLiteral("path"));
    const QCommandLineOption keyboard(QStringLiteral("keyboard"),
                                      QStringLiteral("Type through <output>: x11, wayland, portal or none "
                                                     "(by default the one the desktop session offers)."),
                                      QStringLiteral("output"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    parser.addOptions({settings, verbose, port, keyboard, version});
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "tallyport: %s\nTry 'tallyport --help'.\n", qPrintable(parser.errorText()));
        std::exit(2);
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::exit(0);
    }
    if (parser.isSet(version)) {
        std::printf("tallyport %s\n", qPrintable(QApplication::applicationVersion()));
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tallyport: unexpected argument '%s'\nTry 'tallyport --help'.\n",
                     qPrintable(parser.positionalArguments().first()));
        std::exit(2);
    }
    const QStringList outputs{QStringLiteral("x11"), QStringLiteral("wayland"), QStringLiteral("portal"),
                              QStringLiteral("none")};
    if (parser.isSet(keyboard) && !outputs.contains(parser.value(keyboard))) {
        std::fprintf(stderr, "tallyport: --keyboard takes x11, wayland, portal or none\nTry 'tallyport --help'.\n");
        std::exit(2);
    }
    AppOptions options;
    options.keyboard = parser.value(keyboard);
    options.settingsFile = parser.value(settings);
    options.verbose = parser.isSet(verbose);
    options.extraPorts = parser.values(port);
    return options;
}

}  // namespace

int main(int argc, char* argv[])
{
    // A native client on Wayland sessions, X11 through Xwayland only when
    // the Wayland platform cannot start.
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallyport"));
    QApplication::setApplicationVersion(QStringLiteral(TALLYPORT_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Quorix"));
    // The window hides in the tray; only Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    const AppOptions options = parseOptions(app);

    SingleInstance instance;
    if (!instance.claim()) {
        // Already running: bring that copy forward and leave quietly.
        instance.askRunningToShow();
        return 0;
    }

    TfrmMain window(options);
    QObject::connect(&instance, &SingleInstance::showRequested, &window, &TfrmMain::showFromSecondStart);
    // However the application ends (the desktop session closing it, say),
    // the port and the card log are closed.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &TfrmMain::endSession);
    catchStopSignals(window);
    window.show();
    return app.exec();
}
