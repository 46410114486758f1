// The screen read by a screen reader: every control the clerk can reach has
// an accessible name, as Qt's accessibility layer reports it; the labels
// before the edits are their buddies; and controls are found by the names a
// reader announces, inside the group that holds them.

#include "ScreenTestSupport.h"
#include "tests/support/HostTestMain.h"

#include "host/TBtnPesquisa.h"
#include "host/TDateEditPlus.h"
#include "grid/DBGrid.h"

#include <QAbstractItemView>
#include <algorithm>
#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QTabBar>

using namespace screentest;

namespace {

QString accessibleName(QWidget *w)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// A control a clerk works: anything that takes the focus, and the named
// controls of the screen that are clicked without taking it (the branch's
// search button, the navigator). Qt's own parts of a composite widget
// (scroll bars, headers, the table's corner) are left to Qt.
bool isControl(QWidget *w)
{
    if (qobject_cast<QHeaderView *>(w))
        return false;
    const bool kind = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
                      || qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractItemView *>(w)
                      || qobject_cast<QTabBar *>(w) || qobject_cast<QGroupBox *>(w);
    const bool ours = !w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"));
    if (w->focusPolicy() & Qt::TabFocus)
        return true;
    return kind && (w->focusPolicy() != Qt::NoFocus || ours);
}

// Depth-first through the accessible tree: the first control below `from`
// whose accessible name is `name`. A label says its edit's name too, and a
// tab its page's: those are what a reader passes on the way, not controls.
QObject *findByName(QAccessibleInterface *from, const QString &name)
{
    for (int i = 0; i < from->childCount(); ++i) {
        QAccessibleInterface *child = from->child(i);
        if (!child)
            continue;
        const QAccessible::Role role = child->role();
        if (role != QAccessible::StaticText && role != QAccessible::PageTab && child->text(QAccessible::Name) == name)
            return child->object();
        if (QObject *found = findByName(child, name))
            return found;
    }
    return nullptr;
}

QObject *findByPath(QWidget *root, const QStringList &path)
{
    QAccessibleInterface *at = QAccessible::queryAccessibleInterface(root);
    QObject *found = nullptr;
    for (const QString &name : path) {
        found = at ? findByName(at, name) : nullptr;
        if (!found)
            return nullptr;
        at = QAccessible::queryAccessibleInterface(found);
    }
    return found;
}

} // namespace

class ScreenAccessibility : public QObject
{
    Q_OBJECT

    TfrmDescEmiPed *screen = nullptr;

private slots:
    void initTestCase()
    {
        Cli_opd31000::Initialization();
        pointServerAt(closedPort());
        screen = openScreen();
        QVERIFY(screen);
    }

    void cleanupTestCase() { QVERIFY(closeScreen()); }

    void everyControlHasAnAccessibleName()
    {
        QStringList unnamed;
        int controls = 0;
        const auto widgets = screen->findChildren<QWidget *>();
        for (QWidget *w : widgets) {
            if (!isControl(w))
                continue;
            ++controls;
            if (accessibleName(w).trimmed().isEmpty())
                unnamed << QStringLiteral("%1 (%2)").arg(w->objectName(), QLatin1String(w->metaObject()->className()));
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        // The filter panel alone has 33 controls; the base adds commands,
        // navigator, pages and grids.
        QVERIFY2(controls >= 45, qPrintable(QString::number(controls)));
    }

    // A button that shows a glyph is named by what it does, not by the glyph.
    void glyphButtonsAreNamedByWhatTheyDo()
    {
        QCOMPARE(accessibleName(screen->sbtFechar), QStringLiteral("Fechar"));
        QCOMPARE(accessibleName(screen->sbtLimpa), QStringLiteral("Desfazer"));
        QCOMPARE(accessibleName(screen->sbtComando[4]), QStringLiteral("Verificar"));
        QCOMPARE(accessibleName(screen->findChild<QWidget *>(QStringLiteral("btnPrimeiro"))), QStringLiteral("Primeiro"));
        QCOMPARE(accessibleName(screen->findChild<QWidget *>(QStringLiteral("btnUltimo"))), QString::fromUtf8("Último"));
        QCOMPARE(accessibleName(screen->btnFilial), QStringLiteral("Pesquisar Filial"));
    }

    void labelsAreTheBuddiesOfTheEditsTheyDescribe()
    {
        const QList<std::pair<QLabel *, QWidget *>> pairs = {
            {screen->lblFilial, screen->medCdFilial},
            {screen->lblDeEmissao, screen->depDeEmissao}, {screen->lblAteEmissao, screen->depAteEmissao},
            {screen->lblDeEntrega, screen->depDeEntrega}, {screen->lblAteEntrega, screen->depAteEntrega},
            {screen->lblDeNrPedido, screen->medDeIntervalo}, {screen->lblAteNrPedido, screen->medAteIntervalo},
        };
        for (const auto &[label, edit] : pairs)
            QVERIFY2(label->buddy() == edit, qPrintable(label->objectName()));
        // Every edit the clerk types into has a label, and every label of
        // the panel with a mnemonic leads somewhere.
        const auto edits = screen->panFiltro->findChildren<QLineEdit *>();
        const auto labels = screen->panFiltro->findChildren<QLabel *>();
        for (QLineEdit *e : edits) {
            if (e == screen->edtNmFilial)   // a display, never editable
                continue;
            const bool described = std::any_of(labels.begin(), labels.end(), [e](QLabel *l) { return l->buddy() == e; });
            QVERIFY2(described, qPrintable(e->objectName()));
        }
        for (QLabel *l : labels) {
            if (l->text().contains(QLatin1Char('&')))
                QVERIFY2(l->buddy(), qPrintable(l->objectName()));
        }
        QCOMPARE(edits.size(), 8);
    }

    // Names a reader announces lead to the controls they stand for.
    void controlsAreFoundByTheirNames()
    {
        QCOMPARE(findByPath(screen, {QStringLiteral("Filial")}), screen->medCdFilial);
        QCOMPARE(findByPath(screen, {QStringLiteral("Data Lançamento Pedido de")}), screen->depDeEmissao);
        QCOMPARE(findByPath(screen, {QStringLiteral("Data Entrega até")}), screen->depAteEntrega);
        QCOMPARE(findByPath(screen, {QString::fromUtf8("Nº Pedido até")}), screen->medAteIntervalo);
        QCOMPARE(findByPath(screen, {QStringLiteral("Cliente"), QStringLiteral("Lista")}), screen->rbtLCliente);
        QCOMPARE(findByPath(screen, {QStringLiteral("Vendedor"), QStringLiteral("Todos")}), screen->rbtTVendedor);
        QCOMPARE(findByPath(screen, {QStringLiteral("Pesquisar Filial Destino")}), screen->sbtFiliDest);
        QCOMPARE(findByPath(screen, {QString::fromUtf8("Situação do Pedido"), QStringLiteral("Liquidado")}),
                 screen->chbPLiquidado);
        QCOMPARE(findByPath(screen, {QStringLiteral("Pedidos")}), screen->dbgPEDIDO);
        QCOMPARE(findByPath(screen, {QStringLiteral("Itens do Pedido")}) , screen->dbgPadrao);
    }

    // Within one group no two controls share a name, so a reader's path
    // (group, then name) leads to one control.
    void namesAreUniqueWithinEachGroup()
    {
        const auto groups = screen->findChildren<QGroupBox *>();
        QVERIFY(groups.size() >= 7);
        for (QGroupBox *g : groups) {
            QStringList names;
            for (QWidget *w : g->findChildren<QWidget *>()) {
                if (isControl(w))
                    names << accessibleName(w);
            }
            const qsizetype all = names.size();
            names.removeDuplicates();
            QVERIFY2(names.size() == all, qPrintable(g->objectName() + QStringLiteral(": ") + names.join(", ")));
        }
    }
};

OPD_HOST_TEST_MAIN(ScreenAccessibility)
#include "tst_screen_accessibility.moc"
