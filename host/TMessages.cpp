#include "host/TMessages.h"

#include <algorithm>

TMessages::TMessages(QObject *parent)
    : QObject(parent)
{
}

void TMessages::setEntries(const QStringList &lines)
{
    m_lines = lines;
}

const QStringList &TMessages::entries() const
{
    return m_lines;
}

QString TMessages::Msg(const QString &key) const
{
    // Tables are a few dozen lines, so the linear scan costs nothing worth
    // an index. The exact entry is searched to the end before any word
    // match is taken, so an exact key always wins wherever it stands.
    const QString *word = nullptr;
    qsizetype wordLength = -1;
    for (const QString &line : m_lines) {
        const qsizetype bar = line.indexOf(QLatin1Char('|'));
        if (bar < 0)
            continue;
        const QStringView lineKey = QStringView(line).left(bar);
        if (lineKey == key)
            return line.mid(bar + 1);
        if (key.isEmpty() || !lineKey.startsWith(key, Qt::CaseInsensitive) || bar <= wordLength)
            continue;
        const QStringView rest = lineKey.mid(key.size());
        if (std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isLetter(); })) {
            word = &line;
            wordLength = bar;
        }
    }
    if (word)
        return word->mid(wordLength + 1);
    return key;
}
