// opd-seed --db URL --orders N [--seed S]: migrates the database and fills it
// with deterministic demo data.
#include "db/Log.h"
#include "db/Migrator.h"
#include "db/ProgramStart.h"
#include "db/Seeder.h"

#include "opd/BuildConfig.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    opd::db::startProgram();
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
