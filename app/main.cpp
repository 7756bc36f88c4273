#include "app/desktop.h"
#include "app/form1.h"
#include "app/singleinstance.h"
#include "settings/options.h"
#include "settings/storelocation.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace {

// --help and --version answer and end the program before anything is opened (no display, no
// port); anything else the program does not know ends it with 2.
int readCommandLine(int argc, char *argv[])
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
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1) {
        if (const int status = readCommandLine(argc, argv); status >= 0)
            return status;
    }
    chooseDesktopBackEnd();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zolvek-ptt"));
    QApplication::setApplicationVersion(QStringLiteral(ZOLVEK_VERSION));

    // A second start shows the running utility and opens nothing.
    SingleInstance instance(privateFolder(Options::App));
    if (!instance.claim()) {
        const bool shown = instance.wakeRunning();
        std::printf(shown ? "zolvek-ptt: already running; its window was brought to the front\n"
                          : "zolvek-ptt: already running\n");
        return 0;
    }

    Form1 window;
    QObject::connect(&instance, &SingleInstance::wakeRequested, &window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    window.Form_Load();
    window.showAfterLoad();
    return app.exec();
}
