// opd-seed --db URL --orders N [--seed S]: migrates the database and fills it
// with deterministic demo data.
#include "db/Log.h"
#include "db/Migrator.h"
#include "db/Seeder.h"

#include "opd/BuildConfig.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    qSetMessagePattern(QStringLiteral(OPD_LOG_PATTERN));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(OPD_VERSION));
    // Qt's own words of --help and --version in Portuguese, where installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Cria dados de demonstração de pedidos."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("db"), QStringLiteral("URL do banco (sqlite:CAMINHO ou postgresql://...)."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("orders"), QStringLiteral("Número de pedidos."), QStringLiteral("n")});
    parser.addOption({QStringLiteral("seed"), QStringLiteral("Semente (padrão 1)."), QStringLiteral("s"), QStringLiteral("1")});
    parser.process(app);

    bool okOrders = false, okSeed = false;
    const long long orders = parser.value(QStringLiteral("orders")).toLongLong(&okOrders);
    const qulonglong seed = parser.value(QStringLiteral("seed")).toULongLong(&okSeed);
    if (!parser.isSet(QStringLiteral("db")) || !okOrders || orders < 0 || orders > 9999999999LL || !okSeed) {
        std::fprintf(stderr, "uso: opd-seed --db URL --orders N [--seed S]\n");
        return 2;
    }
    try {
        QElapsedTimer timer;
        timer.start();
        auto db = opd::db::Database::open(parser.value(QStringLiteral("db")).toStdString());
        opd::db::Migrator::migrate(*db);
        const auto counts = opd::db::Seeder::seed(*db, orders, seed);
        std::printf("%lld pedidos, %lld itens em %.1f s\n", counts.orders, counts.items,
                    double(timer.elapsed()) / 1000.0);
    } catch (const std::exception &e) {
        qCCritical(opd::db::lcDb, "%s", e.what());
        return 1;
    }
    return 0;
}
