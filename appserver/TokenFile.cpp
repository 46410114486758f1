#include "appserver/TokenFile.h"

#include <QFile>
#include <QList>

namespace opd::appserver {

bool TokenFile::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("não foi possível ler %1: %2").arg(path, file.errorString());
        return false;
    }
    return loadText(file.readAll(), error);
}

bool TokenFile::loadText(const QByteArray &text, QString *error)
{
    std::map<std::string, std::string> users;
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() != 2 || parts[0].size() < 8) {
            *error = QStringLiteral("linha %1 do arquivo de tokens: esperado \"<token> <usuário>\" "
                                    "(token de 8 caracteres ou mais)").arg(number);
            return false;
        }
        users[parts[0].toStdString()] = parts[1].toStdString();
    }
    if (users.empty()) {
        *error = QStringLiteral("o arquivo de tokens não tem nenhum token");
        return false;
    }
    m_users = std::move(users);
    return true;
}

std::string TokenFile::userFor(const std::string &authorization) const
{
    static const std::string prefix = "Bearer ";
    if (authorization.compare(0, prefix.size(), prefix) != 0)
        return {};
    const auto it = m_users.find(authorization.substr(prefix.size()));
    return it == m_users.end() ? std::string() : it->second;
}

} // namespace opd::appserver
