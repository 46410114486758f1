#include "host/TfrmPadraoGrid.h"

#include "host/CachedWidgets.h"
#include "host/Consiste.h"
#include "host/DBNavigator.h"
#include "host/GridExport.h"
#include "host/Pickers.h"
#include "platform/Exceptions.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const char *const kCommandTexts[7] = {"Incluir", "Exportar", "Excluir", "Procurar",
                                      "Verificar", "Confirmar", "Cancelar"};
// The buttons are 29 pixels wide: glyphs, with the text as the hint.
const QStyle::StandardPixmap kCommandIcons[7] = {
    QStyle::SP_FileIcon, QStyle::SP_DialogSaveButton, QStyle::SP_TrashIcon,
    QStyle::SP_FileDialogContentsView, QStyle::SP_DialogApplyButton, QStyle::SP_DialogOkButton,
    QStyle::SP_DialogCancelButton};

template<typename T>
T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

} // namespace

TfrmPadraoGrid::TfrmPadraoGrid(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmPadraoGrid"));
    resize(747, 475);
    // Opaque: a button or tab changing state repaints the form under it, not
    // also the sub-window around it (its title bar is laid out anew on every
    // paint, elided text and all).
    setAutoFillBackground(true);

    panMenu = named(new QFrame(this), "panMenu");
    panMenu->setGeometry(0, 0, 731, 28);
    panMenu->setFrameShape(QFrame::StyledPanel);
    sbtFechar = named(new CachedToolButton(panMenu), "sbtFechar");
    sbtFechar->setGeometry(285, 4, 29, 20);
    sbtFechar->setText(QStringLiteral("X"));
    sbtFechar->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    sbtFechar->setToolTip(QStringLiteral("Fechar"));
    sbtFechar->setAccessibleName(sbtFechar->toolTip());   // not the "X" it falls back to
    sbtFechar->setAutoRaise(true);
    lblCodTela = named(new QLabel(panMenu), "lblCodTela");
    lblCodTela->setGeometry(620, 6, 100, 16);
    lblCodTela->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ctlConsulta = named(new CachedToolButton(panMenu), "ctlConsulta");
    ctlConsulta->setGeometry(320, 4, 70, 20);
    static_cast<QToolButton *>(ctlConsulta)->setText(QStringLiteral("Consultar"));
    static_cast<QToolButton *>(ctlConsulta)->setAutoRaise(true);

    pgcPadrao = named(new TCustomPageControl98(this), "pgcPadrao");
    pgcPadrao->setGeometry(0, 217, 739, 181);
    // Not a page yet: a screen that wants the base page shows its tab by
    // adding it with addPage().
    tshPadrao = named(new TTabSheet(pgcPadrao), "tshPadrao");
    tshPadrao->hide();
    panDbgPadrao = named(new QFrame(tshPadrao), "panDbgPadrao");
    scbFolhaDados = named(new QScrollArea(panDbgPadrao), "scbFolhaDados");
    scbFolhaDados->setWidgetResizable(true);
    scbFolhaDados->setFrameShape(QFrame::NoFrame);
    scbFolhaDados->setFocusPolicy(Qt::NoFocus);   // the grid inside takes the focus: no empty tab stop
    dbgPadrao = named(new opd::DBGrid, "dbgPadrao");
    scbFolhaDados->setWidget(dbgPadrao);
    for (auto [outer, inner] : {std::pair<QWidget *, QWidget *>{tshPadrao, panDbgPadrao},
                                {panDbgPadrao, scbFolhaDados}}) {
        auto *layout = new QVBoxLayout(outer);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(inner);
    }

    panNavigator = named(new QFrame(this), "panNavigator");
    panNavigator->setGeometry(0, 398, 739, 25);
    dbtNome = named(new QLabel(panNavigator), "dbtNome");
    dbtNome->setGeometry(4, 4, 400, 17);
    auto *navigator = named(new DBNavigator(panNavigator), "dbnPadrao");
    navigator->setGeometry(610, 1, 120, 23);
    dbnPadrao = navigator;

    dtsPadrao = named(new opd::DataSource(this), "dtsPadrao");
    dbgPadrao->setDataSource(dtsPadrao);
    navigator->setDataSource(dtsPadrao);
    msgPadrao = named(new TMessages(this), "msgPadrao");
    mnuPadrao = named(new QMenu(QStringLiteral("Comandos"), this), "mnuPadrao");

    buildCommands();

    connect(sbtFechar, &QToolButton::clicked, this, [this] {
        if (QMdiSubWindow *sub = subWindow())
            sub->close();
        else
            close();
    });
    connect(static_cast<QToolButton *>(ctlConsulta), &QToolButton::clicked, this,
            [this] { opd::guarded([this] { sbtProcurarClick(ctlConsulta); }); });
    dbgPadrao->onKeyPress = [this](opd::DBGrid &, QChar &key) {
        // A handler that aborts also swallows the key it was refusing.
        if (!opd::guarded([&] { dbgPadraoKeyPress(dbgPadrao, key); }))
            key = QChar();
    };
    dbgPadrao->confirmDelete = [this](opd::DBGrid &) { return confirmDeletion(); };
    onActivate = [this](QObject *sender) { FormActivate(sender); };

    connect(dtsPadrao, &opd::DataSource::dataSetChanged, this, &TfrmPadraoGrid::watchDataSet);
    connect(dtsPadrao, &opd::DataSource::stateChanged, this, [this] { updateCommands(); });
    TfrmPadraoGrid::updateCommands();
}

TfrmPadraoGrid::~TfrmPadraoGrid() = default;

void TfrmPadraoGrid::buildCommands()
{
    using Handler = void (TfrmPadraoGrid::*)(QObject *);
    const Handler handlers[7] = {&TfrmPadraoGrid::sbtIncluirClick, &TfrmPadraoGrid::sbtExportarClick,
                                 &TfrmPadraoGrid::sbtExcluirClick, &TfrmPadraoGrid::sbtProcurarClick,
                                 &TfrmPadraoGrid::sbtVerificarClick, &TfrmPadraoGrid::sbtConfirmarClick,
                                 &TfrmPadraoGrid::sbtCancelarClick};
    for (int i = 0; i < 7; ++i) {
        QAction *action = new QAction(style()->standardIcon(kCommandIcons[i]),
                                      QLatin1String(kCommandTexts[i]), this);
        action->setObjectName(QStringLiteral("mnuComando%1").arg(i + 1));
        mnuPadrao->addAction(action);
        mnuComando[i] = action;
        QToolButton *button = new CachedToolButton(panMenu);
        button->setObjectName(QStringLiteral("sbtComando%1").arg(i + 1));
        // The default action keeps the button's enabled state, text and hint
        // equal to the menu item's: one state for both.
        button->setDefaultAction(action);
        button->setGeometry(6 + i * 29, 4, 29, 20);
        button->setAutoRaise(true);
        sbtComando[i] = button;
        const Handler handler = handlers[i];
        connect(action, &QAction::triggered, this, [this, handler, button] {
            opd::guarded([&] { (this->*handler)(button); });
        });
    }
}

void TfrmPadraoGrid::watchDataSet()
{
    for (const auto &link : m_dataSetLinks)
        disconnect(link);
    m_dataSetLinks.clear();
    if (opd::ClientDataSet *ds = dtsPadrao->dataSet()) {
        auto refresh = [this] { updateCommands(); };
        m_dataSetLinks << connect(ds, &opd::ClientDataSet::rowsReset, this, refresh)
                       << connect(ds, &opd::ClientDataSet::rowInserted, this, refresh)
                       << connect(ds, &opd::ClientDataSet::rowRemoved, this, refresh);
    }
    updateCommands();
}

void TfrmPadraoGrid::create()
{
    if (m_created)
        return;
    m_created = true;
    // Not guarded: whoever creates the screen learns that creation failed.
    FormCreate(this);
}

QMdiSubWindow *TfrmPadraoGrid::subWindow() const
{
    for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        if (auto *sub = qobject_cast<QMdiSubWindow *>(w))
            return sub;
    }
    return nullptr;
}

void TfrmPadraoGrid::runActivation()
{
    ++m_activations;
    if (onActivate) {
        // A copy: the handler may detach or replace itself while it runs.
        const auto handler = onActivate;
        opd::guarded([&] { handler(this); });
    }
    emit activated();
}

void TfrmPadraoGrid::FormCreate(QObject *)
{
    updateCommands();
}

void TfrmPadraoGrid::FormClose(QObject *, CloseAction &action)
{
    action = CloseAction::Free;
}

void TfrmPadraoGrid::FormActivate(QObject *)
{
}

void TfrmPadraoGrid::dbgPadraoKeyPress(QObject *, QChar &)
{
}

void TfrmPadraoGrid::sbtIncluirClick(QObject *)
{
    opd::ClientDataSet *ds = dtsPadrao->dataSet();
    if (ds && ds->isActive())
        ds->insert();
}

void TfrmPadraoGrid::sbtExcluirClick(QObject *)
{
    opd::ClientDataSet *ds = dtsPadrao->dataSet();
    if (!ds || !ds->isActive() || ds->isEmpty())
        return;
    if (confirmDeletion())
        ds->remove();
}

bool TfrmPadraoGrid::confirmDeletion()
{
    if (confirmDelete)
        return confirmDelete();
    return QMessageBox::question(this, windowTitle(), QStringLiteral("Confirma a exclusão do registro?"))
        == QMessageBox::Yes;
}

void TfrmPadraoGrid::sbtProcurarClick(QObject *)
{
    Procura(dtsPadrao->dataSet());
}

void TfrmPadraoGrid::sbtVerificarClick(QObject *)
{
    opd::ClientDataSet *ds = dtsPadrao->dataSet();
    if (ds && (ds->state() == opd::ClientDataSet::State::Edit
               || ds->state() == opd::ClientDataSet::State::Insert))
        ds->post();
}

void TfrmPadraoGrid::sbtConfirmarClick(QObject *sender)
{
    TfrmPadraoGrid::sbtVerificarClick(sender);
}

void TfrmPadraoGrid::sbtCancelarClick(QObject *)
{
    opd::ClientDataSet *ds = dtsPadrao->dataSet();
    if (ds && (ds->state() == opd::ClientDataSet::State::Edit
               || ds->state() == opd::ClientDataSet::State::Insert))
        ds->cancel();
}

opd::DBGrid *TfrmPadraoGrid::activeGrid() const
{
    for (QWidget *w = QApplication::focusWidget(); w && w != this; w = w->parentWidget()) {
        if (auto *grid = qobject_cast<opd::DBGrid *>(w); grid && isAncestorOf(grid))
            return grid;
    }
    if (QWidget *page = pgcPadrao->currentWidget()) {
        if (auto *grid = page->findChild<opd::DBGrid *>())
            return grid;
    }
    return dbgPadrao;
}

void TfrmPadraoGrid::sbtExportarClick(QObject *)
{
    opd::DBGrid *grid = activeGrid();
    const QString fileName = exportFileName
        ? exportFileName()
        : QFileDialog::getSaveFileName(this, QStringLiteral("Exportar"), QString(),
                                       QStringLiteral("Arquivos CSV (*.csv)"));
    if (fileName.isEmpty())
        return;
    QString error;
    if (!GridExport::save(grid, fileName, &error))
        Consiste::MensErro(error, true);
}

void TfrmPadraoGrid::updateCommands()
{
    const auto state = dtsPadrao->state();
    opd::ClientDataSet *ds = dtsPadrao->dataSet();
    const bool browsing = state == opd::ClientDataSet::State::Browse;
    const bool editing = state == opd::ClientDataSet::State::Edit
        || state == opd::ClientDataSet::State::Insert;
    const bool rows = ds && ds->isActive() && !ds->isEmpty();
    mnuComando[0]->setEnabled(browsing);
    mnuComando[1]->setEnabled(rows);
    mnuComando[2]->setEnabled(browsing && rows);
    mnuComando[3]->setEnabled(browsing && rows);
    mnuComando[4]->setEnabled(editing);
    mnuComando[5]->setEnabled(editing);
    mnuComando[6]->setEnabled(editing);
    ctlConsulta->setEnabled(browsing);
}

bool TfrmPadraoGrid::event(QEvent *event)
{
    // Inside an MDI area every widget of the main window hears
    // WindowActivate; there the area's own activation signal counts instead.
    if (event->type() == QEvent::WindowActivate && isWindow())
        runActivation();
    return QWidget::event(event);
}

void TfrmPadraoGrid::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QMdiSubWindow *sub = subWindow();
    if (!sub || m_mdiLink || !sub->mdiArea())
        return;
    m_mdiLink = connect(sub->mdiArea(), &QMdiArea::subWindowActivated, this,
                        [this, sub](QMdiSubWindow *active) {
                            if (active == sub)
                                runActivation();
                        });
    // Shown already active (the area activated it before this link existed).
    if (sub->mdiArea()->activeSubWindow() == sub)
        runActivation();
}

void TfrmPadraoGrid::closeEvent(QCloseEvent *event)
{
    CloseAction action = CloseAction::Free;
    if (!opd::guarded([&] { FormClose(this, action); })) {
        event->ignore();
        return;
    }
    QMdiSubWindow *sub = subWindow();
    switch (action) {
    case CloseAction::None:
        event->ignore();
        return;
    case CloseAction::Hide:
        event->ignore();
        sub ? sub->hide() : hide();
        return;
    case CloseAction::Minimize:
        event->ignore();
        sub ? sub->showMinimized() : showMinimized();
        return;
    case CloseAction::Free:
        event->accept();
        // In an MDI area the child window deletes itself (and the screen)
        // once it closes; a free-standing screen deletes itself.
        if (!sub)
            deleteLater();
        return;
    }
}
