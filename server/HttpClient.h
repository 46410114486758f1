#pragma once
// One keep-alive HTTP/1.1 connection to the application server, used from
// one thread at a time (the transport's worker, or its caller while the
// worker is idle). A request goes out in one gather write (header and body
// together), the answer is read in large pieces and parsed by Boost.Beast's
// parser, and its body is handed over as it arrives, chunked or not,
// without being collected.
//
// The socket is opened by the first exchange and kept; one found closed by
// the server (or holding stray bytes) before a request is opened again. Any
// failure closes it, so the next exchange starts on a fresh connection.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class HttpClient
{
public:
    enum class Error {
        Success,
        Connection,          // the address did not resolve, or every address refused
        ConnectionTimeout,   // no address answered within the connect timeout
        Write,               // the request could not be sent whole
        Read,                // the answer broke off, or nothing came within the read timeout
        Protocol,            // what came back is not an HTTP answer
        Canceled,            // a handler refused the answer
        InvalidRequest,      // a header name or value that cannot travel (line breaks, NUL)
    };

    struct Options
    {
        std::string host;
        int port = 0;
        std::chrono::milliseconds connectTimeout{5000};
        // Each wait for the next bytes of the answer, and for room to write.
        std::chrono::milliseconds readTimeout{60000};
    };

    using Headers = std::vector<std::pair<std::string, std::string>>;
    // Called once the answer's header is in; false stops the exchange.
    using HeaderHandler = std::function<bool(int status, const std::string &contentType)>;
    // Called with each piece of the body as it arrives; false stops it.
    using BodyHandler = std::function<bool(const char *data, std::size_t size)>;

    explicit HttpClient(Options options);
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // Sends one request and reads its answer whole. Host, Content-Length
    // and (when a body is given) Content-Type are added here.
    Error exchange(std::string_view method, std::string_view target, const Headers &headers,
                   std::string_view contentType, std::string_view body, const HeaderHandler &onHeader,
                   const BodyHandler &onBody);

    // The same exchange in two steps, for a caller that waits for a short
    // answer itself and leaves a longer one to another thread. start() goes
    // ahead only on a kept socket that is still usable, with a request that
    // can travel; otherwise it returns false and sends nothing (exchange()
    // opens a new connection and reports a bad request). It sends the
    // request and reads what arrives until `until`, watching the socket
    // without sleeping until `spinUntil`. finished() then tells whether the
    // answer is in; finish() reads the rest, waiting as exchange() does, and
    // gives the exchange's result. The handlers must outlive finish(), which
    // may run on another thread (not at the same time).
    bool start(std::string_view method, std::string_view target, const Headers &headers,
               std::string_view contentType, std::string_view body, const HeaderHandler &onHeader,
               const BodyHandler &onBody, std::chrono::steady_clock::time_point spinUntil,
               std::chrono::steady_clock::time_point until);
    bool finished() const;
    Error finish();

    // Closes the socket; the next exchange opens a new one.
    void close();
    bool isOpen() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

const char *toString(HttpClient::Error error);
