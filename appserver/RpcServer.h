#pragma once
// The HTTP side: POST /rpc and GET /health on a cpp-httplib server with a
// pool of worker threads, each with its own database connection (opened on
// its first request and kept). Answers with a payload are streamed with
// chunked transfer encoding while the rows are read.

#include "appserver/ModuleRegistry.h"
#include "appserver/TokenFile.h"

#include <memory>
#include <optional>
#include <string>

namespace opd::appserver {

struct ServerOptions
{
    std::string dbUrl;
    std::string host = "127.0.0.1";
    int port = 0;                 // 0: any free port
    int workers = 4;
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
    void stop();

    static bool isLoopback(const std::string &host);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace opd::appserver
