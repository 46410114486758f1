#include "host/HostShell.h"

#include "opd/BuildConfig.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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
        QTranslator qtTexts;
        if (qtTexts.load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTexts);
        const int answered = HostShell::answerHelpOrVersion(QCoreApplication::arguments());
        if (answered >= 0)
            return answered;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("opd-host"));
    QApplication::setApplicationVersion(QStringLiteral(OPD_VERSION));
    HostShell shell;
    return shell.run(QApplication::arguments());
}
