#pragma once
// The change history of one order or item: a small read-only dialog with a
// grid of the audit rows (when, who, field, old value, new value), newest
// first, as GetHistorico delivers them. It holds its own data set, so that
// opening it never touches the screen's data sets or commands.

#include <QDialog>

namespace opd { class ClientDataSet; class DataPacket; class DBGrid; class DataSource; }

class HistoryDialog : public QDialog
{
    Q_OBJECT
public:
    // `subject` names the row in the title ("Pedido 0000000001",
    // "Item 0002 do pedido 0000000001"). Throws opd::DataSetError when the
    // packet does not carry the five columns.
    HistoryDialog(const QString &subject, const opd::DataPacket &rows, QWidget *parent = nullptr);

    opd::DBGrid *grid() const { return m_grid; }
    opd::ClientDataSet *rows() const { return m_rows; }

private:
    opd::ClientDataSet *m_rows;
    opd::DataSource *m_source;
    opd::DBGrid *m_grid;
};
