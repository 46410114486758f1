#pragma once
// A read-only lookup query on the host's shared database connection
// (dtmDBGeral), with one SQL text per back end. Rows are copied into a
// ClientDataSet (Query()) whose fields are declared with addField().

#include "platform/ClientDataSet.h"

#include <QMap>
#include <QObject>

class TADOIBQuery : public QObject
{
    Q_OBJECT
public:
    enum class Backend { SQLite, PostgreSQL };

    explicit TADOIBQuery(QObject *parent = nullptr);

    void setSql(const QString &sql);                     // the same for every back end
    void setSql(Backend backend, const QString &sql);
    QString sql(Backend backend) const;
    opd::Field *addField(const opd::FieldDef &def);
    void setParam(const QString &name, const QString &text);  // ParamByName(..).AsString

    void Open();      // runs the SQL for the active back end; throws opd::DataSetError
    void Close();
    bool isActive() const;
    bool IsEmpty() const;
    opd::ClientDataSet *Query() const;

private:
    QMap<Backend, QString> m_sql;
    QMap<QString, QString> m_params;
    opd::ClientDataSet *m_rows;
};

namespace dtmDBGeral {
// The host's shared connection, opened from a database URL (see Orvand).
bool open(const QString &url, QString *error);
void close();
bool isOpen();
TADOIBQuery::Backend backend();
QString connectionName();    // Qt SQL connection name
}
