#include "platform/DataSource.h"

namespace opd {

DataSource::DataSource(QObject *parent) : QObject(parent) {}

ClientDataSet *DataSource::dataSet() const
{
    return m_dataSet;
}

void DataSource::setDataSet(ClientDataSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    const ClientDataSet::State before = state();
    disconnect(m_connection);
    m_dataSet = dataSet;
    if (dataSet)
        m_connection = connect(dataSet, &ClientDataSet::stateChanged, this,
                               &DataSource::stateChanged);
    emit dataSetChanged();
    if (state() != before)
        emit stateChanged(state());
}

ClientDataSet::State DataSource::state() const
{
    return m_dataSet ? m_dataSet->state() : ClientDataSet::State::Inactive;
}

void DataSource::edit()
{
    if (m_dataSet && m_dataSet->state() == ClientDataSet::State::Browse)
        m_dataSet->edit();
}

} // namespace opd
