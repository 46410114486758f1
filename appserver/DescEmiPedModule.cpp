#include "appserver/DescEmiPedModule.h"

#include "db/DayCount.h"
#include "platform/ListText.h"
#include "platform/Utf8.h"

#include <cmath>

namespace opd::appserver {

namespace {

std::string trimmed(const QByteArray &utf8)
{
    return utf8.trimmed().toStdString();
}

// Characters, not bytes: "ção" is three.
qsizetype characters(const std::string &utf8)
{
    return utf8::leadBytes(QByteArrayView(utf8.data(), qsizetype(utf8.size())));
}

// "T" is true and the empty text false; anything else is a client fault.
bool flag(const RpcArg &arg, const char *what)
{
    const QByteArray &value = arg.text;
    if (value == "T")
        return true;
    if (value.isEmpty())
        return false;
    throw ServiceError(QStringLiteral("Indicador inválido para %1: \"%2\" (use \"T\" ou vazio).")
                           .arg(QLatin1String(what), QString::fromUtf8(arg.text)));
}

std::vector<std::string> list(const RpcArg &arg, const char *what)
{
    std::vector<std::string> keys;
    if (!listtext::parse(std::string_view(arg.text.constData(), size_t(arg.text.size())), &keys))
        throw ServiceError(QStringLiteral("Lista de %1 inválida.").arg(QLatin1String(what)));
    return keys;
}

std::string orderNumber(const RpcArg &arg)
{
    const QByteArray value = arg.text.trimmed();
    if (value.isEmpty() || value.size() > 10)
        throw ServiceError(QStringLiteral("Intervalo de números de pedido inválido."));
    for (char c : value) {
        if (c < '0' || c > '9')
            throw ServiceError(QStringLiteral("Intervalo de números de pedido inválido."));
    }
    return QByteArray(10 - value.size(), '0').append(value).toStdString();
}

// Whole days of a day count, the time of day cut off.
long long wholeDay(double value, const QString &what)
{
    const double day = std::trunc(value);
    if (!std::isfinite(value) || day < double(db::kFirstDay) || day > double(db::kLastDay))
        throw ServiceError(QStringLiteral("Data inválida em %1.").arg(what));
    return (long long)day;
}

std::string branchCode(const RpcArg &arg)
{
    const std::string code = trimmed(arg.text);
    if (characters(code) > 4)
        throw ServiceError(QStringLiteral("Código de filial inválido: \"%1\".").arg(QString::fromStdString(code)));
    return code;
}

std::string text(const RpcArg &arg)
{
    return arg.text.toStdString();
}

// The description the clerk saw: a text, or null for none.
Expected expectedText(const QCborValue &expect)
{
    Expected e;
    if (expect.isUndefined())
        return e;
    e.present = true;
    if (expect.isString())
        e.value = expect.toString().toUtf8().toStdString();
    else if (!expect.isNull())
        throw ServiceError(QStringLiteral("Valor esperado inválido: deve ser um texto ou null."));
    return e;
}

// The delivery date the clerk saw: a day count (whole days), or null for none.
Expected expectedDate(const QCborValue &expect)
{
    Expected e;
    if (expect.isUndefined())
        return e;
    e.present = true;
    if (expect.isNull())
        return e;
    const double value = expect.isInteger() ? double(expect.toInteger()) : expect.isDouble() ? expect.toDouble() : -1;
    if (!std::isfinite(value) || value < double(db::kFirstDay) || value > double(db::kLastDay + 1))
        throw ServiceError(QStringLiteral("Valor esperado inválido: deve ser uma data (número de dias) ou null."));
    e.value = db::isoFromDayCount((long long)std::trunc(value));
    return e;
}

} // namespace

PedidoFilter DescEmiPedModule::decodeFilter(const std::vector<RpcArg> &a)
{
    PedidoFilter f;
    if (!flag(a[0], "intervalo de pedidos"))
        f.numberRange = std::make_pair(orderNumber(a[1]), orderNumber(a[2]));
    if (!flag(a[3], "lista de pedidos"))
        f.numbers = list(a[4], "pedidos");
    if (!flag(a[5], "clientes"))
        f.customers = list(a[6], "clientes");
    if (!flag(a[7], "data de lançamento"))
        f.entryDays = std::make_pair(wholeDay(a[8].number, QStringLiteral("data de lançamento inicial")),
                                     wholeDay(a[9].number, QStringLiteral("data de lançamento final")));
    if (!flag(a[10], "data de entrega"))
        f.deliveryDays = std::make_pair(wholeDay(a[11].number, QStringLiteral("data de entrega inicial")),
                                        wholeDay(a[12].number, QStringLiteral("data de entrega final")));
    if (!flag(a[13], "filiais de destino"))
        f.destinations = list(a[15], "filiais de destino");
    f.branch = branchCode(a[14]);
    if (!flag(a[17], "vendedores"))
        f.sellers = list(a[16], "vendedores");

    // Each character is one status code; every character is checked even
    // when all statuses are asked for, so that a garbled text never passes.
    // Blanks are characters too: nothing is trimmed.
    const QByteArray &codes = a[18].text;
    std::vector<int> statuses;
    for (char c : codes) {
        if (c < '1' || c > '6')
            throw ServiceError(QStringLiteral("Situação do pedido inválida: \"%1\".").arg(QString::fromUtf8(a[18].text)));
        statuses.push_back(c - '0');
    }
    if (!flag(a[19], "todas as situações")) {
        if (statuses.empty())
            throw ServiceError(QStringLiteral("Situação do pedido deve ser informada."));
        f.statuses = std::move(statuses);
    }
    return f;
}

void DescEmiPedModule::registerIn(ModuleRegistry &registry)
{
    const QString module = QLatin1String(name());
    using K = ArgKind;

    std::vector<ArgKind> getPedidoKinds(20, K::TextRef);
    for (int i : {8, 9, 11, 12})
        getPedidoKinds[size_t(i)] = K::NumberRef;
    getPedidoKinds[14] = K::Text;
    registry.add(module, QStringLiteral("GetPedido"), getPedidoKinds,
                 [](CallContext &ctx, const std::vector<RpcArg> &args) {
                     return DescEmiPedService::getPedido(ctx.db, decodeFilter(args));
                 }, Access::Read);

    registry.add(module, QStringLiteral("GetNrPedido"), {K::Text},
                 [](CallContext &ctx, const std::vector<RpcArg> &args) {
                     return DescEmiPedService::getNrPedido(ctx.db, branchCode(args[0]));
                 }, Access::Read);

    registry.add(module, QStringLiteral("getFilial"), {K::Text, K::Text},
                 [](CallContext &ctx, const std::vector<RpcArg> &args) {
                     const std::string company = trimmed(args[0].text);
                     if (characters(company) > 4)
                         throw ServiceError(QStringLiteral("Código de empresa inválido."));
                     return DescEmiPedService::getFilial(ctx.db, company, flag(args[1], "todas as filiais"));
                 }, Access::Read);

    registry.add(module, QStringLiteral("SetDescEmi"), {K::Text, K::Text, K::Text, K::Text},
                 [](CallContext &ctx, const std::vector<RpcArg> &args) {
                     DescEmiPedService::setDescEmi(ctx.db, ctx.user, text(args[0]), branchCode(args[1]),
                                                   trimmed(args[2].text), trimmed(args[3].text),
                                                   expectedText(ctx.expect));
                     return PayloadWriter();
                 });

    registry.add(module, QStringLiteral("SetDtEntregaPed"), {K::Date, K::Text, K::Text},
                 [](CallContext &ctx, const std::vector<RpcArg> &args) {
                     // No date (0) reads as 30/12/1899, refused as being before today.
                     const double value = args[0].number;
                     if (!std::isfinite(value) || value < 0 || value > double(db::kLastDay + 1))
                         throw ServiceError(QStringLiteral("Data de entrega inválida."));
                     DescEmiPedService::setDtEntregaPed(ctx.db, ctx.user, (long long)std::trunc(value),
                                                        branchCode(args[1]), trimmed(args[2].text),
                                                        db::todayDayCount(), expectedDate(ctx.expect));
                     return PayloadWriter();
                 });

    registry.add(module, QStringLiteral("GetHistorico"), {K::Text, K::Text, K::Text},
                 [](CallContext &ctx, const std::vector<RpcArg> &args) {
                     return DescEmiPedService::getHistorico(ctx.db, branchCode(args[0]), trimmed(args[1].text),
                                                            trimmed(args[2].text));
                 }, Access::Read);
}

} // namespace opd::appserver
