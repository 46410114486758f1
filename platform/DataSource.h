#pragma once
// Links a data set to the controls that show it.

#include "ClientDataSet.h"

#include <QObject>
#include <QPointer>

namespace opd {

class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(QObject *parent = nullptr);

    ClientDataSet *dataSet() const;
    void setDataSet(ClientDataSet *dataSet);
    // Inactive when there is no data set.
    ClientDataSet::State state() const;
    // Puts a browsing data set into editing; does nothing in any other state.
    void edit();

signals:
    void stateChanged(opd::ClientDataSet::State state);
    void dataSetChanged();

private:
    QPointer<ClientDataSet> m_dataSet;
    QMetaObject::Connection m_connection;
};

} // namespace opd
