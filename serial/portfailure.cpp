#include "serial/portfailure.h"

Q_LOGGING_CATEGORY(lcPort, "zolvek.port", QtInfoMsg)

namespace {

struct Hint
{
    const char *sign; // a word of the system's message, in any case
    const char *hint;
};

const char *const Unplugged = "Is the adapter plugged in? Check what this COM port stands for: "
                              "right-click the port list with the options open.";

const Hint Hints[] = {
    {"permission denied", "This user may not use the port: add it to the dialout group "
                          "(sudo adduser $USER dialout), then log in again."},
    {"access is denied", "Another program may have the port, or this user may not use it."},
    {"resource busy", "Another program has the port open: close it there first."},
    {"being used by another process", "Another program has the port open: close it there first."},
    {"locked", "Another program has the port open: close it there first."},
    {"no such device", Unplugged},
    {"no such file", Unplugged},
    {"connection refused", "Nothing listens at that address: is the serial server running there?"},
    {"no answer", "The remote server does not answer: check the address and the network."},
    {"no connection within", "The remote server does not answer: check the address and the "
                             "network."},
    {"host not found", "The remote host name is not known: check the network radio's address "
                       "(right-click the port list with the options open)."},
    {"does not offer rfc 2217", "The remote server is not an RFC 2217 serial port server: check "
                                "its configuration (ser2net: telnet with remctl)."},
    {"system console", "This port is the machine's console: choose the radio's device for this "
                       "COM port (right-click the port list with the options open)."},
};

} // namespace

QString explainPortFailure(const QString &message)
{
    const QString lower = message.toLower();
    for (const Hint &hint : Hints)
        if (lower.contains(QLatin1String(hint.sign)))
            return message + QLatin1Char('\n') + QLatin1String(hint.hint);
    return message;
}

QString explainPortFailures(const QStringList &messages)
{
    QStringList explained;
    for (const QString &message : messages)
        explained << explainPortFailure(message);
    explained.removeDuplicates();
    return explained.join(QLatin1Char('\n'));
}

void logPortFailures(const char *doing, const QStringList &messages)
{
    for (const QString &message : messages)
        qCWarning(lcPort, "%s: %s", doing, qUtf8Printable(message));
}
