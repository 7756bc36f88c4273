#include "app/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zolvek-ptt"));

    Form1 window;
    window.Form_Load();
    window.showAfterLoad();
    return app.exec();
}
