// opd-appserver --db URL --listen 127.0.0.1:PORT [--token-file F] [--workers N]
//               [--max-connections N] [--idle-timeout S]
#include "appserver/DescEmiPedModule.h"
#include "appserver/Log.h"
#include "appserver/RpcServer.h"
#include "db/Migrator.h"
#include "db/ProgramStart.h"

#include "opd/BuildConfig.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace opd::appserver;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    opd::db::startProgram();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Servidor de aplicação do OPD31000."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("db"), QStringLiteral("URL do banco (sqlite:CAMINHO ou postgresql://...)."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("listen"), QStringLiteral("Endereço HOST:PORTA (porta 0: livre)."), QStringLiteral("addr"), QStringLiteral("127.0.0.1:8431")});
    parser.addOption({QStringLiteral("token-file"), QStringLiteral("Arquivo com \"<token> <usuário>\" por linha."), QStringLiteral("file")});
    parser.addOption({QStringLiteral("workers"), QStringLiteral("Threads que atendem o banco, uma conexão cada (padrão 4)."), QStringLiteral("n"), QStringLiteral("4")});
    parser.addOption({QStringLiteral("max-connections"), QStringLiteral("Conexões de clientes abertas ao mesmo tempo (padrão 1024); além delas, 503."), QStringLiteral("n"), QStringLiteral("1024")});
    parser.addOption({QStringLiteral("idle-timeout"), QStringLiteral("Segundos que uma conexão sem requisição fica aberta (padrão 60)."), QStringLiteral("s"), QStringLiteral("60")});
    parser.process(app);

    ServerOptions options;
    options.dbUrl = parser.value(QStringLiteral("db")).toStdString();
    const QString listen = parser.value(QStringLiteral("listen"));
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    bool okPort = false, okWorkers = false, okMax = false, okIdle = false;
    options.host = listen.left(colon).toStdString();
    options.port = listen.mid(colon + 1).toInt(&okPort);
    options.workers = parser.value(QStringLiteral("workers")).toInt(&okWorkers);
    options.maxConnections = parser.value(QStringLiteral("max-connections")).toInt(&okMax);
    options.idleTimeoutSeconds = parser.value(QStringLiteral("idle-timeout")).toInt(&okIdle);
    if (options.dbUrl.empty() || colon <= 0 || !okPort || options.port < 0 || options.port > 65535
        || !okWorkers || options.workers < 1 || options.workers > 256
        || !okMax || options.maxConnections < 1 || options.maxConnections > 100000
        || !okIdle || options.idleTimeoutSeconds < 1 || options.idleTimeoutSeconds > 86400) {
        std::fprintf(stderr, "uso: opd-appserver --db URL --listen 127.0.0.1:PORTA [--token-file F] [--workers N]"
                             " [--max-connections N] [--idle-timeout S]\n");
        return 2;
    }
    // One descriptor per connection, plus the workers' database connections
    // and some to spare: raise the soft limit as far as the hard one allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        const rlim_t wanted = rlim_t(options.maxConnections) + rlim_t(options.workers) * 4 + 64;
        if (files.rlim_cur < wanted) {
            files.rlim_cur = files.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, files.rlim_max);
            setrlimit(RLIMIT_NOFILE, &files);
        }
        getrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur < rlim_t(options.maxConnections) + 32)
            qCWarning(lcServer, "limite de %llu arquivos abertos é pouco para %d conexões",
                      (unsigned long long)files.rlim_cur, options.maxConnections);
    }
    if (parser.isSet(QStringLiteral("token-file"))) {
        TokenFile tokens;
        QString error;
        if (!tokens.load(parser.value(QStringLiteral("token-file")), &error)) {
            qCCritical(lcServer, "%s", qPrintable(error));
            return 1;
        }
        options.tokens = std::move(tokens);
    }
    try {
        auto db = opd::db::Database::open(options.dbUrl);
        opd::db::Migrator::migrate(*db);
    } catch (const std::exception &e) {
        qCCritical(lcServer, "%s", e.what());
        return 1;
    }

    ModuleRegistry registry;
    DescEmiPedModule::registerIn(registry);
    RpcServer server(options, registry);
    QString error;
    const int port = server.bind(&error);
    if (port < 0) {
        qCCritical(lcServer, "%s", qPrintable(error));
        return 1;
    }

    // Stop on SIGINT/SIGTERM from a thread that waits for them, so that the
    // server is not stopped from inside a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server.stop();
    });

    std::printf("listening on %s:%d\n", options.host.c_str(), port);
    std::fflush(stdout);
    server.run();
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return 0;
}
