// The client's HTTP connection against a scripted peer on a raw socket:
// answers cut into pieces at every size, chunked or not, kept sockets the
// peer closed, broken and foreign answers, refused requests; an exchange
// begun by the caller and ended by the transport's worker.

#include "server/HttpClient.h"
#include "server/RpcTransport.h"

#include <QElapsedTimer>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <mutex>
#include <thread>

namespace {

// A one-thread peer: accepts connections one after the other, reads each
// request (header and Content-Length body) and lets the test's reply write
// whatever bytes it likes; a reply that returns false ends the connection.
class ScriptedPeer
{
public:
    // fd, the request's raw bytes, its number on this connection (from 0)
    using Reply = std::function<bool(int fd, const std::string &request, int index)>;

    explicit ScriptedPeer(Reply reply, int backlog = 8) : m_reply(std::move(reply))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listen, backlog);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~ScriptedPeer()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }
    void serve()
    {
        m_thread = std::thread([this] { loop(); });
    }

    int port() const { return m_port; }
    int connections() const { return m_connections; }
    std::vector<std::string> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    // Writes `bytes` in pieces of `piece` bytes, each a send of its own.
    static void send(int fd, const std::string &bytes, size_t piece = 0)
    {
        if (piece == 0)
            piece = bytes.size();
        for (size_t at = 0; at < bytes.size(); at += piece) {
            ::send(fd, bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL);
            if (piece < bytes.size())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

private:
    void loop()
    {
        while (!m_stop) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            ++m_connections;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::string pending;
            for (int index = 0;; ++index) {
                std::string request;
                if (!readRequest(fd, pending, request))
                    break;
                {
                    std::lock_guard lock(m_mutex);
                    m_requests.push_back(request);
                }
                if (!m_reply(fd, request, index))
                    break;
            }
            ::close(fd);
        }
    }
    static bool readRequest(int fd, std::string &pending, std::string &request)
    {
        char buf[65536];
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            pending.append(buf, size_t(n));
        }
        size_t length = 0;
        const size_t at = pending.find("Content-Length: ");
        if (at != std::string::npos && at < end)
            length = std::stoul(pending.substr(at + 16));
        while (pending.size() < end + 4 + length) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            pending.append(buf, size_t(n));
        }
        request = pending.substr(0, end + 4 + length);
        pending.erase(0, end + 4 + length);
        return true;
    }

    Reply m_reply;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

// A peer's reply that writes the same bytes to every request.
ScriptedPeer::Reply answersWith(std::string bytes)
{
    return [bytes = std::move(bytes)](int fd, const std::string &, int) {
        ScriptedPeer::send(fd, bytes);
        return true;
    };
}

struct Answer
{
    HttpClient::Error error = HttpClient::Error::Success;
    int status = 0;
    int headerCalls = 0;
    std::string contentType;
    std::string body;
};

HttpClient::Options optionsFor(int port, int readTimeoutMs = 5000)
{
    HttpClient::Options o;
    o.host = "127.0.0.1";
    o.port = port;
    o.connectTimeout = std::chrono::milliseconds(2000);
    o.readTimeout = std::chrono::milliseconds(readTimeoutMs);
    return o;
}

Answer post(HttpClient &client, const std::string &body = "ping", const HttpClient::Headers &headers = {},
            size_t bodyLimit = std::string::npos)
{
    Answer a;
    a.error = client.exchange(
        "POST", "/rpc", headers, "application/cbor", body,
        [&](int status, const std::string &type) {
            ++a.headerCalls;
            a.status = status;
            a.contentType = type;
            return true;
        },
        [&](const char *data, size_t size) {
            a.body.append(data, size);
            return a.body.size() <= bodyLimit;
        });
    return a;
}

std::string lengthAnswer(const std::string &body, const std::string &extra = {})
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/cbor\r\n" + extra
         + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string chunkedAnswer(const std::string &body)
{
    std::string out = "HTTP/1.1 200 OK\r\nContent-Type: application/cbor\r\nTransfer-Encoding: chunked\r\n\r\n";
    // Uneven chunks, one with an extension, then a trailer.
    size_t at = 0, size = 1;
    while (at < body.size()) {
        const size_t n = std::min(size, body.size() - at);
        char head[32];
        std::snprintf(head, sizeof head, size == 4 ? "%zx;ext=1\r\n" : "%zx\r\n", n);
        out += head + body.substr(at, n) + "\r\n";
        at += n;
        size = size * 3 + 1;
    }
    return out + "0\r\nX-Trailer: yes\r\n\r\n";
}

std::string someBody(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = char((i * 131 + 7) & 0xff);
    return s;
}

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT

private slots:
    void answerArrivesWholeWhateverItsPieces_data()
    {
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<int>("bodySize");
        QTest::addColumn<int>("piece");   // bytes per send of the peer; 0 all at once
        QTest::newRow("length, at once") << false << 100 << 0;
        QTest::newRow("length, byte by byte") << false << 300 << 1;
        QTest::newRow("length, 7 bytes a send") << false << 2000 << 7;
        QTest::newRow("length, larger than one read") << false << 300 * 1024 << 0;
        QTest::newRow("chunked, at once") << true << 1000 << 0;
        QTest::newRow("chunked, byte by byte") << true << 300 << 1;
        QTest::newRow("chunked, 5 bytes a send") << true << 3000 << 5;
        QTest::newRow("chunked, larger than one read") << true << 300 * 1024 << 0;
        QTest::newRow("chunked, larger than a search of 100k orders") << true << 12 * 1024 * 1024 << 0;
        QTest::newRow("empty body") << false << 0 << 1;
    }
    void answerArrivesWholeWhateverItsPieces()
    {
        QFETCH(bool, chunked);
        QFETCH(int, bodySize);
        QFETCH(int, piece);
        const std::string body = someBody(size_t(bodySize));
        const std::string bytes = chunked ? chunkedAnswer(body) : lengthAnswer(body);
        ScriptedPeer peer([&](int fd, const std::string &, int) {
            ScriptedPeer::send(fd, bytes, size_t(piece));
            return true;
        });
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        for (int round = 0; round < 2; ++round) {
            const Answer a = post(client);
            QCOMPARE(a.error, HttpClient::Error::Success);
            QCOMPARE(a.status, 200);
            QCOMPARE(a.headerCalls, 1);
            QCOMPARE(a.contentType, std::string("application/cbor"));
            QVERIFY(a.body == body);
        }
        QCOMPARE(peer.connections(), 1);   // kept alive between the two
    }

    void requestCarriesItsHeadersAndWholeBody()
    {
        ScriptedPeer peer(answersWith(lengthAnswer("ok")));
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        // Large enough that the kernel takes it in several writes.
        const std::string big = someBody(6 * 1024 * 1024);
        QCOMPARE(post(client, big, {{"Authorization", "Bearer abc"}}).error, HttpClient::Error::Success);
        QCOMPARE(client.exchange("GET", "/health", {}, {}, {}, {}, {}), HttpClient::Error::Success);
        const auto requests = peer.requests();
        QCOMPARE(requests.size(), size_t(2));
        const std::string &r = requests[0];
        const size_t end = r.find("\r\n\r\n");
        const std::string head = r.substr(0, end + 4);
        QVERIFY(head.rfind("POST /rpc HTTP/1.1\r\n", 0) == 0);
        QVERIFY(head.find("\r\nHost: 127.0.0.1:" + std::to_string(peer.port()) + "\r\n") != std::string::npos);
        QVERIFY(head.find("\r\nAuthorization: Bearer abc\r\n") != std::string::npos);
        QVERIFY(head.find("\r\nContent-Type: application/cbor\r\n") != std::string::npos);
        QVERIFY(head.find("\r\nContent-Length: " + std::to_string(big.size()) + "\r\n") != std::string::npos);
        QVERIFY(r.compare(end + 4, std::string::npos, big) == 0);
        QVERIFY(requests[1].rfind("GET /health HTTP/1.1\r\n", 0) == 0);
        QVERIFY(requests[1].find("Content-Length") == std::string::npos);
    }

    void socketThePeerLeftIsOpenedAgain_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("closed after the answer") << "close";
        QTest::newRow("answer says Connection: close") << "header";
        QTest::newRow("stray bytes after the answer") << "stray";
    }
    void socketThePeerLeftIsOpenedAgain()
    {
        QFETCH(QString, how);
        ScriptedPeer peer([&](int fd, const std::string &, int) {
            if (how == QLatin1String("header")) {
                ScriptedPeer::send(fd, lengthAnswer("one", "Connection: close\r\n"));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return true;   // left open by the peer: the client must not reuse it
            }
            if (how == QLatin1String("stray")) {
                ScriptedPeer::send(fd, lengthAnswer("one") + "HTTP/1.1 200 OK\r\n");
                return true;
            }
            ScriptedPeer::send(fd, lengthAnswer("one"));
            return false;
        });
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        QCOMPARE(post(client).body, std::string("one"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));   // the close reaches the client
        const Answer second = post(client);
        QCOMPARE(second.error, HttpClient::Error::Success);
        QCOMPARE(second.body, std::string("one"));
        QCOMPARE(peer.connections(), 2);
    }

    void brokenOrForeignAnswersFailAndDropTheSocket_data()
    {
        QTest::addColumn<QByteArray>("bytes");     // what the peer writes before it closes
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("bodyBytes");        // what reached the body handler; -1 some
        const auto Read = int(HttpClient::Error::Read), Protocol = int(HttpClient::Error::Protocol);
        const auto cut = [](const std::string &s, size_t less) { return QByteArray::fromStdString(s.substr(0, s.size() - less)); };
        const std::string lastChunk = "0\r\nX-Trailer: yes\r\n\r\n";
        QTest::newRow("closed before any byte") << QByteArray() << Read << 0;
        QTest::newRow("closed within the header") << QByteArray("HTTP/1.1 200 OK\r\nContent-Ty") << Read << 0;
        QTest::newRow("closed within a length body") << cut(lengthAnswer("0123456789"), 4) << Read << 6;
        QTest::newRow("closed within a chunked body") << cut(chunkedAnswer(someBody(500)), 300) << Read << -1;
        QTest::newRow("closed before the last chunk") << cut(chunkedAnswer("abcd"), lastChunk.size()) << Read << 4;
        QTest::newRow("closed within the trailer") << cut(chunkedAnswer("abcd"), 4) << Read << 4;
        QTest::newRow("not HTTP") << QByteArray("220 mail.example ready\r\n\r\n") << Protocol << 0;
        QTest::newRow("bad chunk size") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n")
                                        << Protocol << 0;
        QTest::newRow("body until the close") << QByteArray("HTTP/1.1 200 OK\r\n\r\nall of it") << 0 << 9;
    }
    void brokenOrForeignAnswersFailAndDropTheSocket()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        QFETCH(int, bodyBytes);
        ScriptedPeer peer([&](int fd, const std::string &, int) {
            ScriptedPeer::send(fd, bytes.toStdString());
            return false;
        });
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        const Answer a = post(client);
        QCOMPARE(int(a.error), error);
        if (bodyBytes >= 0)
            QCOMPARE(int(a.body.size()), bodyBytes);
        else
            QVERIFY(!a.body.empty());
        QVERIFY(!client.isOpen());
    }

    void silentPeerTimesOut()
    {
        ScriptedPeer peer([](int, const std::string &, int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            return false;
        });
        peer.serve();
        HttpClient client(optionsFor(peer.port(), 150));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(post(client).error, HttpClient::Error::Read);
        QVERIFY2(clock.elapsed() >= 140 && clock.elapsed() < 1200, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!client.isOpen());
    }

    void interimAnswerIsNotTheAnswer()
    {
        ScriptedPeer peer([](int fd, const std::string &, int) {
            ScriptedPeer::send(fd, "HTTP/1.1 100 Continue\r\n\r\n" + lengthAnswer("final"), 9);
            return true;
        });
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        const Answer a = post(client);
        QCOMPARE(a.error, HttpClient::Error::Success);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.headerCalls, 1);
        QCOMPARE(a.body, std::string("final"));

        // 101 is never asked for: the exchange ends with it, on a socket
        // not used again.
        ScriptedPeer switched([](int fd, const std::string &, int) {
            ScriptedPeer::send(fd, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n" + lengthAnswer("final"));
            return true;
        });
        switched.serve();
        HttpClient other(optionsFor(switched.port()));
        const Answer b = post(other);
        QCOMPARE(b.error, HttpClient::Error::Success);
        QCOMPARE(b.status, 101);
        QCOMPARE(b.headerCalls, 1);
        QVERIFY(!other.isOpen());
    }

    void refusedAnswerStopsTheExchange()
    {
        ScriptedPeer peer(answersWith(lengthAnswer(someBody(100000))));
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        const Answer a = post(client, "ping", {}, 10);
        QCOMPARE(a.error, HttpClient::Error::Canceled);
        QVERIFY(!client.isOpen());   // the rest of that answer is still on its way
        QCOMPARE(post(client).error, HttpClient::Error::Success);
        QCOMPARE(peer.connections(), 2);
    }

    void requestsThatCannotTravelAreNotSent()
    {
        ScriptedPeer peer(answersWith(lengthAnswer("ok")));
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        QCOMPARE(post(client, "x", {{"Authorization", "Bearer a\r\nX-Evil: 1"}}).error, HttpClient::Error::InvalidRequest);
        QCOMPARE(post(client, "x", {{"Bad Name", "v"}}).error, HttpClient::Error::InvalidRequest);
        QCOMPARE(client.exchange("GET", "/health HTTP/1.0\r\n", {}, {}, {}, {}, {}), HttpClient::Error::InvalidRequest);
        QCOMPARE(peer.connections(), 0);
        QVERIFY(peer.requests().empty());
    }

    void exchangeInTwoStepsOnlyOnAKeptSocket()
    {
        ScriptedPeer peer([](int fd, const std::string &request, int index) {
            if (index == 3)
                return false;   // the peer leaves the kept socket
            if (request.find("slow") != std::string::npos)
                std::this_thread::sleep_for(std::chrono::milliseconds(80));
            ScriptedPeer::send(fd, lengthAnswer("answer " + std::to_string(index) + someBody(3000)), 700);
            return true;
        });
        peer.serve();
        HttpClient client(optionsFor(peer.port()));
        Answer a;
        // Held here: the exchange keeps them until it ends.
        const HttpClient::HeaderHandler onHeader = [&](int status, const std::string &) {
            a.status = status;
            return true;
        };
        const HttpClient::BodyHandler onBody = [&](const char *data, size_t size) {
            a.body.append(data, size);
            return true;
        };
        const auto soon = [](int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); };

        // No socket yet: nothing is sent, exchange() opens one.
        QVERIFY(!client.start("POST", "/rpc", {}, "application/cbor", "x", onHeader, onBody, soon(1), soon(5)));
        QCOMPARE(peer.connections(), 0);
        QCOMPARE(post(client).error, HttpClient::Error::Success);

        // An answer later than the limit is read to its end on another thread.
        a = {};
        QVERIFY(client.start("POST", "/rpc", {}, "application/cbor", "slow", onHeader, onBody, soon(1), soon(5)));
        QVERIFY(!client.finished());
        HttpClient::Error result = HttpClient::Error::Read;
        std::thread([&] { result = client.finish(); }).join();
        QCOMPARE(result, HttpClient::Error::Success);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, "answer 1" + someBody(3000));

        // One in time, in pieces, is whole when start() returns.
        a = {};
        QVERIFY(client.start("POST", "/rpc", {}, "application/cbor", "quick", onHeader, onBody, soon(1), soon(3000)));
        QVERIFY(client.finished());
        QCOMPARE(client.finish(), HttpClient::Error::Success);
        QCOMPARE(a.body, "answer 2" + someBody(3000));
        QCOMPARE(peer.connections(), 1);

        // A socket the peer left, or a request that cannot travel: not sent.
        QCOMPARE(post(client).error, HttpClient::Error::Read);
        QCOMPARE(post(client).error, HttpClient::Error::Success);   // a new connection
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const size_t sent = peer.requests().size();
        QVERIFY(!client.start("POST", "/rpc", {{"X-Bad", "a\r\nb"}}, "application/cbor", "x", onHeader, onBody,
                              soon(1), soon(5)));
        QCOMPARE(peer.requests().size(), sent);
        QVERIFY(client.isOpen());
    }

    // While the caller reads an answer itself, or after it handed the rest
    // to the worker, another thread's job waits its turn: two exchanges on
    // one socket at once would read each other's answers.
    void transportRunsTheCallersExchangeBeforeLaterJobs()
    {
        ScriptedPeer peer([](int fd, const std::string &request, int) {
            const bool slow = request.find("slow") != std::string::npos;
            if (slow)
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
            ScriptedPeer::send(fd, lengthAnswer(slow ? "for the caller" : "for the other"));
            return true;
        });
        peer.serve();
        RpcTransport transport;
        transport.open({"127.0.0.1", peer.port(), std::chrono::milliseconds(2000), std::chrono::milliseconds(5000)});

        std::mutex mutex;
        std::vector<std::string> events;
        const auto note = [&](const std::string &e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
        };
        const auto call = [&](const std::string &body, const std::string &name) {
            auto got = std::make_shared<std::string>();
            RpcTransport::Exchange ex;
            ex.method = "POST";
            ex.target = "/rpc";
            ex.contentType = "application/cbor";
            ex.body = body;
            ex.onHeader = [](int, const std::string &) { return true; };
            ex.onBody = [got](const char *data, size_t size) {
                got->append(data, size);
                return true;
            };
            ex.then = [&, got, name](HttpClient *client, HttpClient::Error error) {
                note(name + (client && error == HttpClient::Error::Success ? ": " + *got : ": failed"));
            };
            transport.exchange(ex);
        };
        call("warm", "first");   // opens the connection on the worker

        std::thread other([&] {
            while (peer.requests().size() < 2)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            call("other", "other");
        });
        call("slow", "caller");
        other.join();
        QCOMPARE(events, (std::vector<std::string>{"first: for the other", "caller: for the caller", "other: for the other"}));
        QCOMPARE(peer.connections(), 1);

        // A handler that throws ends the call with its exception, and the
        // transport goes on serving calls.
        RpcTransport::Exchange bad;
        bad.method = "POST";
        bad.target = "/rpc";
        bad.body = "x";
        bad.onHeader = [](int, const std::string &) { return true; };
        bad.onBody = [](const char *, size_t) -> bool { throw std::runtime_error("refused"); };
        bad.then = [](HttpClient *, HttpClient::Error) {};
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, transport.exchange(bad));
        call("again", "after");
        QCOMPARE(events.back(), "after: for the other");
    }

    void unreachablePeersFailToConnect()
    {
        int freePort = 0;
        {
            ScriptedPeer closed([](int, const std::string &, int) { return false; });
            freePort = closed.port();
        }
        HttpClient refused(optionsFor(freePort));
        QCOMPARE(post(refused).error, HttpClient::Error::Connection);
        HttpClient::Options unknown = optionsFor(80);
        unknown.host = "no-such-host.invalid";
        HttpClient nowhere(unknown);
        QCOMPARE(post(nowhere).error, HttpClient::Error::Connection);

        // A listener that never accepts, its queue filled: the next connect
        // is never answered.
        ScriptedPeer full([](int, const std::string &, int) { return false; }, 0);
        std::vector<int> fillers;
        for (int i = 0; i < 4; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(quint16(full.port()));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
            fillers.push_back(s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        HttpClient::Options slow = optionsFor(full.port());
        slow.connectTimeout = std::chrono::milliseconds(200);
        HttpClient waiting(slow);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(post(waiting).error, HttpClient::Error::ConnectionTimeout);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        for (const int s : fillers)
            ::close(s);
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_HttpClient.moc"
