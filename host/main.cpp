#include "host/HostShell.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("opd-host"));
    HostShell shell;
    return shell.run(QApplication::arguments());
}
