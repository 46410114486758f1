#include "appserver/ModuleRegistry.h"

#include <QStringList>

namespace opd::appserver {

void ModuleRegistry::add(const QString &module, const QString &method, std::vector<ArgKind> kinds,
                         MethodHandler handler, Access access)
{
    m_modules[module][method] = Method{std::move(kinds), std::move(handler), access};
}

QStringList ModuleRegistry::modules() const
{
    QStringList names;
    for (const auto &entry : m_modules)
        names << entry.first;
    return names;
}

const MethodHandler *ModuleRegistry::resolve(const QString &fullName, const std::vector<RpcArg> &args,
                                             RpcFailure *failure, Access *access) const
{
    // Module names contain dots themselves: the method is after the last one.
    const qsizetype dot = fullName.lastIndexOf(QLatin1Char('.'));
    const QString module = dot > 0 ? fullName.left(dot) : QString();
    const QString method = dot > 0 ? fullName.mid(dot + 1) : fullName;
    const auto m = m_modules.find(module);
    if (m == m_modules.end()) {
        *failure = {MethodNotFound, QStringLiteral("módulo desconhecido: %1").arg(module)};
        return nullptr;
    }
    const auto f = m->second.find(method);
    if (f == m->second.end()) {
        *failure = {MethodNotFound, QStringLiteral("método desconhecido: %1").arg(fullName)};
        return nullptr;
    }
    const auto &kinds = f->second.kinds;
    if (args.size() != kinds.size()) {
        *failure = {InvalidParams, QStringLiteral("%1 espera %2 argumentos, recebeu %3")
                                       .arg(fullName).arg(kinds.size()).arg(args.size())};
        return nullptr;
    }
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (args[i].kind != kinds[i]) {
            *failure = {InvalidParams, QStringLiteral("argumento %1 de %2: esperado %3, recebido %4")
                                           .arg(i + 1).arg(method, QLatin1String(argKindName(kinds[i])),
                                                           QLatin1String(argKindName(args[i].kind)))};
            return nullptr;
        }
    }
    if (access)
        *access = f->second.access;
    return &f->second.handler;
}

} // namespace opd::appserver
