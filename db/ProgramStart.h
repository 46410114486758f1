#pragma once
// How the server side's command-line programs (opd-appserver, opd-seed) start.

#include "opd/BuildConfig.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace opd::db {

// After the QCoreApplication exists: the log pattern with time and category
// (QT_MESSAGE_PATTERN still overrides it), the program's version, and Qt's own
// words of --help and --version in Portuguese where they are installed.
inline void startProgram()
{
    qSetMessagePattern(QStringLiteral(OPD_LOG_PATTERN));
    QCoreApplication::setApplicationVersion(QStringLiteral(OPD_VERSION));
    auto *qtTexts = new QTranslator(QCoreApplication::instance());
    if (qtTexts->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
}

} // namespace opd::db
