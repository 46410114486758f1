// The two readers of the picker's list texts: the host's (ListText::parse)
// and the server's (opd::appserver::ListText::parse). Without blanks around
// the whole text they accept the same texts with the same keys, and the
// host's writer gives back a text both read to those keys.
#include "FuzzSupport.h"

#include "appserver/ListText.h"
#include "host/ListText.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(bytes), size);
    const QString qtext = QString::fromUtf8(text.data(), qsizetype(text.size()));
    std::vector<std::string> serverKeys;
    const bool serverOk = opd::appserver::ListText::parse(text, &serverKeys);
    QStringList hostKeys;
    QString error;
    const bool hostOk = ListText::parse(qtext, &hostKeys, &error);
    if (!hostOk)
        fuzz::require(!error.isEmpty(), "a refusal has a message");
    if (serverOk)
        opd::appserver::ListText::toJsonArray(serverKeys);

    // Compared only on valid UTF-8 with no blank at either end: the server
    // trims the whole text, the host takes it as typed.
    const bool comparable = qtext.toUtf8() == QByteArray(text.data(), qsizetype(text.size()))
                            && qtext.trimmed().size() == qtext.size();
    if (comparable) {
        fuzz::require(serverOk == hostOk, "both readers accept the same texts");
        if (serverOk) {
            QStringList fromServer;
            for (const std::string &k : serverKeys)
                fromServer << QString::fromStdString(k);
            fuzz::require(fromServer == hostKeys, "both readers find the same keys");
        }
    }
    if (hostOk) {
        QStringList again;
        fuzz::require(ListText::parse(ListText::join(hostKeys), &again, &error) && again == hostKeys,
                      "the host's writer and reader agree");
    }
    return 0;
}
