// Helper for the store tests: reads or writes one option in a process of its own.
//   store-writer get SECTION KEY DEFAULT      prints the value
//   store-writer set SECTION KEY VALUE [kill] stores it; with "kill", dies by SIGKILL at once
#include "settings/options.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QTextStream>
#include <csignal>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 5 && args[1] == QStringLiteral("get")) {
        QTextStream(stdout) << GetSetting({Options::App, args[2], args[3]}, args[4]);
        return 0;
    }
    if (args.size() >= 5 && args[1] == QStringLiteral("set")) {
        const bool saved = SaveSetting({Options::App, args[2], args[3]}, args[4]);
        if (args.size() >= 6 && args[5] == QStringLiteral("kill"))
            std::raise(SIGKILL);
        return saved ? 0 : 1;
    }
    return 2;
}
