#include "host/PickerDialog.h"

#include "host/PickerModel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

PickerDialog::PickerDialog(opd::ClientDataSet *dataSet, Mode mode, const QString &title,
                           QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("frmPesquisa"));
    const bool multi = mode == Mode::MultiSelect;
    m_model = new PickerModel(dataSet, multi, this);
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("dbgPesquisa"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->verticalHeader()->setDefaultSectionSize(20);
    m_view->resizeColumnsToContents();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (multi) {
        auto *all = buttons->addButton(QStringLiteral("Marcar todos"), QDialogButtonBox::ActionRole);
        auto *none = buttons->addButton(QStringLiteral("Desmarcar todos"), QDialogButtonBox::ActionRole);
        connect(all, &QPushButton::clicked, this, [this] { m_model->setAllChecked(true); });
        connect(none, &QPushButton::clicked, this, [this] { m_model->setAllChecked(false); });
        // Space or a click on a row toggles its mark, the way the check column reads.
        connect(m_view, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
            const QModelIndex check = m_model->index(index.row(), 0);
            m_model->setData(check, m_model->isChecked(index.row()) ? Qt::Unchecked : Qt::Checked,
                             Qt::CheckStateRole);
        });
    } else {
        connect(m_view, &QTableView::doubleClicked, this, &QDialog::accept);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addWidget(buttons);
    resize(560, 360);
    if (m_model->rowCount() > 0)
        setCurrentRow(0);
}

int PickerDialog::currentRow() const
{
    const QModelIndex current = m_view->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void PickerDialog::setCurrentRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    m_view->setCurrentIndex(m_model->index(row, m_model->columnCount() > 1 ? 1 : 0));
}
