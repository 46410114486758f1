#pragma once
// Table model of a DBGrid: one row per visible row of the data source's data
// set, one column per grid column. Reads cells on demand (no per-row state),
// so a million rows cost nothing until they are painted.

#include "platform/DataSource.h"

#include <QAbstractTableModel>
#include <QPointer>

namespace opd {

class DBGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    struct ColumnBinding
    {
        QByteArray fieldName;
        QString title;      // empty: the field's display label
    };

    explicit DBGridModel(QObject *parent = nullptr);
    ~DBGridModel() override;

    DataSource *dataSource() const;
    void setDataSource(DataSource *source);
    ClientDataSet *dataSet() const;
    void setColumns(const QList<ColumnBinding> &columns);
    // Field of a model column, nullptr when the data set lacks it.
    Field *fieldAt(int column) const;
    // Shows the row state mark (current row, editing, inserting) in the vertical header.
    void setIndicator(bool on);
    void setEditable(bool on);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void rebind();
    void reset();

    QPointer<DataSource> m_source;
    QPointer<ClientDataSet> m_dataSet;
    QList<ColumnBinding> m_columns;
    QList<QMetaObject::Connection> m_connections;
    QMetaObject::Connection m_sourceConnection;
    int m_rows = 0;          // the count the views were last told about
    int m_current = -1;
    enum class Pending { None, Insert, Remove } m_pending = Pending::None;
    bool m_indicator = false;
    bool m_editable = true;
};

} // namespace opd
