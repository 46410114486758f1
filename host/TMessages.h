#pragma once
// A screen's keyed message table: lines "KEY|Text".
//
// Lookup rule for a key: the first entry with exactly that key. A key
// without an exact entry is read as an abbreviated word: among the entries
// whose key, ignoring case, starts with it and goes on with letters only
// (the word written out, not a suffixed key such as "Prod_Empty"), the
// longest key wins, the first of equal length; when none, the key itself.
// So "Prod" finds "PRODUTO|Produto" rather than the short code "PROD",
// which in these tables names an error text.

#include <QObject>
#include <QStringList>

class TMessages : public QObject
{
    Q_OBJECT
public:
    explicit TMessages(QObject *parent = nullptr);
    void setEntries(const QStringList &lines);   // replaces the table as a whole
    const QStringList &entries() const;
    QString Msg(const QString &key) const;

private:
    QStringList m_lines;
};
