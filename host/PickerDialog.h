#pragma once
// The modal list dialog behind PesquisaLista (check column, OK/Cancel) and
// Pesquisar_Plus (single row, OK or double click).

#include <QDialog>

class PickerModel;
class QTableView;
namespace opd { class ClientDataSet; }

class PickerDialog : public QDialog
{
    Q_OBJECT
public:
    enum class Mode { MultiSelect, SinglePick };
    PickerDialog(opd::ClientDataSet *dataSet, Mode mode, const QString &title,
                 QWidget *parent = nullptr);

    PickerModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    int currentRow() const;   // -1 when no row is current
    void setCurrentRow(int row);

private:
    PickerModel *m_model;
    QTableView *m_view;
};
