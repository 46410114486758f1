#include "host/ListText.h"

namespace ListText {

QString join(const QStringList &keys)
{
    QString out;
    for (const QString &key : keys) {
        if (!out.isEmpty())
            out.append(QLatin1Char(','));
        QString quoted = key;
        quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
        out.append(QLatin1Char('\'')).append(quoted).append(QLatin1Char('\''));
    }
    return out;
}

bool parse(const QString &text, QStringList *keys, QString *error)
{
    QStringList result;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("Lista inválida (posição %1): %2").arg(i + 1).arg(why);
        return false;
    };
    while (i < n) {
        if (text.at(i) != QLatin1Char('\''))
            return fail(QStringLiteral("esperava aspas simples."));
        ++i;
        QString key;
        bool closed = false;
        while (i < n) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('\'')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('\'')) {
                    key.append(c);
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            key.append(c);
            ++i;
        }
        if (!closed)
            return fail(QStringLiteral("aspas não fechadas."));
        result.append(key);
        if (i == n)
            break;
        if (text.at(i) != QLatin1Char(','))
            return fail(QStringLiteral("esperava vírgula."));
        ++i;
        if (i == n)
            return fail(QStringLiteral("vírgula no fim."));
    }
    if (keys)
        *keys = result;
    return true;
}

} // namespace ListText
