#pragma once
// Table model behind the host's picker dialogs: the visible fields of a data
// set's visible rows, optionally preceded by a check column for multi-select.

#include <QAbstractTableModel>
#include <QList>
#include <QSet>

namespace opd { class ClientDataSet; }

class PickerModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    PickerModel(opd::ClientDataSet *dataSet, bool checkable, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Text of a field (by index in the data set) in a row.
    QString text(int row, int fieldIndex) const;
    // Checks every row whose key field holds one of the keys.
    void checkKeys(int keyField, const QSet<QString> &keys);
    void setAllChecked(bool on);
    bool isChecked(int row) const;
    QList<int> checkedRows() const;
    int fieldOfColumn(int column) const;   // -1 for the check column

private:
    void rebuild();

    opd::ClientDataSet *m_dataSet;
    bool m_checkable;
    QList<int> m_fields;      // data-set field indexes of the shown columns
    QList<bool> m_checked;
};
