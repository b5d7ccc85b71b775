// Tallyport: turns a serial RFID card reader into a keyboard.

#include "app/AppOptions.h"
#include "app/MainWindow.h"
#include "app/PlatformKeyboard.h"
#include "app/ProcessPlatform.h"
#include "app/SingleInstance.h"
#include "reading/ThreadsLeftBehind.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace {

// Reads the command line before there is an application object, so that
// --help, --version and a bad option need no display. Exits with status 2
// on a bad option.
AppOptions parseOptions(int argc, char* argv[])
{
    const QStringList arguments = commandLineArguments(argc, argv);
    QCommandLineParser parser;
    // Single-dash words are options of their own, as Qt's -platform, -style
    // and -display are; the application object takes those.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Reads card numbers from a serial RFID card reader and types them into the application "
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
    for (const char* name : {"platform", "platformtheme", "style", "stylesheet", "display", "qwindowgeometry"}) {
        QCommandLineOption qtOption(QLatin1String(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    QCommandLineOption reverse(QStringLiteral("reverse"));
    reverse.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(reverse);

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "tallyport: %s\nTry 'tallyport --help'.\n", qPrintable(parser.errorText()));
        std::exit(2);
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        // Without an application object Qt cannot name the program itself.
        std::fputs(
            qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tallyport"))),
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
    if (parser.isSet(keyboard) && !keyboardChoice(parser.value(keyboard))) {
        std::fprintf(stderr, "tallyport: --keyboard takes x11, wayland, portal or none\nTry 'tallyport --help'.\n");
        std::exit(2);
    }
    AppOptions options;
    options.keyboard = parser.value(keyboard);
    options.settingsFile = settingsFileAsGiven(argc, argv, parser.value(settings));
    options.verbose = parser.isSet(verbose);
    // A relative port is a path from here, not a name under /dev.
    for (const QString& path : parser.values(port))
        options.extraPorts << (QDir::isRelativePath(path) ? QDir::current().absoluteFilePath(path) : path);
    return options;
}

}  // namespace

int main(int argc, char* argv[])
{
    ignoreBrokenPipe();
    const AppOptions options = parseOptions(argc, argv);
    if (chooseHeadless())
        std::fputs("tallyport: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): running headless; "
                   "cards reach the info log and the card log, no keystrokes are typed\n",
                   stderr);
    // A native client on Wayland sessions, X11 through Xwayland only when
    // the Wayland platform cannot start.
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
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

    int code = 0;
    {
        SingleInstance instance;
        switch (instance.claim()) {
        case SingleInstance::Running:
            // Already running: bring that copy forward and leave quietly.
            if (!instance.askRunningToShow())
                std::fprintf(stderr, "tallyport: another copy is running but did not answer; it keeps the window\n");
            return 0;
        case SingleInstance::Unguarded:
            std::fprintf(stderr, "tallyport: single-instance guard off: %s\n", qPrintable(instance.reason()));
            break;
        case SingleInstance::First: break;
        }

        TfrmMain window(options);
        QObject::connect(&instance, &SingleInstance::showRequested, &window, &TfrmMain::showFromSecondStart);
        // However the application ends (the desktop session closing it, say),
        // the port and the card log are closed. On Windows this is the session
        // end: Qt emits aboutToQuit when Windows ends the session, since the
        // process is ended right after; commitDataRequest comes earlier, while
        // another program may still cancel the log-off.
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &TfrmMain::endSession);
        catchStopSignals(window);
        window.show();
        code = app.exec();
    }
    // A thread stuck in the system may come back at any moment and go on
    // with Qt's event loop: the process ends without destroying the
    // application under it (the window and the instance guard are gone).
    if (threadsLeftBehind()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
