#pragma once
// Database URLs, read the same way by the host's lookups and by the server:
//
//   sqlite:PATH                 a SQLite file; sqlite:///abs/file.db is /abs/file.db
//   postgresql://[USER[:PASSWORD]@]HOST[:PORT]/DATABASE[?KEY=VALUE&...]
//   postgres://...              the same
//
// USER, PASSWORD, DATABASE and option values may be percent-encoded (%40 for
// '@'). HOST is a name, an IPv4 address or an IPv6 address in brackets; PORT
// is 1..65535 (5432 when absent). Options are connection parameters such as
// sslmode=require or connect_timeout=5. Refused, with a message: any other
// scheme, an empty path or host or database, a bad port or percent sign, and
// control characters anywhere (also once decoded), which no file name,
// password or database name legitimately holds.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace opd {

struct DbUrl
{
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    std::string path;                                           // SQLite
    std::string host, database, user, password;                 // PostgreSQL, decoded
    int port = 5432;
    std::vector<std::pair<std::string, std::string>> options;   // PostgreSQL, decoded

    // False with a message (in *error) for a text that is not such a URL.
    static bool parse(std::string_view url, DbUrl *out, std::string *error);
};

namespace dburl_detail {

inline bool hasControl(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

inline bool decode(std::string_view text, std::string *out)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const int hi = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int lo = hi >= 0 ? hexValue(text[i + 2]) : -1;
        if (lo < 0)
            return false;
        decoded += char(hi * 16 + lo);
        i += 2;
    }
    if (hasControl(decoded))
        return false;
    *out = std::move(decoded);
    return true;
}

} // namespace dburl_detail

inline bool DbUrl::parse(std::string_view url, DbUrl *out, std::string *error)
{
    using namespace dburl_detail;
    const std::string shown(url.substr(0, 200));
    auto fail = [&](const std::string &why) {
        if (error)
            *error = "URL de banco de dados inválida: '" + (hasControl(shown) ? std::string("(caracteres de controle)") : shown)
                     + "': " + why;
        return false;
    };
    if (hasControl(url))
        return fail("caracteres de controle não são aceitos.");
    DbUrl u;
    if (url.substr(0, 7) == "sqlite:") {
        std::string_view path = url.substr(7);
        if (path.substr(0, 2) == "//")
            path.remove_prefix(2);
        if (path.empty())
            return fail("sem caminho do arquivo (use sqlite:CAMINHO).");
        u.kind = Kind::Sqlite;
        u.path = std::string(path);
        *out = std::move(u);
        return true;
    }
    std::string_view rest;
    if (url.substr(0, 13) == "postgresql://")
        rest = url.substr(13);
    else if (url.substr(0, 11) == "postgres://")
        rest = url.substr(11);
    else
        return fail("use sqlite:CAMINHO ou postgresql://usuario@host:porta/banco.");
    u.kind = Kind::Postgres;

    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        return fail("falta o nome do banco (postgresql://usuario@host:porta/banco).");
    std::string_view authority = rest.substr(0, slash);
    std::string_view tail = rest.substr(slash + 1);
    if (authority.find('?') != std::string_view::npos)
        return fail("falta o nome do banco antes das opções.");

    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userinfo = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        const size_t colon = userinfo.find(':');
        if (!decode(userinfo.substr(0, colon), &u.user)
            || (colon != std::string_view::npos && !decode(userinfo.substr(colon + 1), &u.password)))
            return fail("usuário ou senha mal codificados.");
    }

    std::string_view hostText = authority, portText;
    bool hasPort = false, bracketed = false;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return fail("endereço IPv6 sem ']'.");
        hostText = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return fail("texto depois do endereço IPv6.");
        hasPort = !after.empty();
        portText = hasPort ? after.substr(1) : std::string_view();
        bracketed = true;
    } else {
        const size_t colon = authority.find(':');
        hostText = authority.substr(0, colon);
        hasPort = colon != std::string_view::npos;
        portText = hasPort ? authority.substr(colon + 1) : std::string_view();
    }
    if (hostText.empty())
        return fail("falta o servidor (postgresql://usuario@host:porta/banco).");
    for (char c : hostText) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        const bool fine = bracketed ? hex || c == ':' || c == '.'
                                    : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
                                          || c == '.' || c == '-' || c == '_';
        if (!fine)
            return fail("nome de servidor inválido.");
    }
    u.host = std::string(hostText);
    if (hasPort && portText.empty())
        return fail("porta vazia.");
    if (!portText.empty()) {
        long port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9' || port > 65535)
                return fail("porta inválida (esperado um número de 1 a 65535).");
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535)
            return fail("porta inválida (esperado um número de 1 a 65535).");
        u.port = int(port);
    }

    const size_t question = tail.find('?');
    if (!decode(tail.substr(0, question), &u.database))
        return fail("nome do banco mal codificado.");
    if (u.database.empty() || u.database.find('/') != std::string::npos)
        return fail("falta o nome do banco (postgresql://usuario@host:porta/banco).");
    if (question != std::string_view::npos) {
        std::string_view query = tail.substr(question + 1);
        while (!query.empty()) {
            const size_t amp = query.find('&');
            const std::string_view pair = query.substr(0, amp);
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
            const size_t eq = pair.find('=');
            if (eq == 0 || eq == std::string_view::npos)
                return fail("opção sem nome ou sem '=' (use ?chave=valor).");
            const std::string_view key = pair.substr(0, eq);
            for (char c : key) {
                if (!((c >= 'a' && c <= 'z') || c == '_'))
                    return fail("nome de opção inválido: '" + std::string(key) + "'.");
            }
            std::string value;
            if (!decode(pair.substr(eq + 1), &value))
                return fail("valor de opção mal codificado.");
            u.options.emplace_back(std::string(key), std::move(value));
        }
    }
    *out = std::move(u);
    return true;
}

} // namespace opd
