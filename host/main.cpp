#include "host/HostApplication.h"
#include "host/HostShell.h"

#include "opd/BuildConfig.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

namespace {

// --help and --version are answered before the QApplication exists, which
// would need a display. Only a command line that asks for them pays for the
// extra application object.
bool asksHelpOrVersion(int argc, char **argv)
{
    static const char *const names[] = {"-h", "-?", "--help", "-help", "-v", "--version", "-version"};
    for (int i = 1; i < argc; ++i) {
        for (const char *name : names) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    qSetMessagePattern(QStringLiteral(OPD_LOG_PATTERN));
    if (asksHelpOrVersion(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("opd-host"));
        QCoreApplication::setApplicationVersion(QStringLiteral(OPD_VERSION));
        // Qt's own words of the help text ("Uso:", "Opções:") in Portuguese.
        HostApplication::startUp();
        const int answered = HostShell::answerHelpOrVersion(QCoreApplication::arguments());
        if (answered >= 0)
            return answered;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("opd-host"));
    QApplication::setApplicationVersion(QStringLiteral(OPD_VERSION));
    if (HostApplication::startUp().isEmpty())
        std::fprintf(stderr, "opd-host: %s não encontrado; os textos do Qt ficam em inglês.\n",
                     qPrintable(HostApplication::qtTranslationFile()));
    HostShell shell;
    return shell.run(QApplication::arguments());
}
