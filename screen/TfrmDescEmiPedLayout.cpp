// The screen's controls: the filter panel, the orders page and the items
// page's columns. Positions and sizes are the form's own (pixels); the panel
// uses fixed geometry so that the controls keep their places whatever the
// base's layout does with the window.

#include "screen/TfrmDescEmiPed.h"

#include "host/TBtnPesquisa.h"
#include "host/TDateEditPlus.h"
#include "grid/DBGrid.h"
#include "screen/UpperCaseValidator.h"

#include <QBoxLayout>
#include <QRegularExpressionValidator>

namespace {

const QColor kPaleYellow(0xFF, 0xFF, 0xE1);

template<typename W>
W *named(W *w, const char *name, int x, int y, int width, int height)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    return w;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, int x, int y, int w = 20)
{
    auto *l = named(new QLabel(text, parent), name, x, y, w, 13);
    return l;
}

QGroupBox *group(QWidget *parent, const char *name, const QString &title, int x, int y, int w, int h)
{
    auto *g = named(new QGroupBox(title, parent), name, x, y, w, h);
    QFont f = g->font();
    f.setBold(true);
    g->setFont(f);   // the caption; the children are given the normal font back
    return g;
}

QFont normalFont(const QWidget *w)
{
    QFont f = w->font();
    f.setBold(false);
    return f;
}

QToolButton *searchButton(QWidget *parent, const char *name, int x, int y)
{
    auto *b = named(new QToolButton(parent), name, x, y, 23, 22);
    b->setToolTip(QStringLiteral("Pesquisar"));
    b->setAutoRaise(true);
    b->setIcon(b->style()->standardIcon(QStyle::SP_FileDialogContentsView));
    b->setEnabled(false);
    return b;
}

void paintBase(QWidget *w, const QColor &color)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Base, color);
    w->setPalette(p);
}

} // namespace

void TfrmDescEmiPed::buildFilterPanel()
{
    panFiltro = new QFrame(this);
    panFiltro->setObjectName(QStringLiteral("panFiltro"));
    panFiltro->setGeometry(0, 28, 739, 189);   // between the command bar and the pages
    // The form was drawn for an 8-point face; larger, the group captions no longer fit.
    QFont small = panFiltro->font();
    small.setPointSize(8);
    panFiltro->setFont(small);

    // Issuing branch.
    lblFilial = label(panFiltro, "lblFilial", QStringLiteral("Filial"), 6, 9, 52);
    QFont bold = lblFilial->font();
    bold.setBold(true);
    lblFilial->setFont(bold);
    medCdFilial = named(new QLineEdit(panFiltro), "medCdFilial", 58, 6, 40, 21);
    medCdFilial->setMaxLength(4);
    medCdFilial->setValidator(new UpperCaseValidator(4, medCdFilial));
    medCdFilial->setFocusPolicy(Qt::ClickFocus);   // not a tab stop
    btnFilial = named(new TBtnPesquisa(panFiltro), "btnFilial", 103, 6, 21, 21);
    btnFilial->setToolTip(QStringLiteral("Pesquisar"));
    btnFilial->Title = QStringLiteral("Filial");
    btnFilial->Associate = medCdFilial;
    btnFilial->DataSource = dtsFilial;
    btnFilial->EmptyError = QStringLiteral("Não há filial cadastrada.");
    edtNmFilial = named(new QLineEdit(panFiltro), "edtNmFilial", 129, 6, 325, 21);
    edtNmFilial->setEnabled(false);
    paintBase(edtNmFilial, palette().color(QPalette::Button));
    lblServidor = named(new QLabel(panFiltro), "lblServidor", 460, 6, 265, 26);
    lblServidor->setWordWrap(true);
    lblServidor->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    lblServidor->hide();

    // Order-entry and delivery date ranges.
    const auto dateGroup = [&](const char *g, const QString &title, int x, int y, int w,
                               const char *lde, const char *late, const char *dde, const char *date,
                               QLabel *&lblDe, QLabel *&lblAte, TDateEditPlus *&de, TDateEditPlus *&ate) {
        QGroupBox *box = group(panFiltro, g, title, x, y, w, 79);
        lblDe = label(box, lde, QStringLiteral("de"), 6, 26);
        lblAte = label(box, late, QStringLiteral("até"), 6, 51);
        de = named(new TDateEditPlus(box), dde, 45, 23, 100, 21);
        ate = named(new TDateEditPlus(box), date, 45, 48, 100, 21);
        for (QWidget *c : {static_cast<QWidget *>(lblDe), static_cast<QWidget *>(lblAte),
                           static_cast<QWidget *>(de), static_cast<QWidget *>(ate)})
            c->setFont(normalFont(box));
        return box;
    };
    grbEmissao = dateGroup("grbEmissao", QStringLiteral("Data Lançamento Pedido"), 6, 32, 159,
                           "lblDeEmissao", "lblAteEmissao", "depDeEmissao", "depAteEmissao",
                           lblDeEmissao, lblAteEmissao, depDeEmissao, depAteEmissao);
    grbEntrega = dateGroup("grbEntrega", QStringLiteral("Data Entrega"), 167, 32, 150,
                           "lblDeEntrega", "lblAteEntrega", "depDeEntrega", "depAteEntrega",
                           lblDeEntrega, lblAteEntrega, depDeEntrega, depAteEntrega);

    // The three "Todos"/"Lista" criteria.
    const auto twoModes = [&](const char *g, const QString &title, int x, int y, int w, int h,
                              const char *all, const char *list, const char *button,
                              QRadioButton *&rAll, QRadioButton *&rList, QToolButton *&sbt) {
        QGroupBox *box = group(panFiltro, g, title, x, y, w, h);
        rAll = named(new QRadioButton(QStringLiteral("Todos"), box), all, 8, 22, 60, 17);
        // 47 wide, up to the search button: at 45 the caption lost its last pixel.
        rList = named(new QRadioButton(QStringLiteral("Lista"), box), list, 8, 47, 47, 17);
        sbt = searchButton(box, button, 55, 44);
        rAll->setFont(normalFont(box));
        rList->setFont(normalFont(box));
        rAll->setChecked(true);
        return box;
    };
    gbrFiliDesti = twoModes("gbrFiliDesti", QStringLiteral("Filial Destino"), 320, 33, 90, 79,
                            "rbtTodosFili", "rbtListaFili", "sbtFiliDest",
                            rbtTodosFili, rbtListaFili, sbtFiliDest);
    grbCliente = twoModes("grbCliente", QStringLiteral("Cliente"), 413, 33, 85, 78,
                          "rbtTCliente", "rbtLCliente", "sbtCliente",
                          rbtTCliente, rbtLCliente, sbtCliente);
    grbVendedor = twoModes("grbVendedor", QStringLiteral("Vendedor"), 501, 34, 82, 77,
                           "rbtTVendedor", "rbtLVendedor", "sbtVendedor",
                           rbtTVendedor, rbtLVendedor, sbtVendedor);
    grbVendedor->setFocusPolicy(Qt::TabFocus);

    // Order number: all, a range or a list.
    grbNrPedido = group(panFiltro, "grbNrPedido", QStringLiteral("Nº Pedido"), 6, 113, 577, 71);
    rbtTNrPedido = named(new QRadioButton(QStringLiteral("Todos"), grbNrPedido), "rbtTNrPedido", 6, 30, 70, 17);
    rbtIntervalo = named(new QRadioButton(QStringLiteral("Intervalo"), grbNrPedido), "rbtIntervalo", 123, 30, 75, 17);
    lblDeNrPedido = label(grbNrPedido, "lblDeNrPedido", QStringLiteral("de"), 207, 19);
    lblAteNrPedido = label(grbNrPedido, "lblAteNrPedido", QStringLiteral("até"), 207, 45);
    medDeIntervalo = named(new QLineEdit(grbNrPedido), "medDeIntervalo", 230, 16, 100, 21);
    medAteIntervalo = named(new QLineEdit(grbNrPedido), "medAteIntervalo", 230, 42, 100, 21);
    rbtLNrPedido = named(new QRadioButton(QStringLiteral("Lista"), grbNrPedido), "rbtLNrPedido", 371, 30, 50, 17);
    sbtNrPedido = searchButton(grbNrPedido, "sbtNrPedido", 426, 27);
    const QRegularExpression upToTenDigits(QStringLiteral("[0-9]{0,10}"));
    for (QLineEdit *e : {medDeIntervalo, medAteIntervalo}) {
        e->setMaxLength(10);
        e->setValidator(new QRegularExpressionValidator(upToTenDigits, e));
        e->setEnabled(false);
        paintBase(e, kPaleYellow);
    }
    for (QWidget *w : {static_cast<QWidget *>(rbtTNrPedido), static_cast<QWidget *>(rbtIntervalo),
                       static_cast<QWidget *>(lblDeNrPedido), static_cast<QWidget *>(lblAteNrPedido),
                       static_cast<QWidget *>(medDeIntervalo), static_cast<QWidget *>(medAteIntervalo),
                       static_cast<QWidget *>(rbtLNrPedido)})
        w->setFont(normalFont(grbNrPedido));
    lblDeNrPedido->setEnabled(false);
    lblAteNrPedido->setEnabled(false);
    rbtTNrPedido->setChecked(true);

    // Order status.
    grbPedido = group(panFiltro, "grbPedido", QStringLiteral("Situação do Pedido"), 585, 34, 129, 149);
    const auto status = [&](const char *name, const QString &text, int y, bool on) {
        auto *c = named(new QCheckBox(text, grbPedido), name, 10, y, 112, 17);
        c->setFont(normalFont(grbPedido));
        c->setChecked(on);
        return c;
    };
    chbPPendente = status("chbPPendente", QStringLiteral("Pendente"), 22, true);
    chbPAndamento = status("chbPAndamento", QStringLiteral("Em Andamento"), 46, true);
    chbPLiquidado = status("chbPLiquidado", QStringLiteral("Liquidado"), 70, false);
    chbPCancelado = status("chbPCancelado", QStringLiteral("Cancelado"), 94, false);
    chbPParcialmente = status("chbPParcialmente", QStringLiteral("Parc. Atendido"), 118, false);

    // Tab order of the panel, group by group.
    const QList<QWidget *> order = {
        btnFilial, depDeEmissao, depAteEmissao, depDeEntrega, depAteEntrega,
        rbtTodosFili, rbtListaFili, sbtFiliDest, rbtTCliente, rbtLCliente, sbtCliente,
        grbVendedor, rbtTVendedor, rbtLVendedor, sbtVendedor,
        rbtTNrPedido, rbtIntervalo, medDeIntervalo, medAteIntervalo, rbtLNrPedido, sbtNrPedido,
        chbPPendente, chbPAndamento, chbPLiquidado, chbPCancelado, chbPParcialmente};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    // The reset button joins the base's command bar, left of the close button.
    sbtLimpa = new QToolButton(panMenu);
    sbtLimpa->setObjectName(QStringLiteral("sbtLimpa"));
    sbtLimpa->setToolTip(QStringLiteral("Desfazer"));
    sbtLimpa->setAutoRaise(true);
    sbtLimpa->setIcon(sbtLimpa->style()->standardIcon(QStyle::SP_DialogResetButton));
    sbtLimpa->setGeometry(248, 4, 29, 20);
    sbtLimpa->hide();
}

void TfrmDescEmiPed::buildPages()
{
    // Orders page first, then the base's items page.
    tshPEDIDO = new TTabSheet;
    tshPEDIDO->setObjectName(QStringLiteral("tshPEDIDO"));
    tshPEDIDO->imageIndex = 1;
    pgcPadrao->addPage(tshPEDIDO, QStringLiteral("Pedidos"));

    dbgPEDIDO = new opd::DBGrid(tshPEDIDO);
    dbgPEDIDO->setObjectName(QStringLiteral("dbgPEDIDO"));
    // The grids take the panel's 8-point size. Their column widths below are
    // the form's, drawn for a narrower face: the grid scales them for the
    // face it gets (grid/DesignFace.h), so a whole date and every title fit.
    QFont gridFont = dbgPEDIDO->font();
    gridFont.setPointSize(8);
    dbgPEDIDO->setFont(gridFont);
    dbgPadrao->setFont(gridFont);
    auto *fill = new QVBoxLayout(tshPEDIDO);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(dbgPEDIDO);
    paintBase(dbgPEDIDO, kPaleYellow);
    dbgPEDIDO->setOptions(opd::DBGrid::Editing | opd::DBGrid::Titles | opd::DBGrid::ColumnResize
                          | opd::DBGrid::ColLines | opd::DBGrid::RowLines | opd::DBGrid::Tabs
                          | opd::DBGrid::AlwaysShowSelection | opd::DBGrid::ConfirmDelete
                          | opd::DBGrid::CancelOnExit);
    dbgPEDIDO->setDataSource(dtsPedido);
    dbgPEDIDO->setColumns({
        {"NRPEDIDO", QStringLiteral("N° Pedido"), 87, opd::DBGrid::ButtonStyle::None},
        {"NMRAZSOCCLIE", QStringLiteral("Cliente/Filial de Destino"), 362, opd::DBGrid::ButtonStyle::None},
        {"DTPEDIDO", QStringLiteral("Data Pedido"), 66, opd::DBGrid::ButtonStyle::None},
        {"DTENTPED", QString(), 73, opd::DBGrid::ButtonStyle::None},   // title from the field label
    });

    pgcPadrao->addPage(tshPadrao, QStringLiteral("Itens do Pedido"));

    dtsPadrao->setDataSet(cdsItens);
    dbgPadrao->setDataSource(dtsPadrao);
    dbgPadrao->onKeyDown = nullptr;   // the base grid's own key-down handling is off here
    dbgPadrao->setColumns({
        {"NRITEMPED", QStringLiteral("N° Item Pedido"), 76, opd::DBGrid::ButtonStyle::None},
        {"CDARVPROD", QStringLiteral("Código"), 78, opd::DBGrid::ButtonStyle::None},
        {"NMPRODUTO", QStringLiteral("Nome"), 211, opd::DBGrid::ButtonStyle::None},
        {"QTITEMPED", QString(), 61, opd::DBGrid::ButtonStyle::None},
        {"DSEMISSAOITPED", QStringLiteral("Descrição para Emissão"), 179, opd::DBGrid::ButtonStyle::Ellipsis},
    });
}
