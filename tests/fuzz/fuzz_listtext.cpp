// The pickers' list text (platform/ListText.h), read by the server from raw
// bytes and by the client from a QString. A refusal says why and where; an
// accepted text's keys come back from the writer's text; the client's overloads
// read what the server reads.
#include "FuzzSupport.h"

#include "appserver/ListParam.h"
#include "platform/ListText.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(bytes), size);
    std::vector<std::string> keys;
    std::string error;
    const bool ok = opd::listtext::parse(text, &keys, &error);
    fuzz::require(ok || error.rfind("Lista inválida (posição ", 0) == 0, "a refusal says where");
    if (ok) {
        std::vector<std::string> again;
        fuzz::require(opd::listtext::parse(opd::listtext::join(keys), &again) && again == keys,
                      "the writer's text reads back to the same keys");
        for (const std::string &key : keys)
            fuzz::require(key.find('\0') == std::string::npos, "no key holds a NUL");
        // What the server binds: never throws, always a well-formed container.
        const std::string json = opd::appserver::listparam::toJsonArray(keys);
        const std::string pg = opd::appserver::listparam::toPgArray(keys);
        fuzz::require(json.front() == '[' && json.back() == ']', "a JSON array");
        fuzz::require(pg.front() == '{' && pg.back() == '}', "an array literal");
    }

    // The client's text is always UTF-8; where the bytes were too, it reads the same.
    const QString qtext = QString::fromUtf8(text.data(), qsizetype(text.size()));
    QStringList clientKeys;
    QString clientError;
    const bool clientOk = opd::listtext::parse(qtext, &clientKeys, &clientError);
    fuzz::require(clientOk || !clientError.isEmpty(), "a refusal has a message");
    if (qtext.toUtf8() == QByteArray(text.data(), qsizetype(text.size()))) {
        fuzz::require(clientOk == ok, "client and server accept the same texts");
        if (ok) {
            fuzz::require(clientKeys.size() == qsizetype(keys.size()), "the same number of keys");
            for (size_t k = 0; k < keys.size(); ++k)
                fuzz::require(clientKeys.at(qsizetype(k)).toStdString() == keys[k], "the same keys");
            fuzz::require(opd::listtext::join(clientKeys).toStdString() == opd::listtext::join(keys),
                          "both writers write the same text");
        }
    }
    return 0;
}
