// Tallyport: turns a serial RFID card reader into a keyboard.

#include "app/AppOptions.h"
#include "app/MainWindow.h"
#include "app/PlatformKeyboard.h"
#include "app/SingleInstance.h"
#include "text/FileNameBytes.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QSocketNotifier>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#else
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifndef Q_OS_WIN
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
#endif

// Reads the command line before there is an application object, so that
// --help, --version and a bad option need no display. Exits with status 2
// on a bad option.
AppOptions parseOptions(int argc, char* argv[])
{
    QStringList arguments;
#ifdef Q_OS_WIN
    // argv is in the ANSI code page there, which cannot hold every file
    // name; the wide command line can, as Qt itself reads it.
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments << QString::fromWCharArray(wide[i]);
        ::LocalFree(wide);
    }
#else
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
#endif
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
    options.settingsFile = parser.value(settings);
#ifndef Q_OS_WIN
    // Qt reads the name as UTF-8, which would turn bytes that are not into
    // another file; the name is taken as the system gave it.
    const QByteArray rawSettings = rawSettingsValue(argc, argv);
    if (parser.isSet(settings) && QString::fromLocal8Bit(rawSettings) == options.settingsFile)
        options.settingsFile = fileNameFromBytes(rawSettings);
#endif
    options.verbose = parser.isSet(verbose);
    // A relative port is a path from here, not a name under /dev.
    for (const QString& path : parser.values(port))
        options.extraPorts << (QDir::isRelativePath(path) ? QDir::current().absoluteFilePath(path) : path);
    return options;
}

// Without any display the program runs headless: the whole cycle and the
// card log, with no window to see and no keystrokes. True when it does.
bool chooseHeadless()
{
#ifdef Q_OS_WIN
    return false;  // Windows has no display variables: its desktop is always there
#else
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
#endif
}

}  // namespace

int main(int argc, char* argv[])
{
    // A closed standard error (tallyport -v | head) must not end the program;
    // a log line that cannot be written is simply lost.
#ifndef Q_OS_WIN
    std::signal(SIGPIPE, SIG_IGN);
#endif
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
#ifndef Q_OS_WIN
    catchStopSignals(window);
#endif
    window.show();
    return app.exec();
}
