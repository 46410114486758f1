#pragma once
// Bearer tokens and their users: one "<token> <user>" per line; blank lines
// and lines starting with '#' are skipped.

#include <QString>
#include <map>
#include <string>

namespace opd::appserver {

class TokenFile
{
public:
    // False with *error set when the file cannot be read or a line is malformed.
    bool load(const QString &path, QString *error);
    bool loadText(const QByteArray &text, QString *error);
    // The user of an "Authorization" header value, or empty when refused.
    std::string userFor(const std::string &authorization) const;
    bool isEmpty() const { return m_users.empty(); }

private:
    std::map<std::string, std::string> m_users;
};

} // namespace opd::appserver
