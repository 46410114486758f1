#include "bench/office/OfficeLoad.h"

#include "db/DayCount.h"

#include <httplib.h>

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

namespace opd::bench {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

QCborMap arg(const char *kind, const QCborValue &value)
{
    return QCborMap{{QStringLiteral("kind"), QLatin1String(kind)}, {QStringLiteral("value"), value}};
}

QByteArray request(const char *method, const QCborArray &params, qint64 id)
{
    return QCborMap{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("method"), QStringLiteral("OPD31000.rdmDescEmiPed.") + QLatin1String(method)},
                    {QStringLiteral("params"), params}}
        .toCborValue().toCbor();
}

// The screen's opening search: statuses "12", entry dates today-2..today,
// issuing branch `branch`, everything else unrestricted.
QCborArray searchParams(const QString &branch, long long today)
{
    const auto ref = [](const QString &text) { return arg("text&", text); };
    const auto num = [](double value) { return arg("number&", value); };
    const QString t = QStringLiteral("T"), e;
    return {ref(t), ref(e), ref(e), ref(t), ref(e), ref(t), ref(e),
            ref(e), num(double(today - 2)), num(double(today)),
            ref(t), num(0), num(0), ref(t), arg("text", branch),
            ref(e), ref(e), ref(t), ref(QStringLiteral("12")), ref(e)};
}

struct Row
{
    QString order, item;   // item empty for an order row
};

struct Answer
{
    bool ok = false;
    QCborValue payload;
};

Answer decode(const std::string &body)
{
    const QCborMap map = QCborValue::fromCbor(QByteArray::fromRawData(body.data(), qsizetype(body.size()))).toMap();
    const QCborMap result = map.value(QStringLiteral("result")).toMap();
    return {result.value(QStringLiteral("ok")).toBool(), result.value(QStringLiteral("payload"))};
}

QCborArray rowsOf(const QCborValue &packet)
{
    return packet.toMap().value(QStringLiteral("rows")).toArray();
}

struct Clerk
{
    const OfficeLoadConfig &config;
    int index;
    Clock::time_point runStart;
    Clock::time_point runEnd;
    OfficeLoadResult local;
    std::mt19937 random;

    Clerk(const OfficeLoadConfig &c, int i, Clock::time_point start, Clock::time_point end)
        : config(c), index(i), runStart(start), runEnd(end), random(std::uint32_t(1000 + i)) {}

    void pause(double meanMs)
    {
        std::uniform_real_distribution<double> spread(0.5, 1.5);
        const auto until = Clock::now() + std::chrono::microseconds(qint64(meanMs * spread(random) * 1000));
        std::this_thread::sleep_until(std::min(until, runEnd));
    }

    // One call; the answer's payload when ok, and its time in *ms.
    bool call(httplib::Client &client, const QByteArray &body, Answer *answer, double *ms)
    {
        const Clock::time_point start = Clock::now();
        httplib::Headers headers;
        if (!config.token.empty())
            headers.emplace("Authorization", "Bearer " + config.token);
        auto r = client.Post("/rpc", headers, body.constData(), size_t(body.size()), "application/cbor");
        *ms = msSince(start);
        if (!r || r->status != 200) {
            ++local.failures;
            return false;
        }
        *answer = decode(r->body);
        if (!answer->ok) {
            ++local.failures;
            return false;
        }
        if (Clock::now() <= runEnd)
            ++local.calls;
        return true;
    }

    void run()
    {
        const double ramp = config.rampSeconds * double(index) / double(std::max(1, config.clerks));
        std::this_thread::sleep_until(runStart + std::chrono::microseconds(qint64(ramp * 1e6)));
        const QString branch = QStringLiteral("%1").arg(index % std::max(1, config.branches) + 1, 4, 10, QLatin1Char('0'));
        const long long today = db::todayDayCount();
        const double timeout = config.callTimeoutSeconds > 0 ? config.callTimeoutSeconds : config.seconds + 3;

        httplib::Client client(config.url);
        client.set_tcp_nodelay(true);
        client.set_keep_alive(true);
        client.set_connection_timeout(std::chrono::milliseconds(qint64(timeout * 1000)));
        client.set_read_timeout(std::chrono::milliseconds(qint64(timeout * 1000)));
        client.set_write_timeout(std::chrono::milliseconds(qint64(timeout * 1000)));

        const QByteArray search = request("GetPedido", searchParams(branch, today), 1);
        qint64 id = 1;
        bool first = true;
        while (first || Clock::now() < runEnd) {
            Answer answer;
            double ms = 0;
            const bool ok = call(client, search, &answer, &ms);
            if (first) {
                local.firstAnswerMs.push_back(ms);
                if (!ok)
                    ++local.unanswered;
                first = false;
            }
            if (!ok) {
                pause(config.thinkMs);
                continue;
            }
            local.searchMs.push_back(ms);
            const QCborArray payload = answer.payload.toArray();
            const QCborArray orders = rowsOf(payload.at(0));
            const QCborArray items = rowsOf(payload.at(1));
            pause(config.thinkMs);
            std::uniform_int_distribution<int> writes(1, 3);
            for (int w = writes(random); w > 0 && Clock::now() < runEnd; --w) {
                QByteArray body;
                if (w % 2 && !items.isEmpty()) {
                    const QCborArray row = items.at(std::uniform_int_distribution<qsizetype>(0, items.size() - 1)(random)).toArray();
                    body = request("SetDescEmi",
                                   {arg("text", QStringLiteral("Entrega conferida pelo balconista %1, rodada %2").arg(index).arg(id)),
                                    arg("text", row.at(7)), arg("text", row.at(0)), arg("text", row.at(1))},
                                   ++id);
                } else if (!orders.isEmpty()) {
                    const QCborArray row = orders.at(std::uniform_int_distribution<qsizetype>(0, orders.size() - 1)(random)).toArray();
                    const double day = double(today + 1 + std::uniform_int_distribution<int>(0, 29)(random));
                    body = request("SetDtEntregaPed", {arg("date", day), arg("text", row.at(4)), arg("text", row.at(0))},
                                   ++id);
                } else {
                    break;
                }
                if (call(client, body, &answer, &ms))
                    local.writeMs.push_back(ms);
                pause(config.thinkMs / 3);
            }
        }
    }
};

} // namespace

double OfficeLoadResult::percentile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(q * double(values.size())));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

OfficeLoadResult runOfficeLoad(const OfficeLoadConfig &config)
{
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(50);
    const Clock::time_point end = start + std::chrono::microseconds(qint64(config.seconds * 1e6));
    std::vector<std::unique_ptr<Clerk>> clerks;
    std::vector<std::thread> threads;
    for (int i = 0; i < config.clerks; ++i)
        clerks.push_back(std::make_unique<Clerk>(config, i, start, end));
    for (auto &clerk : clerks)
        threads.emplace_back([&clerk] { clerk->run(); });
    for (auto &t : threads)
        t.join();

    OfficeLoadResult all;
    all.clerks = config.clerks;
    all.elapsedSeconds = config.seconds;
    for (const auto &clerk : clerks) {
        const OfficeLoadResult &r = clerk->local;
        all.firstAnswerMs.insert(all.firstAnswerMs.end(), r.firstAnswerMs.begin(), r.firstAnswerMs.end());
        all.searchMs.insert(all.searchMs.end(), r.searchMs.begin(), r.searchMs.end());
        all.writeMs.insert(all.writeMs.end(), r.writeMs.begin(), r.writeMs.end());
        all.calls += r.calls;
        all.failures += r.failures;
        all.unanswered += r.unanswered;
    }
    return all;
}

} // namespace opd::bench
