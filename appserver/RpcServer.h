#pragma once
// The HTTP side: POST /rpc and GET /health over HTTP/1.1.
//
// Connections live on an Asio event loop (Boost.Beast parses the requests):
// an idle or slow connection costs a socket and its buffers, never a thread.
// Calls run on a bounded pool of database workers, each with its own
// connection (opened on first use, opened again after it was lost). A
// worker writes a streamed answer into pieces that are handed to the
// connection as they are produced; the bytes waiting for slow readers are
// capped for the whole server (maxBufferedBytes), so a slow reader never
// keeps a worker longer than the database read takes.
//
// Requests on one connection are answered in order, one at a time
// (pipelined requests wait in the connection's buffer).

#include "appserver/ModuleRegistry.h"
#include "appserver/TokenFile.h"

#include <memory>
#include <optional>
#include <string>

namespace opd::appserver {

struct Session;

struct ServerOptions
{
    std::string dbUrl;
    std::string host = "127.0.0.1";
    int port = 0;                 // 0: any free port
    int workers = 4;              // database workers, one connection each
    int ioThreads = 1;            // threads of the event loop
    int maxConnections = 1024;    // beyond it a new connection gets 503 and is closed
    int idleTimeoutSeconds = 60;  // a kept-alive connection with no request in it
    int headerTimeoutSeconds = 10;   // from a request's first byte to the end of its header
    int bodyTimeoutSeconds = 30;     // the body after the header
    int writeTimeoutSeconds = 30;    // an answer's bytes not taken by the client
    long long maxBufferedBytes = 256LL * 1024 * 1024;  // answer bytes waiting, whole server
    std::optional<TokenFile> tokens;  // none: every caller is "local"
};

class RpcServer
{
public:
    RpcServer(ServerOptions options, const ModuleRegistry &registry);
    ~RpcServer();

    // Binds; returns the port, or -1 with *error set.
    int bind(QString *error);
    // Serves until stop() (blocks).
    void run();
    // From any thread, also before run() (run() then returns at once).
    void stop();

    // Answer bytes handed to connections and not yet written to their
    // sockets (counted against maxBufferedBytes); from any thread.
    long long bufferedBytes() const;

    static bool isLoopback(const std::string &host);

private:
    struct Private;
    friend struct Session;
    std::unique_ptr<Private> d;
};

} // namespace opd::appserver
