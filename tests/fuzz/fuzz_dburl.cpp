// Database URLs (platform/DbUrl.h) as the server (opd::db::Database::parseUrl)
// and the login environment's --db take them. None opens anything. Every
// refusal is explained without echoing control characters; an accepted URL
// names a file or a server and database free of control characters; the
// server and the host accept the same URLs, and the host keeps its text.
#include "FuzzSupport.h"

#include "db/Database.h"
#include "host/Orvand.h"
#include "platform/DbUrl.h"

namespace {

bool clean(const std::string &text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const std::string url(reinterpret_cast<const char *>(bytes), size);
    opd::DbUrl parsed;
    std::string error;
    const bool ok = opd::DbUrl::parse(url, &parsed, &error);
    fuzz::require(ok || (!error.empty() && clean(error)), "a refusal is explained, without control characters");
    if (ok) {
        if (parsed.kind == opd::DbUrl::Kind::Sqlite) {
            fuzz::require(!parsed.path.empty() && clean(parsed.path), "a SQLite URL names a file");
        } else {
            fuzz::require(!parsed.host.empty() && !parsed.database.empty(), "a server and a database");
            fuzz::require(parsed.port >= 1 && parsed.port <= 65535, "a port in range");
            fuzz::require(clean(parsed.user) && clean(parsed.password) && clean(parsed.database),
                          "decoded parts hold no control characters");
        }
    }

    bool serverOk = false;
    try {
        const opd::db::Database::Target target = opd::db::Database::parseUrl(url);
        serverOk = true;
        fuzz::require((target.dialect == opd::db::Dialect::Sqlite) == (parsed.kind == opd::DbUrl::Kind::Sqlite),
                      "the server reads the same kind of database");
    } catch (const opd::db::DbError &e) {
        fuzz::require(*e.what() != '\0', "a refused URL has a message");
    }
    fuzz::require(serverOk == ok, "the server accepts exactly what the reader accepts");

    const QString qurl = QString::fromUtf8(url.data(), qsizetype(url.size()));
    Orvand::reset();
    QString hostError;
    const bool loaded = Orvand::load(QString(), {{QStringLiteral("db"), qurl}}, &hostError);
    fuzz::require(loaded || !hostError.isEmpty(), "a refused --db has a message");
    fuzz::require(!loaded || Orvand::environment().databaseUrl == qurl, "an accepted URL is kept as given");
    if (qurl.toUtf8() == QByteArray::fromStdString(url) && !url.empty())
        fuzz::require(loaded == ok, "the host accepts exactly what the server accepts");
    return 0;
}
