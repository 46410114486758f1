#include "host/PickerModel.h"

#include "platform/ClientDataSet.h"

PickerModel::PickerModel(opd::ClientDataSet *dataSet, bool checkable, QObject *parent)
    : QAbstractTableModel(parent), m_dataSet(dataSet), m_checkable(checkable)
{
    rebuild();
    if (m_dataSet) {
        // The dialogs are modal, so the rows rarely change under them; when a
        // data set is reset anyway, marks are dropped rather than guessed.
        connect(m_dataSet, &opd::ClientDataSet::rowsReset, this, [this] {
            beginResetModel();
            rebuild();
            endResetModel();
        });
    }
}

void PickerModel::rebuild()
{
    m_fields.clear();
    int rows = 0;
    if (m_dataSet) {
        const auto &fields = m_dataSet->fields();
        for (const auto &field : fields) {
            if (field->isVisible())
                m_fields.append(field->index());
        }
        rows = m_dataSet->isActive() ? m_dataSet->recordCount() : 0;
    }
    m_checked = QList<bool>(rows, false);
}

int PickerModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_checked.size());
}

int PickerModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size()) + (m_checkable ? 1 : 0);
}

int PickerModel::fieldOfColumn(int column) const
{
    const int c = column - (m_checkable ? 1 : 0);
    return (c >= 0 && c < m_fields.size()) ? m_fields.at(c) : -1;
}

QString PickerModel::text(int row, int fieldIndex) const
{
    if (!m_dataSet || row < 0 || row >= m_checked.size())
        return QString();
    return m_dataSet->displayTextAt(row, fieldIndex);
}

QVariant PickerModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    if (m_checkable && index.column() == 0) {
        if (role == Qt::CheckStateRole)
            return m_checked.at(index.row()) ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return text(index.row(), fieldOfColumn(index.column()));
    return QVariant();
}

bool PickerModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || !m_checkable
        || index.column() != 0 || role != Qt::CheckStateRole)
        return false;
    m_checked[index.row()] = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant PickerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && m_checkable && section == 0) {
        // The marks' column: a check mark for the eye, a word for a reader.
        if (role == Qt::DisplayRole)
            return QStringLiteral("\u2713");
        if (role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
            return QStringLiteral("Marcado");
        return QVariant();
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    const int field = fieldOfColumn(section);
    if (field < 0 || !m_dataSet)
        return QVariant();
    return m_dataSet->fields().at(field)->displayLabel();
}

Qt::ItemFlags PickerModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_checkable && index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void PickerModel::checkKeys(int keyField, const QSet<QString> &keys)
{
    for (int row = 0; row < m_checked.size(); ++row)
        m_checked[row] = keys.contains(text(row, keyField));
    if (!m_checked.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_checked.size()) - 1, 0), {Qt::CheckStateRole});
}

void PickerModel::setAllChecked(bool on)
{
    m_checked.fill(on);
    if (!m_checked.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_checked.size()) - 1, 0), {Qt::CheckStateRole});
}

bool PickerModel::isChecked(int row) const
{
    return row >= 0 && row < m_checked.size() && m_checked.at(row);
}

QList<int> PickerModel::checkedRows() const
{
    QList<int> rows;
    for (int row = 0; row < m_checked.size(); ++row) {
        if (m_checked.at(row))
            rows.append(row);
    }
    return rows;
}
