// The host's INI reader (Orvand::parseIni): a malformed line is refused with
// a message and adds nothing; what it accepts is keyed "section/key".
#include "FuzzSupport.h"

#include "host/Orvand.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char *>(bytes), qsizetype(size));
    QMap<QString, QString> values{{QStringLiteral("x/y"), QStringLiteral("kept")}};
    QString why;
    const bool ok = Orvand::parseIni(text, &values, &why);
    if (!ok) {
        fuzz::require(!why.isEmpty() && values.size() == 1, "a refused text adds nothing and says why");
        return 0;
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        fuzz::require(it.key().contains(QLatin1Char('/')), "every key is section/key");
    return 0;
}
