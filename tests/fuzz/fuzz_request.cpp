// The server's request decoder, through the dispatcher's public entry: the
// body as one POST /rpc would bring it, in CBOR (FUZZ_REQUEST_CBOR) or JSON.
// Calls that decode run their handler against a small seeded SQLite file, so
// the argument checks and list readers behind them are reached as well.
// Every body gets an answer in the request's encoding that reads back whole.
#include "FuzzSupport.h"

#include "appserver/DescEmiPedModule.h"
#include "appserver/RpcDispatcher.h"
#include "db/Database.h"
#include "db/Migrator.h"
#include "db/Seeder.h"

#include <QCborStreamReader>
#include <QCborValue>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <memory>

#ifdef FUZZ_REQUEST_CBOR
constexpr const char *kContentType = "application/cbor";
#else
constexpr const char *kContentType = "application/json";
#endif

namespace {

struct Server
{
    QTemporaryDir dir;
    std::unique_ptr<opd::db::Database> db;
    opd::appserver::ModuleRegistry registry;
};

Server &server()
{
    static Server *s = [] {
        auto *s = new Server;
        fuzz::require(s->dir.isValid(), "a temporary folder");
        s->db = opd::db::Database::open("sqlite:" + s->dir.filePath(QStringLiteral("fuzz.db")).toStdString());
        opd::db::Migrator::migrate(*s->db);
        opd::db::Seeder::seed(*s->db, 20, 1);
        opd::appserver::DescEmiPedModule::registerIn(s->registry);
        return s;
    }();
    return *s;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_LOGGING_RULES", "*.warning=false");   // handlers log database failures
    server();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(bytes), qsizetype(size));
    Server &s = server();
    opd::appserver::RpcDispatcher dispatcher(s.registry);
    const opd::appserver::RpcResponse response = dispatcher.dispatch(body, kContentType, "fuzz", s.db.get());
    fuzz::require(response.httpStatus == 200 || response.httpStatus == 400 || response.httpStatus == 413,
                  "a status of the protocol");
    const QByteArray answer = response.collect();
#ifdef FUZZ_REQUEST_CBOR
    fuzz::require(response.cbor, "a CBOR request gets a CBOR answer");
    QCborStreamReader reader(answer);
    const QCborValue value = QCborValue::fromCbor(reader);
    fuzz::require(reader.lastError() == QCborError::NoError, "the answer is well-formed CBOR");
    fuzz::require(value.isMap(), "the answer is a map");
#else
    fuzz::require(!response.cbor, "a JSON request gets a JSON answer");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(answer, &error);
    fuzz::require(error.error == QJsonParseError::NoError && doc.isObject(), "the answer is a JSON object");
#endif
    return 0;
}
