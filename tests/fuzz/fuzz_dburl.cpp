// The database URL readers: the server's (opd::db::Database::parseUrl), the
// host's (dtmDBGeral::parseUrl) and the login environment's check of --db.
// None opens anything. Every refusal is explained, and a text the host reads
// as a SQLite file or a PostgreSQL server the server reads as the same kind.
#include "FuzzSupport.h"

#include "db/Database.h"
#include "host/Orvand.h"
#include "host/TADOIBQuery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const std::string url(reinterpret_cast<const char *>(bytes), size);
    bool serverOk = false;
    opd::db::Database::Target serverTarget{};
    try {
        serverTarget = opd::db::Database::parseUrl(url);
        serverOk = true;
    } catch (const opd::db::DbError &e) {
        fuzz::require(*e.what() != '\0', "a refused URL has a message");
    }
    const QString qurl = QString::fromUtf8(url.data(), qsizetype(url.size()));
    dtmDBGeral::Target hostTarget;
    QString error;
    const bool hostOk = dtmDBGeral::parseUrl(qurl, &hostTarget, &error);
    fuzz::require(hostOk || !error.isEmpty(), "a refused URL has a message");
    if (hostOk && qurl.toUtf8() == QByteArray::fromStdString(url)) {
        fuzz::require(serverOk, "a URL the host reads the server reads too");
        fuzz::require((hostTarget.backend == TADOIBQuery::Backend::SQLite)
                          == (serverTarget.dialect == opd::db::Dialect::Sqlite),
                      "both read the same kind of database");
    }

    Orvand::reset();
    const bool loaded = Orvand::load(QString(), {QStringLiteral("--db"), qurl}, &error);
    fuzz::require(!loaded || Orvand::environment().databaseUrl == qurl, "an accepted URL is kept as given");
    return 0;
}
