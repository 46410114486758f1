// Measures how close decoding a large GetPedido answer comes to merely
// receiving its bytes: the same streamed answer (100,000 orders, 1,000,000
// items) is fetched once by a bare HTTP client that only counts bytes, and
// once through TNetConnection, which decodes it into two data packets while
// it arrives. With --port P the answer comes from an opd-appserver already
// listening on 127.0.0.1:P instead (every order of every branch and status:
// seed it with opd-seed --orders 100000 for 1,000,000 items).
// Before that, the cost of a small call: the same tiny request and answer
// sent a few thousand times by a bare keep-alive client (the quicker of
// cpp-httplib and the transport's own connection code, alone) and through
// TNetConnection (hand-over to its worker and back); the difference is the
// transport's own overhead per call (small_call_overhead_ms).
// The decoder alone (no network, the same answer in 4 KiB pieces) runs 5
// times first; --decode-only [N] runs only that, N times, for profilers.
// Not a test: it prints figures; the last line is
//   decode_vs_receive_1m=R   (goal: close to 1)

#include "bench/Median.h"
#include "FakeAppServer.h"
#include "TestPackets.h"
#include "platform/DataPacket.h"
#include "server/RemoteResult.h"
#include "server/RpcAnswerReader.h"
#include "server/RpcRequest.h"
#include "server/TNetConnection.h"

#include <QCborStreamWriter>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "server/HttpClient.h"

#include <httplib.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <cstdio>
#include <vector>

using opd::DataPacket;
using TestPackets::field;
using opd::FieldType;

using opd::bench::median;

static QByteArray number(qint64 n, int width)
{
    return QByteArray::number(n).rightJustified(width, '0');
}

static QByteArray buildAnswer(int orders, int itemsPerOrder)
{
    DataPacket o({field("NRPEDIDO", FieldType::String, 10), field("NMRAZSOCCLIE", FieldType::String, 50),
                  field("DTPEDIDO", FieldType::DateTime, 8), field("DTENTPED", FieldType::DateTime, 8),
                  field("CDFILIAL", FieldType::String, 4)});
    DataPacket it({field("NRPEDIDO", FieldType::String, 10), field("NRITEMPED", FieldType::String, 10),
                   field("CDPRODUTO", FieldType::String, 10), field("CDARVPROD", FieldType::String, 20),
                   field("QTITEMPED", FieldType::Float, 8), field("NMPRODUTO", FieldType::String, 50),
                   field("CDPRODESTO", FieldType::String, 10), field("CDFILIAL", FieldType::String, 4),
                   field("DSEMISSAOITPED", FieldType::String, 400)});
    o.reserve(orders);
    it.reserve(qsizetype(orders) * itemsPerOrder);
    for (int i = 0; i < orders; ++i) {
        const QByteArray nr = number(i + 1, 10);
        o.appendText(nr);
        o.appendText("Comércio de Alimentos Nordeste " + QByteArray::number(i % 997));
        o.appendNumber(46000 + i % 30);
        if (i % 3)
            o.appendNumber(46010 + i % 30);
        else
            o.appendNull();
        o.appendText("0001");
        o.endRow();
        for (int k = 0; k < itemsPerOrder; ++k) {
            it.appendText(nr);
            it.appendText(number(k + 1, 10));
            it.appendText(number((i * 7 + k) % 5000, 6));
            it.appendText("01.02." + number(k, 3) + ".0001");
            it.appendNumber(1 + (i + k) % 40);
            it.appendText("Farinha de trigo tipo 1 pacote 5 kg " + QByteArray::number(k));
            it.appendText(number((i + k) % 900, 6));
            it.appendText("0001");
            it.appendText("Farinha de trigo especial para panificação, embalagem de 5 kg");
            it.endRow();
        }
    }
    return FakeAppServer::cborOk(1, [&](QCborStreamWriter &w) {
        w.startArray(2);
        o.writeCbor(w);
        it.writeCbor(w);
        w.endArray();
    });
}

static QList<opd::RemoteArg> everyOrder()
{
    using opd::RemoteArg;
    const QString t = QStringLiteral("T");
    return {RemoteArg::textRef(t), RemoteArg::textRef({}), RemoteArg::textRef({}), RemoteArg::textRef(t),
            RemoteArg::textRef({}), RemoteArg::textRef(t), RemoteArg::textRef({}), RemoteArg::textRef(t),
            RemoteArg::numberRef(0), RemoteArg::numberRef(0), RemoteArg::textRef(t), RemoteArg::numberRef(0),
            RemoteArg::numberRef(0), RemoteArg::textRef(t), RemoteArg::text({}), RemoteArg::textRef({}),
            RemoteArg::textRef({}), RemoteArg::textRef(t), RemoteArg::textRef(QStringLiteral("123546")),
            RemoteArg::textRef(t)};
}

// Median of 5 rounds of `calls` small calls, in milliseconds per call.
static double smallCallMs(const std::function<void()> &call, int calls)
{
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < calls; ++i)
            call();
        rounds.push_back(t.nsecsElapsed() / 1e6 / calls);
    }
    return median(rounds);
}

static int smallCalls()
{
    FakeAppServer fake;
    const int calls = 2000;
    httplib::Client client("127.0.0.1", fake.port());
    client.set_tcp_nodelay(true);
    client.set_keep_alive(true);
    const QByteArray body = RpcRequest::encode(RpcRequest::Format::Cbor, 1,
                                               QStringLiteral("OPD31000.rdmDescEmiPed.GetNrPedido"),
                                               {opd::RemoteArg::text(QStringLiteral("0001"))});
    bool failed = false;
    const double library = smallCallMs([&] {
        auto res = client.Post("/rpc", body.toStdString(), "application/cbor");
        failed |= !res || res->status != 200;
    }, calls);
    // The same exchange on the connection code the transport uses, with
    // nothing of the transport around it (no worker, no decoding).
    HttpClient lean({"127.0.0.1", fake.port(), std::chrono::milliseconds(5000), std::chrono::milliseconds(5000)});
    const std::string_view request(body.constData(), size_t(body.size()));
    const double own = smallCallMs([&] {
        int status = 0;
        const HttpClient::Error e = lean.exchange(
            "POST", "/rpc", {}, "application/cbor", request,
            [&](int code, const std::string &) {
                status = code;
                return true;
            },
            [](const char *, size_t) { return true; });
        failed |= e != HttpClient::Error::Success || status != 200;
    }, calls);
    const double bare = std::min(library, own);

    TNetConnection net;
    fake.aim(net);
    net.setConnected(true);
    const double through = smallCallMs([&] {
        const QVariant r = net.AppServer().call(QStringLiteral("GetNrPedido"),
                                                {opd::RemoteArg::text(QStringLiteral("0001"))});
        failed |= !RemoteResult::isOk(r);
    }, calls);
    if (failed) {
        std::fprintf(stderr, "small calls failed\n");
        return 1;
    }
    std::printf("small call, bare keep-alive client: %.3f ms (cpp-httplib %.3f ms, the transport's connection alone %.3f ms)\n",
                bare, library, own);
    std::printf("small call through TNetConnection: %.3f ms\n", through);
    std::printf("small_call_overhead_ms=%.3f\n", through - bare);
    return 0;
}

static double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Decodes `answer` `runs` times, each with a fresh reader, and prints the
// median wall and CPU time of one decoding. The decoded answer is released
// outside the timed span. A single run swings by tens of percent on a busy
// machine; the CPU time is less exposed to the other load than the wall time.
static bool decodeOnly(const QByteArray &answer, int runs)
{
    std::vector<double> wall, cpu;
    for (int run = 0; run < runs; ++run) {
        QVariant result;
        {
            RpcAnswerReader reader;
            QElapsedTimer t;
            const double cpu0 = threadCpuSeconds();
            t.start();
            for (qsizetype pos = 0; pos < answer.size(); pos += 4096)
                reader.feed(QByteArrayView(answer).sliced(pos, std::min<qsizetype>(4096, answer.size() - pos)));
            const bool ok = reader.finish() == RpcAnswerReader::Done;
            wall.push_back(t.nsecsElapsed() / 1e9);
            cpu.push_back(threadCpuSeconds() - cpu0);
            if (!ok) {
                std::fprintf(stderr, "decode only failed: %s\n", qPrintable(reader.errorString()));
                return false;
            }
            result = reader.take();
        }
    }
    std::printf("decode only, no network: %.3f s (median of %d; fastest %.3f s), cpu %.3f s (least %.3f s)\n",
                median(wall), runs, *std::min_element(wall.begin(), wall.end()), median(cpu),
                *std::min_element(cpu.begin(), cpu.end()));
    return true;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = 5;
    const QStringList cli = app.arguments();
    const int realPort = cli.indexOf(QStringLiteral("--port")) > 0
                             ? cli.value(cli.indexOf(QStringLiteral("--port")) + 1).toInt() : 0;

    // --decode-only [N]: only the decoder, N times (default 5), for profilers.
    const qsizetype decodeAt = cli.indexOf(QStringLiteral("--decode-only"));
    const bool decodeOnlyMode = decodeAt > 0;
    const int decodeRuns = decodeOnlyMode ? std::max(1, cli.value(decodeAt + 1, QStringLiteral("5")).toInt()) : runs;

    if (cli.contains(QStringLiteral("--small-only")))
        return smallCalls();
    if (!decodeOnlyMode && smallCalls() != 0)
        return 1;

    std::unique_ptr<FakeAppServer> fake;
    QByteArray answer;
    int port = realPort;
    if (!realPort) {
        QElapsedTimer build;
        build.start();
        answer = buildAnswer(100000, 10);
        std::printf("answer: %.1f MB, built in %.2f s\n", answer.size() / 1e6, build.elapsed() / 1000.0);

        // The decoder alone, fed in the 4 KiB pieces the HTTP client hands over.
        if (!decodeOnly(answer, decodeRuns))
            return 1;
        if (decodeOnlyMode)
            return 0;

        // Streamed the way the application server does: chunked, 64 KiB at a time.
        fake = std::make_unique<FakeAppServer>();
        fake->setRawRpc([&](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("application/cbor", [&](size_t offset, httplib::DataSink &sink) {
                if (offset >= size_t(answer.size())) {
                    sink.done();
                    return true;
                }
                const size_t n = std::min<size_t>(64 * 1024, size_t(answer.size()) - offset);
                return sink.write(answer.constData() + offset, n);
            });
        });
        port = fake->port();
    }

    // Every answer of the stand-in carries id 1, so each decoding run uses a
    // fresh connection, whose first call has id 1.
    const QByteArray request = RpcRequest::encode(RpcRequest::Format::Cbor, 1,
                                                  QStringLiteral("OPD31000.rdmDescEmiPed.GetPedido"), everyOrder());
    std::vector<double> receive, decode;
    size_t bytes = 0;
    qsizetype items = 0;
    for (int run = 0; run < runs; ++run) {
        httplib::Client client("127.0.0.1", port);
        client.set_tcp_nodelay(true);
        client.set_decompress(false);
        client.set_read_timeout(120, 0);
        bytes = 0;
        httplib::Request req;
        req.method = "POST";
        req.path = "/rpc";
        req.set_header("Content-Type", "application/cbor");
        req.body = request.toStdString();
        req.content_receiver = [&](const char *, size_t n, uint64_t, uint64_t) { bytes += n; return true; };
        httplib::Response res;
        httplib::Error error;
        QElapsedTimer t;
        t.start();
        client.send(req, res, error);
        receive.push_back(t.nsecsElapsed() / 1e9);
        if (error != httplib::Error::Success || res.status != 200) {
            std::fprintf(stderr, "bare request failed\n");
            return 1;
        }

        TNetConnection net;
        net.ServerName = QStringLiteral("OPD31000.rdmDescEmiPed");
        net.setHost(QStringLiteral("127.0.0.1"));
        net.setPort(port);
        net.setTimeouts(5000, 120000);
        net.setConnected(true);
        t.restart();
        const QVariant result = net.AppServer().call(QStringLiteral("GetPedido"), everyOrder());
        decode.push_back(t.nsecsElapsed() / 1e9);
        const QVariantList payload = RemoteResult::payload(result).toList();
        if (payload.size() != 2) {
            std::fprintf(stderr, "decoded answer is wrong: %s\n", qPrintable(RemoteResult::message(result)));
            return 1;
        }
        items = payload[1].value<DataPacket>().rowCount();
    }
    const double r = median(receive), d = median(decode);
    std::printf("answer: %.1f MB, %lld items, from %s\n", bytes / 1e6, qlonglong(items),
                realPort ? "opd-appserver" : "the in-process stand-in");
    std::printf("receive only: %.3f s (%.0f MB/s)\n", r, bytes / 1e6 / r);
    std::printf("receive and decode: %.3f s (%.0f MB/s)\n", d, bytes / 1e6 / d);
    std::printf("decode_vs_receive_1m=%.2f\n", d / r);
    return 0;
}
