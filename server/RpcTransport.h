#pragma once
// The worker thread that owns the keep-alive HTTP connection. Exchanges run
// there, so a long answer is decoded while its bytes arrive and the calling
// thread only waits: in a Qt event loop that keeps painting and firing
// timers but holds user input back (ExcludeUserInputEvents), or, on a
// thread without an event dispatcher, plainly blocked. A call's first
// milliseconds are the exception: with the worker idle and the connection
// open, the caller sends the request itself and reads an answer that comes
// that soon, which spares two thread hand-overs; the worker takes over the
// rest of one that does not.
//
// Jobs run one at a time in the order given. Held through a shared pointer:
// a caller waiting in the event loop keeps the transport alive even if its
// connection object goes away meanwhile.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "HttpClient.h"

class RpcTransport
{
public:
    struct Endpoint
    {
        std::string host;
        int port = 0;
        std::chrono::milliseconds connectTimeout{5000};
        std::chrono::milliseconds readTimeout{60000};
    };

    RpcTransport();
    ~RpcTransport();
    RpcTransport(const RpcTransport &) = delete;
    RpcTransport &operator=(const RpcTransport &) = delete;

    // Replaces the client by a fresh one for the endpoint (no I/O yet).
    void open(const Endpoint &endpoint);
    // Drops the client and its socket.
    void close();

    // Runs job on the worker with the current client (nullptr when closed)
    // and waits for it. An exception thrown by job is rethrown here.
    void run(const std::function<void(HttpClient *client)> &job);

    // One request on the current client, and what its caller does with the
    // result: `then` runs on whichever thread ended the exchange, with the
    // client (nullptr when closed, and the error then means nothing).
    struct Exchange
    {
        std::string_view method;
        std::string_view target;
        HttpClient::Headers headers;
        std::string_view contentType;
        std::string_view body;
        HttpClient::HeaderHandler onHeader;
        HttpClient::BodyHandler onBody;
        std::function<void(HttpClient *client, HttpClient::Error error)> then;
    };
    // Runs the exchange and waits for it, as run() does. An exception
    // thrown by a handler or by `then` is rethrown here.
    void exchange(const Exchange &exchange);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
