// ft847-sim: a virtual Yaesu FT-847 reached as an RFC 2217 serial port, for trying and testing
// zolvek-ptt without a radio.
#include "ft847/ft847cat.h"
#include "serial/hostport.h"
#include "tools/ft847-sim/ft847frames.h"
#include "tools/ft847-sim/simlog.h"
#include "tools/ft847-sim/simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

bool parseListen(const QString &text, QHostAddress *address, quint16 *port)
{
    const auto parsed = parseHostPort(text, true);
    const auto host = parsed ? parsed->address() : std::nullopt;
    if (!host)
        return false;
    *address = *host;
    *port = parsed->port;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ft847-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZOLVEK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A virtual Yaesu FT-847 behind an RFC 2217 serial port server."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default 127.0.0.1:0, a free port)."),
        QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:0"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object a line on standard output."));
    const QCommandLineOption linesLow(
        QStringLiteral("lines-low-at-connect"),
        QStringLiteral("A new connection finds DTR and RTS low (default: high, as ser2net opens "
                       "the port at connect)."));
    const QCommandLineOption frequency(
        QStringLiteral("frequency"),
        QStringLiteral("The frequency the radio starts on, in Hz (default 14074000)."),
        QStringLiteral("HZ"), QStringLiteral("14074000"));
    const QCommandLineOption mode(
        QStringLiteral("mode"),
        QStringLiteral("The mode it starts in: lsb, usb, cw, cwr, am, fm, or cwn, cwrn, amn, fmn "
                       "for the narrow ones (default usb)."),
        QStringLiteral("NAME"), QStringLiteral("usb"));
    const QCommandLineOption smeter(
        QStringLiteral("smeter"),
        QStringLiteral("The S-meter's dots its RX status read reports, 0 to 31 (default 0)."),
        QStringLiteral("DOTS"), QStringLiteral("0"));
    const QCommandLineOption squelchOpen(
        QStringLiteral("squelch-open"),
        QStringLiteral("Its RX status read reports the squelch open (default: closed)."));
    const QCommandLineOption earlyRadio(
        QStringLiteral("early-radio"),
        QStringLiteral("An FT-847 made before the 8G05 production runs: it answers no read."));
    const QCommandLineOption raw(
        QStringLiteral("raw"),
        QStringLiteral("Plain TCP without Telnet or RFC 2217, as a serial port server's raw mode, "
                       "for bridges such as socat (no lines or settings)."));
    const QCommandLineOption pacing(
        QStringLiteral("pacing"),
        QStringLiteral("Miss (and log as dropped) a frame that comes sooner than MS after the one "
                       "before, as a radio still busy with it would (default 0: take every "
                       "frame; the FT-847 wants 50)."),
        QStringLiteral("MS"), QStringLiteral("0"));
    for (const auto &option :
         {listen, json, linesLow, frequency, mode, smeter, squelchOpen, earlyRadio, raw, pacing})
        parser.addOption(option);
    parser.process(app);

    bool numeric = false;
    const qulonglong hz = parser.value(frequency).toULongLong(&numeric);
    if (!numeric || !Ft847::tunable(double(hz))) {
        std::fprintf(stderr, "ft847-sim: --frequency wants Hz the FT-847 can tune (100 kHz-30 MHz, "
                             "36-76, 108-174 or 420-512 MHz)\n");
        return 2;
    }
    const auto startMode = ft847ModeFromName(parser.value(mode));
    if (!startMode) {
        std::fprintf(stderr, "ft847-sim: --mode wants lsb, usb, cw, cwr, am, fm, cwn, cwrn, amn "
                             "or fmn\n");
        return 2;
    }

    const uint dots = parser.value(smeter).toUInt(&numeric);
    if (!numeric || dots > Ft847::MeterMask) {
        std::fprintf(stderr, "ft847-sim: --smeter wants 0 to 31 dots\n");
        return 2;
    }

    const double pacingMs = parser.value(pacing).toDouble(&numeric);
    if (!numeric || pacingMs < 0 || pacingMs > 10000) {
        std::fprintf(stderr, "ft847-sim: --pacing wants milliseconds from 0 to 10000\n");
        return 2;
    }

    QHostAddress address;
    quint16 port = 0;
    if (!parseListen(parser.value(listen), &address, &port)) {
        std::fprintf(stderr, "ft847-sim: --listen wants HOST:PORT, such as 127.0.0.1:7000\n");
        return 2;
    }

    SimLog log(parser.isSet(json));
    SimServer server(log);
    server.setLinesAtConnect(!parser.isSet(linesLow));
    server.setRadio(hz / 10 * 10, *startMode);
    server.setReceiver(int(dots), parser.isSet(squelchOpen));
    server.setAnswersReads(!parser.isSet(earlyRadio));
    server.setRaw(parser.isSet(raw));
    server.setPacing(pacingMs);
    if (!server.listen(address, port)) {
        std::fprintf(stderr, "ft847-sim: cannot listen on %s: %s\n",
                     qUtf8Printable(parser.value(listen)), qUtf8Printable(server.errorString()));
        return 1;
    }
    log.listening(server.address());
    return app.exec();
}
