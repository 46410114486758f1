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

    Error readAnswer(const HeaderHandler &onHeader, const BodyHandler &onBody, bool *keepAlive)
    {
        HttpAnswerStream answer(onHeader, onBody);
        bool first = true;
        while (answer.state() == HttpAnswerStream::State::NeedMore) {
            const auto [into, room] = answer.space();
            const ssize_t n = readSome(into, room, first);
            first = false;
            if (n < 0)
                return Error::Read;
            if (n == 0)
                answer.closed();
            else
                answer.received(std::size_t(n));
        }
        if (answer.state() == HttpAnswerStream::State::Failed)
            return answer.error();
        *keepAlive = answer.keepAlive();
        return Error::Success;
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
    if (!isToken(method) || target.empty() || !canTravel(target) || target.find(' ') != std::string_view::npos
        || !canTravel(contentType))
        return Error::InvalidRequest;
    std::string head;
    head.reserve(256);
    head.append(method).append(" ").append(target).append(" HTTP/1.1\r\nHost: ").append(d->hostField).append("\r\n");
    for (const auto &[name, value] : headers) {
        if (!isToken(name) || !canTravel(value))
            return Error::InvalidRequest;
        head.append(name).append(": ").append(value).append("\r\n");
    }
    if (!contentType.empty())
        head.append("Content-Type: ").append(contentType).append("\r\n");
    if (!body.empty() || method == "POST" || method == "PUT")
        head.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    head.append("\r\n");

    if (d->fd >= 0 && !d->reusable())
        d->closeSocket();
    if (d->fd < 0) {
        if (const Error e = d->connectSocket(); e != Error::Success)
            return e;
    }

    iovec parts[2] = {{head.data(), head.size()}, {const_cast<char *>(body.data()), body.size()}};
    const bool written = d->writeAll(parts, body.empty() ? 1 : 2);
    // A server that refuses a request early (too large, say) answers and
    // closes while the rest is still on its way: its answer is still read.
    bool keepAlive = false;
    const Error read = d->readAnswer(onHeader, onBody, &keepAlive);
    if (!written && read != Error::Success) {
        d->closeSocket();
        return read == Error::Canceled ? read : Error::Write;
    }
    if (read != Error::Success || !written || !keepAlive)
        d->closeSocket();
    return read;
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
