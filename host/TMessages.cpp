#include "host/TMessages.h"

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
    // Two passes keep "first exact match wins" independent of where a
    // case-insensitive twin stands in the table. Tables are a few dozen
    // lines, so the linear scans cost nothing worth an index.
    const QString *caseless = nullptr;
    for (const QString &line : m_lines) {
        const qsizetype bar = line.indexOf(QLatin1Char('|'));
        if (bar < 0)
            continue;
        const QStringView lineKey = QStringView(line).left(bar);
        if (lineKey == key)
            return line.mid(bar + 1);
        if (!caseless && lineKey.compare(key, Qt::CaseInsensitive) == 0)
            caseless = &line;
    }
    if (caseless)
        return caseless->mid(caseless->indexOf(QLatin1Char('|')) + 1);
    return key;
}
