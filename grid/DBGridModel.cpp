#include "grid/DBGridModel.h"

#include "platform/Dates.h"

#include <QLocale>

namespace opd {

namespace {

// The clerk's reading of numbers and dates: Brazilian Portuguese whatever
// the machine's locale. Only what is shown; the data set's own texts (and
// the cell editor, which works on them) stay as they are.
const QLocale &clerkLocale()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

QString displayText(const ClientDataSet &ds, int row, const Field &field)
{
    if (ds.isNullAt(row, field.index()))
        return QString();
    const double v = ds.numberAt(row, field.index());
    switch (field.dataType()) {
    case FieldType::Float:
        return clerkLocale().toString(v, 'g', 15);
    case FieldType::DateTime: {
        const QDateTime dt = dateTimeFromDayCount(v);
        if (!dt.isValid())
            return QString();
        if (dt.time().msecsSinceStartOfDay() == 0)
            return clerkLocale().toString(dt.date(), QStringLiteral("dd/MM/yyyy"));
        return clerkLocale().toString(dt, QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    default:
        return ds.displayTextAt(row, field.index());
    }
}

} // namespace

DBGridModel::DBGridModel(QObject *parent) : QAbstractTableModel(parent) {}

DBGridModel::~DBGridModel()
{
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    disconnect(m_sourceConnection);
}

DataSource *DBGridModel::dataSource() const
{
    return m_source;
}

void DBGridModel::setDataSource(DataSource *source)
{
    disconnect(m_sourceConnection);
    m_source = source;
    if (source)
        m_sourceConnection = connect(source, &DataSource::dataSetChanged, this, &DBGridModel::rebind);
    rebind();
}

ClientDataSet *DBGridModel::dataSet() const
{
    return m_dataSet;
}

void DBGridModel::setColumns(const QList<ColumnBinding> &columns)
{
    beginResetModel();
    m_columns = columns;
    endResetModel();
}

Field *DBGridModel::fieldAt(int column) const
{
    if (!m_dataSet || column < 0 || column >= m_columns.size())
        return nullptr;
    return m_dataSet->findField(m_columns[column].fieldName);
}

void DBGridModel::setIndicator(bool on)
{
    m_indicator = on;
    if (m_rows > 0)
        emit headerDataChanged(Qt::Vertical, 0, m_rows - 1);
}

void DBGridModel::setEditable(bool on)
{
    m_editable = on;
}

void DBGridModel::rebind()
{
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_dataSet = m_source ? m_source->dataSet() : nullptr;
    if (m_dataSet) {
        ClientDataSet *ds = m_dataSet;
        // The data set reports changes after making them, so the count the
        // views know is kept here and moved between begin and end.
        m_connections << connect(ds, &ClientDataSet::rowsReset, this, &DBGridModel::reset);
        m_connections << connect(ds, &ClientDataSet::rowAboutToBeInserted, this, [this](int row) {
            if (row < 0 || row > m_rows)
                return;
            beginInsertRows({}, row, row);
            m_pending = Pending::Insert;
        });
        m_connections << connect(ds, &ClientDataSet::rowInserted, this, [this] {
            if (m_pending != Pending::Insert)
                return reset();
            m_pending = Pending::None;
            m_rows = m_dataSet->recordCount();
            endInsertRows();
        });
        m_connections << connect(ds, &ClientDataSet::rowAboutToBeRemoved, this, [this](int row) {
            if (row < 0 || row >= m_rows)
                return;
            beginRemoveRows({}, row, row);
            m_pending = Pending::Remove;
        });
        m_connections << connect(ds, &ClientDataSet::rowRemoved, this, [this] {
            if (m_pending != Pending::Remove)
                return reset();
            m_pending = Pending::None;
            m_rows = m_dataSet->recordCount();
            endRemoveRows();
        });
        m_connections << connect(ds, &ClientDataSet::rowChanged, this, [this](int row) {
            if (row >= 0 && row < m_rows && !m_columns.isEmpty())
                emit dataChanged(index(row, 0), index(row, int(m_columns.size()) - 1));
            if (m_indicator && row >= 0 && row < m_rows)
                emit headerDataChanged(Qt::Vertical, row, row);
        });
        m_connections << connect(ds, &ClientDataSet::stateChanged, this, [this] {
            if (m_indicator && m_current >= 0 && m_current < m_rows)
                emit headerDataChanged(Qt::Vertical, m_current, m_current);
        });
        m_connections << connect(ds, &ClientDataSet::currentRowChanged, this, [this](int row) {
            const int old = m_current;
            m_current = row;
            if (!m_indicator)
                return;
            if (old >= 0 && old < m_rows)
                emit headerDataChanged(Qt::Vertical, old, old);
            if (row >= 0 && row < m_rows)
                emit headerDataChanged(Qt::Vertical, row, row);
        });
    }
    reset();
}

void DBGridModel::reset()
{
    beginResetModel();
    m_rows = m_dataSet ? m_dataSet->recordCount() : 0;
    m_current = m_dataSet ? m_dataSet->recNo() : -1;
    endResetModel();
}

int DBGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DBGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DBGridModel::data(const QModelIndex &index, int role) const
{
    // Between the about-to and the done signals the data set has already
    // moved its rows: answer nothing rather than a neighbour's cells.
    if (!index.isValid() || index.row() >= m_rows || !m_dataSet || m_pending != Pending::None)
        return {};
    Field *field = fieldAt(index.column());
    if (!field)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return displayText(*m_dataSet, index.row(), *field);
    case Qt::EditRole:
        return m_dataSet->displayTextAt(index.row(), field->index());
    case Qt::TextAlignmentRole:
        if (field->dataType() == FieldType::Float)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= m_columns.size())
            return {};
        if (!m_columns[section].title.isEmpty())
            return m_columns[section].title;
        if (Field *f = fieldAt(section))
            return f->displayLabel();
        return QString::fromUtf8(m_columns[section].fieldName);
    }
    if (!m_indicator || section != m_current || !m_dataSet)
        return QString();
    switch (m_dataSet->state()) {
    case ClientDataSet::State::Edit: return QStringLiteral("I");
    case ClientDataSet::State::Insert: return QStringLiteral("*");
    default: return QStringLiteral("▶");
    }
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    Field *field = fieldAt(index.column());
    if (m_editable && field && !field->isReadOnly())
        f |= Qt::ItemIsEditable;
    return f;
}

} // namespace opd
