#include "app/desktop.h"
#include "app/form1.h"
#include "app/singleinstance.h"
#include "hostlink/pttswitch.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "settings/storelocation.h"
#include "settings/textconv.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>

namespace {

// --help and --version answer and end the program before anything is opened (no display, no
// port); anything else the program does not know ends it with 2.
struct CommandLine
{
    QString listen;
    QString listenAllow; // null when not given
    QString txTimeout;   // null when not given
    QString catPort;
    QString flrig;

    // The options given, as they were given, for a running utility to hear of.
    QStringList given() const
    {
        QStringList options;
        const auto add = [&](const char *name, const QString &value, bool set) {
            if (set)
                options << QStringLiteral("--%1 %2").arg(QLatin1String(name), value);
        };
        add("listen", listen, !listen.isEmpty());
        add("listen-allow", listenAllow, !listenAllow.isNull());
        add("tx-timeout", txTimeout, !txTimeout.isNull());
        add("cat-port", catPort, !catPort.isEmpty());
        add("flrig", flrig, !flrig.isEmpty());
        return options;
    }
};

int readCommandLine(int argc, char *argv[], CommandLine *line)
{
    QCoreApplication reading(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zolvek-ptt"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZOLVEK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Keys and unkeys a Yaesu FT-847 over a serial port for a host program, which sends the "
        "window the message ZOLVEKFUNC. Options are kept in the per-user store (KELD)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Serve Hamlib's NET rigctl protocol (as rigctld does) on ADDR: PORT on "
                       "loopback, HOST:PORT or [IPV6]:PORT. An address other computers can "
                       "reach needs --listen-allow. Default: [Host] Listen in the store, else "
                       "off."),
        QStringLiteral("ADDR"));
    parser.addOption(listenOption);
    const QCommandLineOption listenAllowOption(
        QStringLiteral("listen-allow"),
        QStringLiteral("Who besides this computer may connect to the listener, and so key the "
                       "transmitter: addresses or networks, ADDR[/BITS],... Default: [Host] "
                       "ListenAllow in the store, else nobody."),
        QStringLiteral("LIST"));
    parser.addOption(listenAllowOption);
    const QCommandLineOption txTimeoutOption(
        QStringLiteral("tx-timeout"),
        QStringLiteral("End any transmit that lasts longer than SECONDS (1 to 86400; 0 is off), "
                       "as a receive request would. Default: [Ptt] TransmitTimeout in the store, "
                       "else off."),
        QStringLiteral("SECONDS"));
    parser.addOption(txTimeoutOption);
    const QCommandLineOption catPortOption(
        QStringLiteral("cat-port"),
        QStringLiteral("Make a serial FT-847 at PATH for programs that drive the radio over a "
                       "serial port: on Linux a link to a pseudo-terminal (or a serial device, "
                       "opened as it is), on Windows a COM name (one end of a virtual pair). "
                       "Default: [Host] CatPort in the store, else off."),
        QStringLiteral("PATH"));
    parser.addOption(catPortOption);
    const QCommandLineOption flrigOption(
        QStringLiteral("flrig"),
        QStringLiteral("Serve flrig's XML-RPC (for fldigi, WSJT-X with Rig FLRig...) on ADDR: "
                       "PORT on loopback (12345 is flrig's), HOST:PORT or [IPV6]:PORT, under "
                       "the listener's allow list. Default: [Host] Flrig in the store, else "
                       "off."),
        QStringLiteral("ADDR"));
    parser.addOption(flrigOption);
    // Qt's own options (-platform xcb, -display :1, -style ...) stay Qt's: known here, left alone.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char *name : {"platform", "display", "style", "stylesheet", "geometry",
                             "qwindowgeometry", "qwindowtitle", "qwindowicon", "title"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char *name : {"reverse", "sync", "nograb", "dograb"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    if (!parser.parse(reading.arguments())) {
        std::fprintf(stderr, "zolvek-ptt: %s\n", qUtf8Printable(parser.errorText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "zolvek-ptt: unexpected argument %s\n",
                     qUtf8Printable(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("zolvek-ptt %s\n", ZOLVEK_VERSION);
        return 0;
    }
    line->listen = parser.value(listenOption);
    if (parser.isSet(listenAllowOption))
        line->listenAllow = parser.value(listenAllowOption);
    if (parser.isSet(txTimeoutOption))
        line->txTimeout = parser.value(txTimeoutOption);
    line->catPort = parser.value(catPortOption);
    line->flrig = parser.value(flrigOption);
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    CommandLine line;
    if (argc > 1) {
        if (const int status = readCommandLine(argc, argv, &line); status >= 0)
            return status;
    }
    QString listen = line.listen;
    chooseDesktopBackEnd();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zolvek-ptt"));
    QApplication::setApplicationVersion(QStringLiteral(ZOLVEK_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zolvek-ptt.png")));
    // The desktop entry this window belongs to, for Wayland's docks (X11 ones match the class).
    QGuiApplication::setDesktopFileName(QStringLiteral("net.zolvek.zolvek_ptt"));

    // A second start shows the running utility and opens nothing.
    SingleInstance instance(privateFolder(Options::App));
    if (!instance.claim()) {
        const QStringList given = line.given();
        const bool shown = instance.wakeRunning(given);
        std::printf(shown ? "zolvek-ptt: already running; its window was brought to the front\n"
                          : "zolvek-ptt: already running\n");
        if (!given.isEmpty())
            std::printf("zolvek-ptt: not applied: %s (the running utility keeps its own; close "
                        "it and start again with them)\n",
                        qUtf8Printable(given.join(QLatin1Char(' '))));
        return 0;
    }

    Form1 window;
    QObject::connect(&instance, &SingleInstance::wakeRequested, &window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    QObject::connect(&instance, &SingleInstance::optionsNotApplied, &window,
                     &Form1::optionsNotApplied);
    window.Form_Load();
    window.showAfterLoad();
    // The command line wins over the store.
    if (!line.txTimeout.isNull())
        window.setTransmitTimeout(line.txTimeout, QStringLiteral("--tx-timeout"));
    else
        window.setTransmitTimeout(GetSetting(Options::TransmitTimeout, QString()),
                                  QStringLiteral("[Ptt] TransmitTimeout"));
    if (listen.isEmpty())
        listen = GetSetting(Options::Listen, QString()).trimmed();
    if (!listen.isEmpty()) {
        const QString allow = line.listenAllow.isNull()
                                  ? GetSetting(Options::ListenAllow, QString())
                                  : line.listenAllow;
        const QString address = window.startRigctlListener(listen, allow);
        if (!address.isEmpty())
            std::fprintf(stderr, "zolvek-ptt: rigctl listener on %s\n", qUtf8Printable(address));
    }
    const QString flrig =
        line.flrig.isEmpty() ? GetSetting(Options::Flrig, QString()).trimmed() : line.flrig;
    if (!flrig.isEmpty()) {
        const QString allow = line.listenAllow.isNull()
                                  ? GetSetting(Options::ListenAllow, QString())
                                  : line.listenAllow;
        const QString address = window.startFlrig(flrig, allow);
        if (!address.isEmpty())
            std::fprintf(stderr, "zolvek-ptt: flrig XML-RPC on %s\n", qUtf8Printable(address));
    }
    const QString catPort =
        line.catPort.isEmpty() ? GetSetting(Options::CatPort, QString()).trimmed() : line.catPort;
    if (!catPort.isEmpty()) {
        const QString path = window.startCatPort(catPort);
        if (!path.isEmpty())
            std::fprintf(stderr, "zolvek-ptt: serial FT-847 port at %s\n", qUtf8Printable(path));
    }
    return app.exec();
}
