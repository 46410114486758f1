#include "appserver/DescEmiPedService.h"

#include "appserver/ListText.h"
#include "appserver/PacketWriter.h"
#include "db/DayCount.h"

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

std::string inList(db::Dialect dialect, const char *column, bool integers = false)
{
    std::string s = std::string(" AND ") + column + " IN (SELECT ";
    if (dialect == db::Dialect::Sqlite)
        return s + "value FROM json_each(?))";
    return s + (integers ? "CAST(json_array_elements_text(CAST(? AS json)) AS integer))"
                         : "json_array_elements_text(CAST(? AS json)))");
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
    const auto list = [&](const std::optional<std::vector<std::string>> &keys, const char *column) {
        if (!keys)
            return;
        w.sql += inList(dialect, column);
        w.params.emplace_back(ListText::toJsonArray(*keys));
    };
    list(f.numbers, "P.NRPEDIDO");
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
        w.sql += inList(dialect, "P.CDSTATUS", true);
        std::string json = "[";
        for (size_t i = 0; i < f.statuses->size(); ++i)
            json += (i ? "," : "") + std::to_string((*f.statuses)[i]);
        w.params.emplace_back(json + "]");
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
    {"NRPEDIDO", PacketType::String, 10}, {"NMRAZSOCCLIE", PacketType::String, 50},
    {"DTPEDIDO", PacketType::DateTime, 8}, {"DTENTPED", PacketType::DateTime, 8},
    {"CDFILIAL", PacketType::String, 4}};
const std::vector<PacketField> kItemFields = {
    {"NRPEDIDO", PacketType::String, 10}, {"NRITEMPED", PacketType::String, 10},
    {"CDPRODUTO", PacketType::String, 10}, {"CDARVPROD", PacketType::String, 20},
    {"QTITEMPED", PacketType::Float, 8}, {"NMPRODUTO", PacketType::String, 50},
    {"CDPRODESTO", PacketType::String, 10}, {"CDFILIAL", PacketType::String, 4},
    {"DSEMISSAOITPED", PacketType::String, 400}};
const std::vector<PacketField> kNumberFields = {
    {"IDMARCADO", PacketType::Fixed, 1}, {"NRPEDIDO", PacketType::String, 10},
    {"NMFANTCLIE", PacketType::String, 50}};
const std::vector<PacketField> kBranchFields = {
    {"CDFILIAL", PacketType::String, 4}, {"NMFILIAL", PacketType::String, 30},
    {"CDSEGMER", PacketType::String, 5}};

// A read that is streamed after the handler returned: the statements and the
// read transaction live as long as the writer (until the answer is sent).
struct StreamedRead
{
    explicit StreamedRead(db::Database &db) : tx(db, false) {}
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

qsizetype utf8Chars(const std::string &text)
{
    qsizetype n = 0;
    for (char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
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
    auto read = std::make_shared<StreamedRead>(db);
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
                                   const std::string &branch, const std::string &order, const std::string &item)
{
    if (utf8Chars(description) > kDescriptionMax)
        throw ServiceError(QStringLiteral("A descrição para emissão não pode ter mais de %1 caracteres.")
                               .arg(kDescriptionMax));
    for (char c : description) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r')
            throw ServiceError(QStringLiteral("A descrição para emissão contém caracteres de controle."));
    }
    db::Transaction tx(db, true);
    auto find = db.prepare("SELECT DSEMISSAOITPED FROM ITEMPEDIDO"
                           " WHERE CDFILIAL = ? AND NRPEDIDO = ? AND NRITEMPED = ?");
    find->bindText(1, branch);
    find->bindText(2, order);
    find->bindText(3, item);
    if (!find->step())
        throw ServiceError(QStringLiteral("Item %1 do pedido %2 da filial %3 não encontrado.")
                               .arg(QString::fromStdString(item), QString::fromStdString(order),
                                    QString::fromStdString(branch)));
    const std::optional<std::string> before = cell(*find, 0);
    find->reset();
    // The empty text is "no description", as everywhere on the screen.
    const std::optional<std::string> after =
        description.empty() ? std::nullopt : std::optional<std::string>(description);
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
                                        const std::string &branch, const std::string &order, long long today)
{
    if (day < today)
        throw ServiceError(QStringLiteral("A data de entrega não pode ser anterior à data atual."));
    if (day > db::kLastDay)
        throw ServiceError(QStringLiteral("Data de entrega inválida."));
    db::Transaction tx(db, true);
    auto find = db.prepare("SELECT DTPEDIDO, DTENTPED FROM PEDIDO WHERE CDFILIAL = ? AND NRPEDIDO = ?");
    find->bindText(1, branch);
    find->bindText(2, order);
    if (!find->step())
        throw ServiceError(QStringLiteral("Pedido %1 da filial %2 não encontrado.")
                               .arg(QString::fromStdString(order), QString::fromStdString(branch)));
    long long entry = 0;
    if (!db::dayCountFromIso(find->text(0), &entry))
        throw db::DbError("PEDIDO.DTPEDIDO ilegível");
    const std::optional<std::string> before = cell(*find, 1);
    find->reset();
    if (day < entry)
        throw ServiceError(QStringLiteral("A data de entrega não pode ser anterior à data do pedido."));
    const std::string after = db::isoFromDayCount(day);
    auto update = db.prepare("UPDATE PEDIDO SET DTENTPED = ? WHERE CDFILIAL = ? AND NRPEDIDO = ?");
    update->bindText(1, after);
    update->bindText(2, branch);
    update->bindText(3, order);
    update->exec();
    audit(db, user, branch, order, nullptr, "DTENTPED",
          before ? std::optional<std::string>(before->substr(0, 10)) : std::nullopt, after);
    tx.commit();
}

} // namespace opd::appserver
