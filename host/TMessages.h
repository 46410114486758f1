#pragma once
// A screen's keyed message table: lines "KEY|Text".
//
// Lookup rule for a key: the first entry with exactly that key; when none
// has it, the first entry whose key equals it ignoring case; when none,
// the key itself.

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
