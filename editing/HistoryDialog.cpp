#include "editing/HistoryDialog.h"

#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"
#include "platform/DataSource.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

opd::FieldDef column(const char *name, int size, const QString &label)
{
    opd::FieldDef d;
    d.name = name;
    d.size = size;
    d.label = label;
    d.readOnly = true;
    return d;
}

} // namespace

HistoryDialog::HistoryDialog(const QString &subject, const opd::DataPacket &rows, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmHistorico"));
    setWindowTitle(QStringLiteral("Histórico de Alterações - %1").arg(subject));
    setAttribute(Qt::WA_DeleteOnClose);

    m_rows = new opd::ClientDataSet(this);
    m_rows->setObjectName(QStringLiteral("cdsHistorico"));
    m_rows->addField(column("DTAUDITORIA", 16, QStringLiteral("Data/Hora")));
    m_rows->addField(column("CDUSUARIO", 30, QStringLiteral("Usuário")));
    m_rows->addField(column("NMCAMPO", 30, QStringLiteral("Campo")));
    m_rows->addField(column("DSVALORANT", 400, QStringLiteral("Valor Anterior")));
    m_rows->addField(column("DSVALORNOV", 400, QStringLiteral("Valor Novo")));
    m_rows->setData(rows);   // refused before anything is shown

    m_source = new opd::DataSource(this);
    m_source->setDataSet(m_rows);

    m_grid = new opd::DBGrid(this);
    m_grid->setObjectName(QStringLiteral("dbgHistorico"));
    m_grid->setOptions(opd::DBGrid::Titles | opd::DBGrid::ColumnResize | opd::DBGrid::ColLines
                       | opd::DBGrid::RowLines | opd::DBGrid::AlwaysShowSelection);
    m_grid->setDataSource(m_source);
    m_grid->setColumns({{"DTAUDITORIA", QString(), 125}, {"CDUSUARIO", QString(), 80},
                        {"NMCAMPO", QString(), 130}, {"DSVALORANT", QString(), 170},
                        {"DSVALORNOV", QString(), 170}});
    m_grid->setAccessibleName(QStringLiteral("Histórico de alterações"));

    auto *empty = new QLabel(QStringLiteral("Nenhuma alteração registrada."), this);
    empty->setObjectName(QStringLiteral("lblSemHistorico"));
    empty->setVisible(m_rows->isEmpty());

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Fechar"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_grid);
    layout->addWidget(empty);
    layout->addWidget(buttons);
    resize(720, 260);
}
