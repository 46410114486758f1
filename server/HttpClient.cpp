#include "HttpClient.h"
#include "HttpAnswerStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

using Clock = std::chrono::steady_clock;

namespace {


bool canTravel(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool isToken(std::string_view name)
{
    if (name.empty())
        return false;
    for (const char c : name) {
        if (c <= ' ' || c >= 127 || c == ':')
            return false;
    }
    return true;
}

// Waits up to timeoutMs for `events` on fd: > 0 ready, 0 timed out, < 0 failed.
int waitFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

// Milliseconds left until `until`, for poll(): never negative.
int msLeft(Clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

} // namespace

struct HttpClient::Private
{
    Options options;
    std::string hostField;   // the Host header's value
    int fd = -1;

    void closeSocket()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    // A kept socket is only reused when nothing is waiting on it: bytes
    // there now are either the server's close or stray data that would be
    // taken for the next answer.
    bool reusable() const { return waitFor(fd, POLLIN, 0) == 0; }

    Error connectSocket()
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo *found = nullptr;
        const std::string port = std::to_string(options.port);
        if (::getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
            return Error::Connection;
        const auto until = Clock::now() + options.connectTimeout;
        Error result = Error::Connection;
        for (addrinfo *a = found; a; a = a->ai_next) {
            const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (s < 0)
                continue;
            // Nagle plus delayed acknowledgements would cost ~40-90 ms per small answer.
            const int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            int rc = ::connect(s, a->ai_addr, a->ai_addrlen);
            if (rc != 0 && errno == EINPROGRESS) {
                rc = waitFor(s, POLLOUT, msLeft(until));
                if (rc == 0) {
                    ::close(s);
                    result = Error::ConnectionTimeout;
                    break;   // the time is spent for every address
                }
                int soError = 0;
                socklen_t len = sizeof soError;
                rc = (rc > 0 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0) ? 0 : -1;
            }
            if (rc == 0) {
                fd = s;
                result = Error::Success;
                break;
            }
            ::close(s);
        }
        ::freeaddrinfo(found);
        return result;
    }

    // Writes the iovecs whole; waits for room up to the read timeout each time.
    bool writeAll(iovec *parts, int count)
    {
        while (count > 0) {
            msghdr msg{};
            msg.msg_iov = parts;
            msg.msg_iovlen = size_t(count);
            const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    return false;
                if (waitFor(fd, POLLOUT, int(options.readTimeout.count())) <= 0)
                    return false;
                continue;
            }
            auto sent = size_t(n);
            while (count > 0 && sent >= parts->iov_len) {
                sent -= parts->iov_len;
                ++parts;
                --count;
            }
            if (count > 0) {
                parts->iov_base = static_cast<char *>(parts->iov_base) + sent;
                parts->iov_len -= sent;
            }
        }
        return true;
    }

    // Reads what is there, waiting up to the read timeout for it: > 0 bytes
    // read, 0 the server closed, -1 a failure or the timeout. Right after a
    // request nothing can be there yet, so the wait comes first.
    ssize_t readSome(char *into, std::size_t room, bool waitFirst)
    {
        for (bool wait = waitFirst;;) {
            if (wait && waitFor(fd, POLLIN, int(options.readTimeout.count())) <= 0)
                return -1;
            const ssize_t n = ::recv(fd, into, room, 0);
            if (n >= 0)
                return n;
            if (errno == EINTR) {
                wait = false;
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return -1;
            wait = true;
        }
    }

    // A wait for the answer that ends at a moment, spinning on the socket
    // before it sleeps in poll.
    struct Limit
    {
        Clock::time_point spinUntil;
        Clock::time_point until;
    };
    static constexpr ssize_t Later = -2;

    // Reads what is there, or what comes before the limit: as readSome(),
    // or Later when nothing came by then.
    ssize_t readBefore(char *into, std::size_t room, const Limit &limit)
    {
        for (;;) {
            const ssize_t n = ::recv(fd, into, room, 0);
            if (n >= 0)
                return n;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return -1;
            auto now = Clock::now();
            // Watched with poll(): a recv() would take the socket's lock,
            // which the arriving answer needs too.
            while (now < limit.spinUntil && waitFor(fd, POLLIN, 0) == 0)
                now = Clock::now();
            if (now < limit.spinUntil)
                continue;
            if (now >= limit.until)
                return Later;
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(limit.until - now);
            const timespec ts{time_t(left.count() / 1000000000), long(left.count() % 1000000000)};
            pollfd p{fd, POLLIN, 0};
            if (::ppoll(&p, 1, &ts, nullptr) < 0 && errno != EINTR)
                return -1;
        }
    }

    // The exchange under way: its answer, whether its request went out
    // whole, whether the next read should wait first, whether a read failed.
    std::unique_ptr<HttpAnswerStream> answer;
    bool written = false;
    bool waitFirst = true;
    bool readFailed = false;

    // Sends the request of a new exchange on the open socket.
    void send(std::string &head, std::string_view body, const HeaderHandler &onHeader, const BodyHandler &onBody)
    {
        answer = std::make_unique<HttpAnswerStream>(onHeader, onBody);
        waitFirst = true;
        readFailed = false;
        iovec parts[2] = {{head.data(), head.size()}, {const_cast<char *>(body.data()), body.size()}};
        written = writeAll(parts, body.empty() ? 1 : 2);
    }

    // Reads the answer until it is complete or has failed (true); with a
    // limit, stops (false) when nothing more has come by then. A handler's
    // exception drops the connection, half read, and goes on to the caller.
    bool pump(const Limit *limit)
    {
        try {
            while (answer->state() == HttpAnswerStream::State::NeedMore) {
                const auto [into, room] = answer->space();
                const ssize_t n = limit ? readBefore(into, room, *limit) : readSome(into, room, waitFirst);
                if (n == Later) {
                    waitFirst = true;
                    return false;
                }
                waitFirst = false;
                if (n < 0) {
                    readFailed = true;
                    return true;
                }
                if (n == 0)
                    answer->closed();
                else
                    answer->received(std::size_t(n));
            }
        } catch (...) {
            answer.reset();
            closeSocket();
            throw;
        }
        return true;
    }

    // The result of the exchange whose answer is complete or has failed;
    // the socket is kept only for a well-ended keep-alive answer.
    Error conclude()
    {
        Error read = Error::Success;
        bool keepAlive = false;
        if (readFailed)
            read = Error::Read;
        else if (answer->state() == HttpAnswerStream::State::Failed)
            read = answer->error();
        else
            keepAlive = answer->keepAlive();
        answer.reset();
        // A server that refuses a request early (too large, say) answers and
        // closes while the rest is still on its way: its answer is still read.
        if (!written && read != Error::Success) {
            closeSocket();
            return read == Error::Canceled ? read : Error::Write;
        }
        if (read != Error::Success || !written || !keepAlive)
            closeSocket();
        return read;
    }

    // The request's header, or false when something in it cannot travel.
    bool compose(std::string &head, std::string_view method, std::string_view target, const Headers &headers,
                 std::string_view contentType, std::string_view body) const
    {
        if (!isToken(method) || target.empty() || !canTravel(target) || target.find(' ') != std::string_view::npos
            || !canTravel(contentType))
            return false;
        head.reserve(256);
        head.append(method).append(" ").append(target).append(" HTTP/1.1\r\nHost: ").append(hostField).append("\r\n");
        for (const auto &[name, value] : headers) {
            if (!isToken(name) || !canTravel(value))
                return false;
            head.append(name).append(": ").append(value).append("\r\n");
        }
        if (!contentType.empty())
            head.append("Content-Type: ").append(contentType).append("\r\n");
        if (!body.empty() || method == "POST" || method == "PUT")
            head.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
        head.append("\r\n");
        return true;
    }
};

HttpClient::HttpClient(Options options) : d(std::make_unique<Private>())
{
    d->options = std::move(options);
    const bool ipv6 = d->options.host.find(':') != std::string::npos;
    d->hostField = (ipv6 ? "[" + d->options.host + "]" : d->options.host) + ':' + std::to_string(d->options.port);
}

HttpClient::~HttpClient()
{
    d->closeSocket();
}

void HttpClient::close()
{
    d->closeSocket();
}

bool HttpClient::isOpen() const
{
    return d->fd >= 0;
}

HttpClient::Error HttpClient::exchange(std::string_view method, std::string_view target, const Headers &headers,
                                       std::string_view contentType, std::string_view body,
                                       const HeaderHandler &onHeader, const BodyHandler &onBody)
{
    std::string head;
    if (!d->compose(head, method, target, headers, contentType, body))
        return Error::InvalidRequest;
    if (d->fd >= 0 && !d->reusable())
        d->closeSocket();
    if (d->fd < 0) {
        if (const Error e = d->connectSocket(); e != Error::Success)
            return e;
    }
    d->send(head, body, onHeader, onBody);
    d->pump(nullptr);
    return d->conclude();
}

bool HttpClient::start(std::string_view method, std::string_view target, const Headers &headers,
                       std::string_view contentType, std::string_view body, const HeaderHandler &onHeader,
                       const BodyHandler &onBody, Clock::time_point spinUntil, Clock::time_point until)
{
    std::string head;
    if (d->answer || d->fd < 0 || !d->compose(head, method, target, headers, contentType, body))
        return false;
    if (!d->reusable()) {
        d->closeSocket();
        return false;
    }
    d->send(head, body, onHeader, onBody);
    const Private::Limit limit{spinUntil, until};
    d->pump(&limit);
    return true;
}

bool HttpClient::finished() const
{
    return d->readFailed || !d->answer || d->answer->state() != HttpAnswerStream::State::NeedMore;
}

HttpClient::Error HttpClient::finish()
{
    if (!d->answer)
        return Error::Read;
    d->pump(nullptr);
    return d->conclude();
}

const char *toString(HttpClient::Error error)
{
    switch (error) {
    case HttpClient::Error::Success: return "success";
    case HttpClient::Error::Connection: return "could not connect";
    case HttpClient::Error::ConnectionTimeout: return "connect timed out";
    case HttpClient::Error::Write: return "write failed";
    case HttpClient::Error::Read: return "read failed or timed out";
    case HttpClient::Error::Protocol: return "not an HTTP answer";
    case HttpClient::Error::Canceled: return "answer refused";
    case HttpClient::Error::InvalidRequest: return "invalid request";
    }
    return "unknown";
}
