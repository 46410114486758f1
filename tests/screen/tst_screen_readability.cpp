// What the clerk reads shows whole: after a search on a seeded database,
// every title of the two grids and of the pickers, every date, number and
// code in the grids, and every caption of the filter panel fit the room the
// style leaves them in the fonts the screen really gets. Dates and numbers
// are shown the Brazilian way by the grid while the data set keeps its own.

#include "SeededScreenFixture.h"
#include "tests/support/HostTestMain.h"

#include "host/PickerDialog.h"
#include "grid/DBGridModel.h"
#include "platform/DataSource.h"

#include <QAbstractButton>
#include <QToolButton>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QStyleOption>
#include <QTableView>
#include <cmath>

using namespace screentest;

namespace {

// The title's font as drawn: Qt draws the title of a highlighted section bold.
QFont titleFont(const QHeaderView *header)
{
    QFont f = header->font();
    if (header->highlightSections())
        f.setBold(true);
    return f;
}

// Pixels the style leaves for a title's text: the section less the header
// margins and, where the header shows one, a sort indicator.
int titleRoom(const QHeaderView *header, int section)
{
    QStyleOptionHeader opt;
    opt.initFrom(header);
    opt.orientation = header->orientation();
    opt.section = section;
    opt.text = header->model()->headerData(section, header->orientation()).toString();
    opt.textAlignment = header->defaultAlignment();
    opt.rect = QRect(header->sectionViewportPosition(section), 0, header->sectionSize(section), header->height());
    if (header->isSortIndicatorShown())
        opt.sortIndicator = QStyleOptionHeader::SortDown;
    return header->style()->subElementRect(QStyle::SE_HeaderLabel, &opt, header).width();
}

// Pixels the style leaves for a cell's text: the cell less the grid line and
// the item's text margins on both sides.
int cellRoom(const QTableView *view, const QModelIndex &index)
{
    QStyleOptionViewItem opt;
    opt.initFrom(view);
    opt.rect = view->visualRect(index);
    opt.font = view->font();
    opt.features = QStyleOptionViewItem::HasDisplay;
    opt.text = index.data().toString();
    opt.index = index;
    const QRect text = view->style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, view);
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    return text.width() - 2 * margin;
}

// Pixels the style leaves for a button's caption: beside the indicator of a
// radio button or a check box, inside the frame of a tool button.
int textRoom(const QAbstractButton *b)
{
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    if (qobject_cast<const QRadioButton *>(b))
        return b->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, b).width();
    if (qobject_cast<const QCheckBox *>(b))
        return b->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, b).width();
    return b->width() - 2 * b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
}

int advance(const QFont &font, const QString &text)
{
    return int(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

// Every title of the view that does not fit, as "title (needs/has)".
QStringList cutTitles(const QTableView *view)
{
    QStringList cut;
    const QHeaderView *header = view->horizontalHeader();
    for (int c = 0; c < view->model()->columnCount(); ++c) {
        if (header->isSectionHidden(c))
            continue;
        const QString title = view->model()->headerData(c, Qt::Horizontal).toString();
        const int needs = advance(titleFont(header), title);
        const int has = titleRoom(header, c);
        if (needs > has)
            cut << QStringLiteral("%1 (%2/%3)").arg(title).arg(needs).arg(has);
    }
    return cut;
}

// Every cell of the grid's short fields (dates, numbers, codes: texts of at
// most 20 characters) that does not fit; names and descriptions may be
// elided, a date or a number may not.
QStringList cutCells(const opd::DBGrid *grid, int *checked)
{
    QStringList cut;
    const QAbstractItemModel *m = grid->model();
    for (int c = 0; c < m->columnCount(); ++c) {
        const opd::Field *f = grid->gridModel()->fieldAt(c);
        if (!f || (f->dataType() == opd::FieldType::String && f->size() > 20))
            continue;
        for (int r = 0; r < m->rowCount(); ++r) {
            const QModelIndex i = m->index(r, c);
            const QString text = i.data().toString();
            const int needs = advance(grid->font(), text);
            const int has = cellRoom(grid, i);
            ++*checked;
            if (needs > has)
                cut << QStringLiteral("%1 %2 (%3/%4)").arg(QString::fromUtf8(f->fieldName()), text).arg(needs).arg(has);
        }
    }
    cut.removeDuplicates();
    return cut.mid(0, 12);   // enough to tell which; not one line per row
}

} // namespace

class ScreenReadability : public QObject
{
    Q_OBJECT

    SeededScreen fx;
    TfrmDescEmiPed *screen = nullptr;

private slots:
    void initTestCase()
    {
        const QString error = fx.start(600);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        screen = fx.screen;
        const QString messages = fx.search();
        QVERIFY2(messages.isEmpty(), qPrintable(messages));
        QVERIFY2(screen->cdsPedido->recordCount() > 20, qPrintable(QString::number(screen->cdsPedido->recordCount())));
    }

    void cleanupTestCase() { QVERIFY(fx.stop()); }

    void everyGridTitleShowsWhole()
    {
        for (opd::DBGrid *grid : {screen->dbgPEDIDO, screen->dbgPadrao}) {
            QVERIFY(grid->model()->columnCount() > 0);
            const QStringList cut = cutTitles(grid);
            QVERIFY2(cut.isEmpty(), qPrintable(grid->objectName() + QStringLiteral(": ") + cut.join(", ")));
        }
    }

    void everyDateNumberAndCodeOfTheOrdersShowsWhole()
    {
        int checked = 0;
        const QStringList cut = cutCells(screen->dbgPEDIDO, &checked);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
        // Order number, both dates, for every order found.
        QCOMPARE(checked, 3 * screen->cdsPedido->recordCount());
    }

    void everyNumberAndCodeOfTheItemsShowsWhole()
    {
        // The items page shows one order's items: look at those of many orders.
        int checked = 0;
        QStringList cut;
        const int orders = std::min(40, screen->cdsPedido->recordCount());
        for (int row = 0; row < orders; ++row) {
            screen->pgcPadrao->setCurrentWidget(screen->tshPEDIDO);
            screen->cdsPedido->setRecNo(row);
            screen->pgcPadrao->setCurrentWidget(screen->tshPadrao);
            QVERIFY(screen->dbgPadrao->model()->rowCount() > 0);
            cut << cutCells(screen->dbgPadrao, &checked);
        }
        screen->pgcPadrao->setCurrentWidget(screen->tshPEDIDO);
        cut.removeDuplicates();
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
        QVERIFY(checked >= 3 * orders);   // item number, product code, quantity
    }

    // The widths are the form's, scaled for the grid's face: changing the
    // font scales them again, and the form's own figures stay as given.
    void columnWidthsFollowTheGridsFont()
    {
        opd::DBGrid *grid = screen->dbgPEDIDO;
        QCOMPARE(grid->columns().at(2).width, 66);
        const int before = grid->columnWidth(2);
        QVERIFY(before >= 66);
        const QFont original = grid->font();
        QFont larger = original;
        larger.setPointSize(original.pointSize() * 2);
        grid->setFont(larger);
        QVERIFY2(grid->columnWidth(2) > before * 3 / 2, qPrintable(QString::number(grid->columnWidth(2))));
        QVERIFY2(cutTitles(grid).isEmpty(), qPrintable(cutTitles(grid).join(", ")));
        grid->setFont(original);
        QCOMPARE(grid->columnWidth(2), before);
        QCOMPARE(grid->columns().at(2).width, 66);
    }

    void everyPickerTitleShowsWhole()
    {
        for (TADOIBQuery *q : {screen->qryCliente, screen->qryFiliDest, screen->qryVendedor})
            q->Open();
        screen->qryNMProduto->setParam(QStringLiteral("P_CDPRODUTO"),
                                       screen->cdsItens->fieldByName("CDPRODUTO")->asString());
        screen->qryNMProduto->Open();
        const struct
        {
            opd::DataSource *source;
            PickerDialog::Mode mode;
        } pickers[] = {
            {screen->dtsCliente, PickerDialog::Mode::MultiSelect},
            {screen->dtsFilialDest, PickerDialog::Mode::MultiSelect},
            {screen->dtsVendedor, PickerDialog::Mode::MultiSelect},
            {screen->dtsNMProduto, PickerDialog::Mode::SinglePick},
        };
        for (const auto &p : pickers) {
            opd::ClientDataSet *ds = p.source->dataSet();
            QVERIFY2(ds && ds->isActive() && !ds->isEmpty(), qPrintable(p.source->objectName()));
            PickerDialog dialog(ds, p.mode, QStringLiteral("Título"), screen);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            auto *view = dialog.findChild<QTableView *>(QStringLiteral("dbgPesquisa"));
            QVERIFY(view);
            const QStringList cut = cutTitles(view);
            QVERIFY2(cut.isEmpty(), qPrintable(p.source->objectName() + QStringLiteral(": ") + cut.join(", ")));
        }
        for (TADOIBQuery *q : {screen->qryCliente, screen->qryFiliDest, screen->qryVendedor, screen->qryNMProduto})
            q->Close();
    }

    // Labels, radio buttons, check boxes and group titles of the filter panel.
    void everyCaptionOfTheFilterPanelShowsWhole()
    {
        QStringList cut;
        const auto labels = screen->panFiltro->findChildren<QLabel *>();
        for (const QLabel *l : labels) {
            if (l->wordWrap() || l->text().isEmpty())
                continue;
            if (advance(l->font(), l->text()) > l->contentsRect().width())
                cut << l->objectName();
        }
        const auto buttons = screen->panFiltro->findChildren<QAbstractButton *>();
        for (const QAbstractButton *b : buttons) {
            if (b->text().isEmpty() || (qobject_cast<const QToolButton *>(b) && !b->icon().isNull()))
                continue;
            const int has = textRoom(b);
            const int needs = advance(b->font(), b->text());
            if (needs > has)
                cut << QStringLiteral("%1 (%2/%3)").arg(b->objectName()).arg(needs).arg(has);
        }
        const auto groups = screen->panFiltro->findChildren<QGroupBox *>();
        for (const QGroupBox *g : groups) {
            QStyleOptionGroupBox opt;
            opt.initFrom(g);
            opt.text = g->title();
            opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            opt.lineWidth = 1;
            const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
            if (label.right() >= g->width() || advance(g->font(), g->title()) > label.width())
                cut << g->objectName();
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
        QCOMPARE(labels.size(), 8);
        QCOMPARE(buttons.size(), 19);
        QCOMPARE(groups.size(), 7);
    }

    // The grid writes the data set's day counts as the clerk reads dates.
    void gridShowsDatesTheBrazilianWay()
    {
        opd::ClientDataSet *cds = screen->cdsPedido;
        cds->first();
        const int column = screen->dbgPEDIDO->columnIndexOfField("DTPEDIDO");
        const QModelIndex cell = screen->dbgPEDIDO->model()->index(cds->recNo(), column);
        const double day = cds->fieldByName("DTPEDIDO")->asFloat();
        const QDate date = opd::dateFromDayCount(day);
        QVERIFY(date.isValid());
        QCOMPARE(cell.data().toString(), QLocale(QLocale::Portuguese, QLocale::Brazil).toString(date, QStringLiteral("dd/MM/yyyy")));
        QCOMPARE(cell.data().toString().size(), 10);
    }
};

OPD_HOST_TEST_MAIN(ScreenReadability)
#include "tst_screen_readability.moc"
