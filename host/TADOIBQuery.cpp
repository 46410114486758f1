#include "host/TADOIBQuery.h"

#include "platform/Dates.h"
#include "platform/Exceptions.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// Names of the :NAME placeholders, outside quoted texts and identifiers and
// not PostgreSQL's "::" casts.
QStringList placeholderNames(const QString &sql)
{
    QStringList names;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype end = sql.indexOf(c, i + 1);
            if (end < 0)
                break;
            i = end;
        } else if (c == QLatin1Char(':')) {
            if (i + 1 < n && sql.at(i + 1) == QLatin1Char(':')) {
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < n && (sql.at(j).isLetterOrNumber() || sql.at(j) == QLatin1Char('_')))
                ++j;
            if (j > i + 1 && !sql.at(i + 1).isDigit()) {
                const QString name = sql.mid(i + 1, j - i - 1);
                if (!names.contains(name))
                    names.append(name);
            }
            i = j - 1;
        }
    }
    return names;
}

void appendCell(opd::DataPacket &packet, const opd::FieldDef &def, const QVariant &value)
{
    if (value.isNull()) {
        packet.appendNull();
        return;
    }
    const QString fieldName = QString::fromUtf8(def.name);
    switch (def.type) {
    case opd::FieldType::String:
    case opd::FieldType::FixedChar: {
        const QString text = value.toString();
        // Cutting a longer value would show a wrong name or code as if it
        // were right; the query's declaration has to be corrected instead.
        if (text.size() > def.size)
            throw opd::DataSetError(QStringLiteral("O valor '%1' do campo %2 tem %3 caracteres; o campo admite %4.")
                                        .arg(text, fieldName).arg(text.size()).arg(def.size));
        packet.appendText(text.toUtf8());
        return;
    }
    case opd::FieldType::Float: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok)
            throw opd::DataSetError(QStringLiteral("O valor '%1' do campo %2 não é um número.")
                                        .arg(value.toString(), fieldName));
        packet.appendNumber(number);
        return;
    }
    case opd::FieldType::DateTime: {
        QDateTime dt;
        if (value.metaType().id() == QMetaType::QDate)
            dt = value.toDate().startOfDay();
        else if (value.metaType().id() == QMetaType::QDateTime)
            dt = value.toDateTime();
        else
            dt = QDateTime::fromString(value.toString().trimmed(), Qt::ISODate);
        if (!dt.isValid()) {
            const QDate date = QDate::fromString(value.toString().trimmed(), Qt::ISODate);
            if (date.isValid())
                dt = date.startOfDay();
        }
        if (!dt.isValid())
            throw opd::DataSetError(QStringLiteral("O valor '%1' do campo %2 não é uma data.")
                                        .arg(value.toString(), fieldName));
        packet.appendNumber(opd::toDayCount(dt));
        return;
    }
    }
}

} // namespace

TADOIBQuery::TADOIBQuery(QObject *parent)
    : QObject(parent), m_rows(new opd::ClientDataSet(this))
{
}

void TADOIBQuery::setSql(const QString &sql)
{
    m_sql[Backend::SQLite] = sql;
    m_sql[Backend::PostgreSQL] = sql;
}

void TADOIBQuery::setSql(Backend backend, const QString &sql)
{
    m_sql[backend] = sql;
}

QString TADOIBQuery::sql(Backend backend) const
{
    return m_sql.value(backend);
}

opd::Field *TADOIBQuery::addField(const opd::FieldDef &def)
{
    opd::FieldDef readOnly = def;
    readOnly.readOnly = true;
    return m_rows->addField(readOnly);
}

void TADOIBQuery::setParam(const QString &name, const QString &text)
{
    m_params.insert(name, text);
}

void TADOIBQuery::Open()
{
    if (!dtmDBGeral::isOpen())
        throw opd::DataSetError(QStringLiteral("A conexão com o banco de dados não está aberta."));
    const QString text = m_sql.value(dtmDBGeral::backend());
    if (text.trimmed().isEmpty())
        throw opd::DataSetError(QStringLiteral("Consulta sem SQL para o banco de dados em uso."));

    QSqlQuery query(QSqlDatabase::database(dtmDBGeral::connectionName(), false));
    query.setForwardOnly(true);
    if (!query.prepare(text))
        throw opd::DataSetError(QStringLiteral("Erro na consulta: %1").arg(query.lastError().text()));
    for (const QString &name : placeholderNames(text)) {
        if (!m_params.contains(name))
            throw opd::DataSetError(QStringLiteral("Parâmetro %1 da consulta sem valor.").arg(name));
        query.bindValue(QLatin1Char(':') + name, m_params.value(name));
    }
    if (!query.exec())
        throw opd::DataSetError(QStringLiteral("Erro na consulta: %1").arg(query.lastError().text()));

    QList<opd::FieldDef> defs;
    for (const auto &field : m_rows->fields())
        defs.append(field->def());
    const QSqlRecord record = query.record();
    QList<int> columns;
    if (defs.isEmpty()) {
        // No declared fields: every column as text wide enough for what came.
        QList<QList<QVariant>> rows;
        QList<int> widths(record.count(), 1);
        while (query.next()) {
            QList<QVariant> row;
            for (int c = 0; c < record.count(); ++c) {
                row.append(query.value(c));
                widths[c] = qMax(widths[c], int(query.value(c).toString().size()));
            }
            rows.append(row);
        }
        for (int c = 0; c < record.count(); ++c) {
            opd::FieldDef def;
            def.name = record.fieldName(c).toUpper().toUtf8();
            def.size = widths[c];
            def.readOnly = true;
            defs.append(def);
        }
        opd::DataPacket packet(defs);
        for (const auto &row : rows) {
            for (int c = 0; c < row.size(); ++c)
                appendCell(packet, defs[c], row[c]);
            packet.endRow();
        }
        m_rows->setData(packet);
        return;
    }
    for (const opd::FieldDef &def : defs) {
        const int column = record.indexOf(QString::fromUtf8(def.name));
        if (column < 0)
            throw opd::DataSetError(QStringLiteral("A consulta não devolve a coluna %1.")
                                        .arg(QString::fromUtf8(def.name)));
        columns.append(column);
    }
    // Everything is read into a packet first: the data set changes only once
    // the whole answer is known to be good.
    opd::DataPacket packet(defs);
    while (query.next()) {
        for (int f = 0; f < defs.size(); ++f)
            appendCell(packet, defs[f], query.value(columns[f]));
        packet.endRow();
    }
    m_rows->setData(packet);
}

void TADOIBQuery::Close()
{
    m_rows->close();
}

bool TADOIBQuery::isActive() const
{
    return m_rows->isActive();
}

bool TADOIBQuery::IsEmpty() const
{
    return m_rows->isEmpty();
}

opd::ClientDataSet *TADOIBQuery::Query() const
{
    return m_rows;
}
