// Tallyport: turns a serial RFID card reader into a keyboard.

#include "app/AppOptions.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <csignal>
#include <optional>
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

// Qt's own options (-platform, -display, -style ...) are long names after a
// single dash; ours are single letters or start with two dashes.
bool holdsQtOption(const QStringList& arguments)
{
    for (const QString& a : arguments.mid(1))
        if (a.size() > 2 && a.startsWith(QLatin1Char('-')) && !a.startsWith(QLatin1String("--")))
            return true;
    return false;
}

// Reads the command line; exits with status 2 on a bad option. Runs first
// before the application object exists (`early`), so that --help, --version
// and a bad option need no display; a list that holds Qt's own options is
// read again after the application object took those out.
std::optional<AppOptions> parseOptions(const QStringList& arguments, bool early)
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
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    parser.addOptions({settings, verbose, port, version});
    if (!parser.parse(arguments)) {
        if (early && holdsQtOption(arguments))
            return std::nullopt;
        std::fprintf(stderr, "tallyport: %s\nTry 'tallyport --help'.\n", qPrintable(parser.errorText()));
        std::exit(2);
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Without an application object the parser cannot name the program.
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), arguments.value(0))),
                   stdout);
        std::exit(0);
    }
    if (parser.isSet(version)) {
        std::printf("tallyport %s\n", TALLYPORT_VERSION);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tallyport: unexpected argument '%s'\nTry 'tallyport --help'.\n",
                     qPrintable(parser.positionalArguments().first()));
        std::exit(2);
    }
    AppOptions options;
    options.settingsFile = parser.value(settings);
    options.verbose = parser.isSet(verbose);
    options.extraPorts = parser.values(port);
    return options;
}

}  // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parseOptions(arguments, true);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallyport"));
    QApplication::setApplicationVersion(QStringLiteral(TALLYPORT_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Quorix"));
#ifdef TALLYPORT_APP_ID
    // The desktop matches the window to its menu entry and icon by this name
    // (the app id on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral(TALLYPORT_APP_ID));
#endif
    // The window hides in the tray; only Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    const AppOptions options = *parseOptions(app.arguments(), false);

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
