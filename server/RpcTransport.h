#pragma once
// The worker thread that owns the keep-alive HTTP connection. Every exchange
// runs there, so the answer is decoded while its bytes arrive and the
// calling thread only waits: in a Qt event loop that keeps painting and
// firing timers but holds user input back (ExcludeUserInputEvents), or, on a
// thread without an event dispatcher, plainly blocked.
//
// Jobs run one at a time in the order given. Held through a shared pointer:
// a caller waiting in the event loop keeps the transport alive even if its
// connection object goes away meanwhile.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class HttpClient;

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

private:
    struct Private;
    std::unique_ptr<Private> d;
};
