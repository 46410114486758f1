#pragma once
// The remote data module "OPD31000.rdmDescEmiPed": the declarations of its
// five methods and their handlers, which decode the positional arguments,
// call DescEmiPedService and hand back the payload.

#include "appserver/ModuleRegistry.h"
#include "appserver/DescEmiPedService.h"

namespace opd::appserver {

class DescEmiPedModule
{
public:
    static const char *name() { return "OPD31000.rdmDescEmiPed"; }
    static void registerIn(ModuleRegistry &registry);

    // Decoding of GetPedido's 20 arguments (exposed for tests). Throws
    // ServiceError for a bad flag, list, range, date or status text.
    static PedidoFilter decodeFilter(const std::vector<RpcArg> &args);
};

} // namespace opd::appserver
