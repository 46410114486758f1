#include "appserver/DescEmiPedService.h"

#include "appserver/ListParam.h"
#include "appserver/PacketWriter.h"
#include "db/DayCount.h"
#include "platform/Utf8.h"

#include <QCborValue>
#include <QDate>
#include <QDateTime>
#include <memory>
#include <variant>

namespace opd::appserver {

namespace {

using Param = std::variant<std::string, double>;

struct Where
{
    std::string sql;
    std::vector<Param> params;
};

// A list bound as one parameter. PostgreSQL gets an array: the planner then
// knows how many keys there are and walks the index once per key, where a
// set-returning function over JSON hid that (it guessed 100 rows and scanned
// and hashed every item). CHAR columns take a bpchar[] so that the
// comparison stays on the column's own type and its index.
std::string inList(db::Dialect dialect, const char *column, const char *pgArray)
{
    if (dialect == db::Dialect::Sqlite)
        return std::string(" AND ") + column + " IN (SELECT value FROM json_each(?))";
    return std::string(" AND ") + column + " = ANY (CAST(? AS " + pgArray + "))";
}

std::string listParam(db::Dialect dialect, const std::vector<std::string> &keys)
{
    return dialect == db::Dialect::Sqlite ? listparam::toJsonArray(keys) : listparam::toPgArray(keys);
}

Where buildWhere(db::Dialect dialect, const PedidoFilter &f)
{
    Where w;
    w.sql = " WHERE 1 = 1";
    if (!f.branch.empty()) {
        w.sql += " AND P.CDFILIAL = ?";
        w.params.emplace_back(f.branch);
    }
    if (f.numberRange) {
        w.sql += " AND P.NRPEDIDO BETWEEN ? AND ?";
        w.params.emplace_back(f.numberRange->first);
        w.params.emplace_back(f.numberRange->second);
    }
    const auto list = [&](const std::optional<std::vector<std::string>> &keys, const char *column,
                          const char *pgArray = "text[]") {
        if (!keys)
            return;
        w.sql += inList(dialect, column, pgArray);
        w.params.emplace_back(listParam(dialect, *keys));
    };
    list(f.numbers, "P.NRPEDIDO", "bpchar[]");
    list(f.customers, "P.CDCLIENTE");
    if (f.entryDays) {
        w.sql += " AND P.DTPEDIDO BETWEEN ? AND ?";
        w.params.emplace_back(db::isoFromDayCount(f.entryDays->first));
        w.params.emplace_back(db::isoFromDayCount(f.entryDays->second));
    }
    if (f.deliveryDays) {
        w.sql += " AND P.DTENTPED BETWEEN ? AND ?";
        w.params.emplace_back(db::isoFromDayCount(f.deliveryDays->first));
        w.params.emplace_back(db::isoFromDayCount(f.deliveryDays->second));
    }
    list(f.destinations, "P.CDFILDEST");
    list(f.sellers, "P.CDVENDEDOR");
    if (f.statuses) {
        w.sql += inList(dialect, "P.CDSTATUS", "integer[]");
        const bool pg = dialect == db::Dialect::Postgres;
        std::string codes = pg ? "{" : "[";
        for (size_t i = 0; i < f.statuses->size(); ++i)
            codes += (i ? "," : "") + std::to_string((*f.statuses)[i]);
        w.params.emplace_back(codes + (pg ? "}" : "]"));
    }
    return w;
}

void bindAll(db::Statement &stmt, const std::vector<Param> &params)
{
    int index = 0;
    for (const Param &p : params) {
        ++index;
        if (const auto *text = std::get_if<std::string>(&p))
            stmt.bindText(index, *text);
        else
            stmt.bindDouble(index, std::get<double>(p));
    }
}

const std::vector<PacketField> kOrderFields = {
    {"NRPEDIDO", FieldType::String, 10}, {"NMRAZSOCCLIE", FieldType::String, 50},
    {"DTPEDIDO", FieldType::DateTime, 8}, {"DTENTPED", FieldType::DateTime, 8},
    {"CDFILIAL", FieldType::String, 4}};
const std::vector<PacketField> kItemFields = {
    {"NRPEDIDO", FieldType::String, 10}, {"NRITEMPED", FieldType::String, 10},
    {"CDPRODUTO", FieldType::String, 10}, {"CDARVPROD", FieldType::String, 20},
    {"QTITEMPED", FieldType::Float, 8}, {"NMPRODUTO", FieldType::String, 50},
    {"CDPRODESTO", FieldType::String, 10}, {"CDFILIAL", FieldType::String, 4},
    {"DSEMISSAOITPED", FieldType::String, 400}};
const std::vector<PacketField> kNumberFields = {
    {"IDMARCADO", FieldType::FixedChar, 1}, {"NRPEDIDO", FieldType::String, 10},
    {"NMFANTCLIE", FieldType::String, 50}};
const std::vector<PacketField> kHistoryFields = {
    {"DTAUDITORIA", FieldType::String, 16}, {"CDUSUARIO", FieldType::String, 30},
    {"NMCAMPO", FieldType::String, 30}, {"DSVALORANT", FieldType::String, 400},
    {"DSVALORNOV", FieldType::String, 400}};
const std::vector<PacketField> kBranchFields = {
    {"CDFILIAL", FieldType::String, 4}, {"NMFILIAL", FieldType::String, 30},
    {"CDSEGMER", FieldType::String, 5}};

// A read that is streamed after the handler returned: the statements and the
// read transaction live as long as the writer (until the answer is sent).
struct StreamedRead
{
    explicit StreamedRead(db::Database &db) : tx(db, false) {}
    StreamedRead(db::Database &db, db::Transaction::LookupTag) : tx(db, db::Transaction::Lookup) {}
    // Declared first, destroyed last: the transaction ends before the
    // statements are released.
    std::vector<std::unique_ptr<db::Statement>> statements;
    db::Transaction tx;
};

std::string auditTime()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

void audit(db::Database &db, const std::string &user, const std::string &branch, const std::string &order,
           const std::string *item, const char *field, const std::optional<std::string> &before,
           const std::optional<std::string> &after)
{
    auto stmt = db.prepare("INSERT INTO AUDITORIA (CDFILIAL, NRPEDIDO, NRITEMPED, NMCAMPO, DSVALORANT, "
                           "DSVALORNOV, CDUSUARIO, DTAUDITORIA) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    stmt->bindText(1, branch);
    stmt->bindText(2, order);
    if (item)
        stmt->bindText(3, *item);
    else
        stmt->bindNull(3);
    stmt->bindText(4, field);
    if (before) stmt->bindText(5, *before); else stmt->bindNull(5);
    if (after) stmt->bindText(6, *after); else stmt->bindNull(6);
    stmt->bindText(7, user);
    stmt->bindText(8, auditTime());
    stmt->exec();
}

std::optional<std::string> cell(db::Statement &stmt, int column)
{
    if (stmt.isNull(column))
        return std::nullopt;
    return std::string(stmt.text(column));
}

// The row is read with its lock held to the end of the write's transaction:
// FOR UPDATE on PostgreSQL, where a second writer waits here until the first
// commits and then reads the first one's value; on SQLite the write
// transaction (BEGIN IMMEDIATE) already holds the database's write lock.
std::string locked(db::Database &db, std::string sql)
{
    if (db.dialect() == db::Dialect::Postgres)
        sql += " FOR UPDATE";
    return sql;
}

// No value, whether stored as NULL or as an empty text.
std::optional<std::string> normalised(std::optional<std::string> value)
{
    if (value && value->empty())
        return std::nullopt;
    return value;
}

QString label(const char *field)
{
    return std::string_view(field) == "DTENTPED" ? QStringLiteral("Data Entrega")
                                                 : QStringLiteral("Descrição para Emissão");
}

QString isoToShown(const std::string &iso)
{
    const QDate d = QDate::fromString(QString::fromStdString(iso.substr(0, 10)), Qt::ISODate);
    return d.isValid() ? d.toString(QStringLiteral("dd/MM/yyyy")) : QString::fromStdString(iso);
}

QString shownValue(const char *field, const std::optional<std::string> &value)
{
    if (!value)
        return label(field) + QStringLiteral(" em branco");
    if (std::string_view(field) == "DTENTPED")
        return label(field) + QLatin1Char(' ') + isoToShown(*value);
    QString text = QString::fromStdString(*value);
    if (text.size() > 60)
        text = text.left(57) + QStringLiteral("...");
    return label(field) + QStringLiteral(" \"") + text + QLatin1Char('"');
}

// Builds the refusal from the newest audit row of the field, read in the
// same transaction (so under the same lock): it names who stored the value
// now held and when. A value that no audit row explains was changed outside
// this server.
[[noreturn]] void refuseStale(db::Database &db, const std::string &branch, const std::string &order,
                              const std::string *item, const char *field,
                              const std::optional<std::string> &stored, QCborValue wire)
{
    std::string sql = "SELECT CDUSUARIO, DTAUDITORIA, DSVALORNOV FROM AUDITORIA"
                      " WHERE CDFILIAL = ? AND NRPEDIDO = ? AND NMCAMPO = ?";
    sql += item ? " AND NRITEMPED = ?" : " AND NRITEMPED IS NULL";
    sql += " ORDER BY IDAUDITORIA DESC LIMIT 1";
    auto last = db.prepare(sql);
    last->bindText(1, branch);
    last->bindText(2, order);
    last->bindText(3, field);
    if (item)
        last->bindText(4, *item);
    QString user, when;
    if (last->step() && normalised(cell(*last, 2)) == stored) {
        user = QString::fromUtf8(last->text(0).data(), qsizetype(last->text(0).size()));
        when = QString::fromUtf8(last->text(1).data(), qsizetype(last->text(1).size())).left(19);
    }
    last->reset();
    const QString subject = item ? QStringLiteral("O item %1 do pedido %2").arg(QString::fromStdString(*item),
                                                                                 QString::fromStdString(order))
                                 : QStringLiteral("O pedido %1").arg(QString::fromStdString(order));
    QString who;
    if (user.isEmpty()) {
        who = QStringLiteral("por outro usuário");
    } else {
        const QDateTime at = QDateTime::fromString(when, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        who = QStringLiteral("por %1 em %2").arg(user, at.isValid() ? at.toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                                                                    : when);
    }
    throw ConflictError(QStringLiteral("%1 foi alterado %2 (%3). Sua alteração não foi gravada.")
                            .arg(subject, who, shownValue(field, stored)),
                        std::move(wire), user, when);
}

} // namespace

PayloadWriter DescEmiPedService::getPedido(db::Database &db, const PedidoFilter &filter)
{
    const Where where = buildWhere(db.dialect(), filter);
    auto read = std::make_shared<StreamedRead>(db);
    auto orders = db.prepare(
        "SELECT P.NRPEDIDO,"
        " CASE WHEN P.CDFILDEST IS NOT NULL THEN F.NMFILIAL ELSE C.NMRAZSOCCLIE END,"
        " P.DTPEDIDO, P.DTENTPED, P.CDFILIAL"
        " FROM PEDIDO P"
        " LEFT JOIN CLIENTE C ON C.CDCLIENTE = P.CDCLIENTE"
        " LEFT JOIN FILIAL F ON F.CDFILIAL = P.CDFILDEST"
        + where.sql + " ORDER BY P.CDFILIAL, P.NRPEDIDO");
    auto items = db.prepare(
        "SELECT I.NRPEDIDO, I.NRITEMPED, I.CDPRODUTO, PR.CDARVPROD, I.QTITEMPED, PR.NMPRODUTO,"
        " PR.CDPRODESTO, I.CDFILIAL, I.DSEMISSAOITPED"
        " FROM PEDIDO P"
        " JOIN ITEMPEDIDO I ON I.CDFILIAL = P.CDFILIAL AND I.NRPEDIDO = P.NRPEDIDO"
        " LEFT JOIN PRODUTO PR ON PR.CDPRODUTO = I.CDPRODUTO"
        + where.sql + " ORDER BY I.CDFILIAL, I.NRPEDIDO, I.NRITEMPED");
    bindAll(*orders, where.params);
    bindAll(*items, where.params);
    read->statements.push_back(std::move(orders));
    read->statements.push_back(std::move(items));
    return [read](ReplyWriter &w) {
        w.beginArray(2);
        if (PacketWriter::write(w, kOrderFields, *read->statements[0]) < 0)
            return false;
        if (PacketWriter::write(w, kItemFields, *read->statements[1]) < 0)
            return false;
        w.endArray();
        read->tx.commit();
        return true;
    };
}

PayloadWriter DescEmiPedService::getNrPedido(db::Database &db, const std::string &branch)
{
    auto read = std::make_shared<StreamedRead>(db);
    std::string sql = "SELECT NULL, P.NRPEDIDO,"
                      " CASE WHEN P.CDFILDEST IS NOT NULL THEN F.NMFILIAL ELSE C.NMFANTCLIE END"
                      " FROM PEDIDO P"
                      " LEFT JOIN CLIENTE C ON C.CDCLIENTE = P.CDCLIENTE"
                      " LEFT JOIN FILIAL F ON F.CDFILIAL = P.CDFILDEST";
    if (!branch.empty())
        sql += " WHERE P.CDFILIAL = ?";
    sql += " ORDER BY P.NRPEDIDO, P.CDFILIAL";
    auto stmt = db.prepare(sql);
    if (!branch.empty())
        stmt->bindText(1, branch);
    read->statements.push_back(std::move(stmt));
    return [read](ReplyWriter &w) {
        if (PacketWriter::write(w, kNumberFields, *read->statements[0]) < 0)
            return false;
        read->tx.commit();
        return true;
    };
}

PayloadWriter DescEmiPedService::getFilial(db::Database &db, const std::string &company, bool all)
{
    // The branches: a few rows, not worth the memory map.
    auto read = std::make_shared<StreamedRead>(db, db::Transaction::Lookup);
    std::string sql = "SELECT CDFILIAL, NMFILIAL, CDSEGMER FROM FILIAL WHERE 1 = 1";
    if (!company.empty())
        sql += " AND CDEMPRESA = ?";
    if (!all)
        sql += " AND IDCNTRRESC = 'N'";
    sql += " ORDER BY CDFILIAL";
    auto stmt = db.prepare(sql);
    if (!company.empty())
        stmt->bindText(1, company);
    read->statements.push_back(std::move(stmt));
    return [read](ReplyWriter &w) {
        if (PacketWriter::write(w, kBranchFields, *read->statements[0]) < 0)
            return false;
        read->tx.commit();
        return true;
    };
}

void DescEmiPedService::setDescEmi(db::Database &db, const std::string &user, const std::string &description,
                                   const std::string &branch, const std::string &order, const std::string &item,
                                   const Expected &expected)
{
    if (utf8::leadBytes(QByteArrayView(description.data(), qsizetype(description.size()))) > kDescriptionMax)
        throw ServiceError(QStringLiteral("A descrição para emissão não pode ter mais de %1 caracteres.")
                               .arg(kDescriptionMax));
    for (char c : description) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r')
            throw ServiceError(QStringLiteral("A descrição para emissão contém caracteres de controle."));
    }
    db::Transaction tx(db, true);
    auto find = db.prepare(locked(db, "SELECT DSEMISSAOITPED FROM ITEMPEDIDO"
                                      " WHERE CDFILIAL = ? AND NRPEDIDO = ? AND NRITEMPED = ?"));
    find->bindText(1, branch);
    find->bindText(2, order);
    find->bindText(3, item);
    if (!find->step())
        throw ServiceError(QStringLiteral("Item %1 do pedido %2 da filial %3 não encontrado.")
                               .arg(QString::fromStdString(item), QString::fromStdString(order),
                                    QString::fromStdString(branch)));
    const std::optional<std::string> before = normalised(cell(*find, 0));
    find->reset();
    // The empty text is "no description", as everywhere on the screen.
    const std::optional<std::string> after = normalised(description);
    // Storing what is there already changes nothing, whatever the clerk saw:
    // another clerk who stored the same text is no conflict.
    if (after == before)
        return tx.commit();
    if (expected.present && normalised(expected.value) != before)
        refuseStale(db, branch, order, &item, "DSEMISSAOITPED", before,
                    before ? QCborValue(QString::fromStdString(*before)) : QCborValue(nullptr));
    auto update = db.prepare("UPDATE ITEMPEDIDO SET DSEMISSAOITPED = ?"
                             " WHERE CDFILIAL = ? AND NRPEDIDO = ? AND NRITEMPED = ?");
    if (after)
        update->bindText(1, *after);
    else
        update->bindNull(1);
    update->bindText(2, branch);
    update->bindText(3, order);
    update->bindText(4, item);
    update->exec();
    audit(db, user, branch, order, &item, "DSEMISSAOITPED", before, after);
    tx.commit();
}

void DescEmiPedService::setDtEntregaPed(db::Database &db, const std::string &user, long long day,
                                        const std::string &branch, const std::string &order, long long today,
                                        const Expected &expected)
{
    if (day < today)
        throw ServiceError(QStringLiteral("A data de entrega não pode ser anterior à data atual."));
    if (day > db::kLastDay)
        throw ServiceError(QStringLiteral("Data de entrega inválida."));
    db::Transaction tx(db, true);
    auto find = db.prepare(locked(db, "SELECT DTPEDIDO, DTENTPED FROM PEDIDO WHERE CDFILIAL = ? AND NRPEDIDO = ?"));
    find->bindText(1, branch);
    find->bindText(2, order);
    if (!find->step())
        throw ServiceError(QStringLiteral("Pedido %1 da filial %2 não encontrado.")
                               .arg(QString::fromStdString(order), QString::fromStdString(branch)));
    long long entry = 0;
    if (!db::dayCountFromIso(find->text(0), &entry))
        throw db::DbError("PEDIDO.DTPEDIDO ilegível");
    // Whole days: a stored time of day plays no part.
    std::optional<std::string> before = normalised(cell(*find, 1));
    if (before)
        before = before->substr(0, 10);
    find->reset();
    if (day < entry)
        throw ServiceError(QStringLiteral("A data de entrega não pode ser anterior à data do pedido."));
    const std::string after = db::isoFromDayCount(day);
    if (before == after)
        return tx.commit();
    if (expected.present && normalised(expected.value) != before) {
        long long storedDay = 0;
        const bool readable = before && db::dayCountFromIso(*before, &storedDay);
        refuseStale(db, branch, order, nullptr, "DTENTPED", before,
                    readable ? QCborValue(double(storedDay)) : QCborValue(nullptr));
    }
    auto update = db.prepare("UPDATE PEDIDO SET DTENTPED = ? WHERE CDFILIAL = ? AND NRPEDIDO = ?");
    update->bindText(1, after);
    update->bindText(2, branch);
    update->bindText(3, order);
    update->exec();
    audit(db, user, branch, order, nullptr, "DTENTPED", before, after);
    tx.commit();
}

PayloadWriter DescEmiPedService::getHistorico(db::Database &db, const std::string &branch, const std::string &order,
                                              const std::string &item)
{
    // Formatted by the database so that the rows stream like every other
    // packet: the audit time is "yyyy-mm-dd hh:mm:ss" text on SQLite and a
    // timestamp on PostgreSQL, both cast to the same text.
    const auto day = [](const char *iso) {
        const std::string c = std::string("CAST(") + iso + " AS VARCHAR(30))";
        return "substr(" + c + ", 9, 2) || '/' || substr(" + c + ", 6, 2) || '/' || substr(" + c + ", 1, 4)";
    };
    const auto value = [&](const char *column) {
        return std::string("CASE WHEN NMCAMPO = 'DTENTPED' AND ") + column + " IS NOT NULL THEN " + day(column)
               + " ELSE " + column + " END";
    };
    std::string sql = "SELECT " + day("DTAUDITORIA") + " || ' ' || substr(CAST(DTAUDITORIA AS VARCHAR(30)), 12, 5),"
                      " CDUSUARIO,"
                      " CASE NMCAMPO WHEN 'DTENTPED' THEN 'Data Entrega'"
                      " WHEN 'DSEMISSAOITPED' THEN 'Descrição para Emissão' ELSE NMCAMPO END, "
                      + value("DSVALORANT") + ", " + value("DSVALORNOV")
                      + " FROM AUDITORIA WHERE CDFILIAL = ? AND NRPEDIDO = ?";
    sql += item.empty() ? " AND NRITEMPED IS NULL" : " AND NRITEMPED = ?";
    sql += " ORDER BY IDAUDITORIA DESC";
    auto read = std::make_shared<StreamedRead>(db, db::Transaction::Lookup);   // one order's lines
    auto stmt = db.prepare(sql);
    stmt->bindText(1, branch);
    stmt->bindText(2, order);
    if (!item.empty())
        stmt->bindText(3, item);
    read->statements.push_back(std::move(stmt));
    return [read](ReplyWriter &w) {
        if (PacketWriter::write(w, kHistoryFields, *read->statements[0]) < 0)
            return false;
        read->tx.commit();
        return true;
    };
}

} // namespace opd::appserver
