#pragma once
// Rows of a test database read directly, as text, so that what a layer
// returned can be compared with what the tables hold.

#include "db/Database.h"

#include <QString>
#include <QStringList>

// One cell as text; NULL as "<null>".
inline QString cellText(opd::db::Statement &s, int c)
{
    if (s.isNull(c))
        return QStringLiteral("<null>");
    const auto v = s.text(c);
    return QString::fromUtf8(v.data(), qsizetype(v.size()));
}

// Every statement's rows as "a|b|c" lines.
inline QStringList selectLines(opd::db::Database &db, const char *sql, int columns)
{
    auto s = db.prepare(sql);
    QStringList out;
    while (s->step()) {
        QStringList cells;
        for (int c = 0; c < columns; ++c)
            cells << cellText(*s, c);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}
