#pragma once
// The list text of the multi-select pickers, written by the client and read by
// the application server:
//
//   'A','B''C','D,E'
//
// - every key stands between single quotes; a quote inside a key is doubled;
// - keys are separated by one comma and nothing else ('A', 'B' is refused);
// - a key is taken exactly as written: blanks and commas inside the quotes
//   belong to it, and '' is the empty key;
// - blanks (space, tab) before the first key and after the last are ignored;
// - the empty text (or only blanks) is the empty list;
// - a NUL byte, or bytes that are not UTF-8, are refused: no stored key holds them.
//
// join() writes exactly what parse() reads back to the same keys. Plain C++
// over UTF-8 so that the server reads it without Qt's string types; the
// QString overloads are the client's.

#include "platform/Utf8.h"

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace opd::listtext {

inline std::string join(const std::vector<std::string> &keys)
{
    std::string out;
    for (const std::string &key : keys) {
        if (!out.empty())
            out += ',';
        out += '\'';
        for (char c : key) {
            if (c == '\'')
                out += '\'';
            out += c;
        }
        out += '\'';
    }
    return out;
}

// False with a message, and *keys untouched, for a text that breaks a rule above.
inline bool parse(std::string_view text, std::vector<std::string> *keys, std::string *error = nullptr)
{
    size_t i = 0;
    auto fail = [&](const char *why) {
        if (error) {
            // The position the clerk would count: characters, from 1.
            const qsizetype at = utf8::leadBytes(QByteArrayView(text.data(), qsizetype(i)));
            *error = "Lista inválida (posição " + std::to_string(at + 1) + "): " + why;
        }
        return false;
    };
    if (utf8::countChars(QByteArrayView(text.data(), qsizetype(text.size()))) < 0)
        return fail("o texto não é UTF-8 válido.");
    size_t end = text.size();
    while (i < end && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    std::vector<std::string> out;
    while (i < end) {
        if (text[i] != '\'')
            return fail("esperava aspas simples.");
        ++i;
        std::string key;
        bool closed = false;
        while (i < end) {
            const char c = text[i];
            if (c == '\'') {
                if (i + 1 < end && text[i + 1] == '\'') {
                    key += '\'';
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            if (c == '\0')
                return fail("caractere nulo na chave.");
            key += c;
            ++i;
        }
        if (!closed)
            return fail("aspas não fechadas.");
        out.push_back(std::move(key));
        if (i == end)
            break;
        if (text[i] != ',')
            return fail("esperava vírgula.");
        ++i;
        if (i == end)
            return fail("vírgula no fim.");
    }
    if (keys)
        *keys = std::move(out);
    return true;
}

inline QString join(const QStringList &keys)
{
    std::vector<std::string> utf8Keys;
    utf8Keys.reserve(size_t(keys.size()));
    for (const QString &key : keys)
        utf8Keys.push_back(key.toStdString());
    return QString::fromStdString(join(utf8Keys));
}

inline bool parse(const QString &text, QStringList *keys, QString *error)
{
    std::vector<std::string> utf8Keys;
    std::string why;
    if (!parse(text.toStdString(), &utf8Keys, &why)) {
        if (error)
            *error = QString::fromStdString(why);
        return false;
    }
    if (keys) {
        QStringList out;
        out.reserve(qsizetype(utf8Keys.size()));
        for (const std::string &key : utf8Keys)
            out.append(QString::fromStdString(key));
        *keys = out;
    }
    return true;
}

} // namespace opd::listtext
