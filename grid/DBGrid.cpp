#include "grid/DBGrid.h"

#include "grid/DBGridDelegate.h"
#include "grid/DesignFace.h"
#include "grid/DBGridModel.h"
#include "platform/Exceptions.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>

namespace opd {

struct DBGrid::Private
{
    DBGrid *q;
    QPointer<DataSource> source;
    DBGridModel *model = nullptr;
    DBGridDelegate *delegate = nullptr;
    QList<Column> columns;
    Options options = Options(Editing | Titles | ColumnResize | ColLines | RowLines | ConfirmDelete);
    QList<QMetaObject::Connection> connections;
    bool syncing = false;   // the data set moved: do not move it back
    bool resending = false; // a key changed by a hook goes to the editor unfiltered

    explicit Private(DBGrid *grid) : q(grid) {}

    ClientDataSet *dataSet() const { return model->dataSet(); }

    // Runs a data-set operation from inside an event handler. A refusal
    // the hooks already showed ends quietly; a data-set fault nobody showed
    // goes to the host's reporter (guarded()), which is the one place the
    // user hears of it.
    bool run(const std::function<void()> &fn) { return guarded(fn); }

    void followDataSet(int row)
    {
        if (row < 0 || row >= model->rowCount())
            return;
        const int col = std::max(0, q->currentIndex().column());
        if (q->currentIndex().row() == row)
            return;
        syncing = true;
        q->selectionModel()->setCurrentIndex(model->index(row, std::min(col, model->columnCount() - 1)),
                                             QItemSelectionModel::ClearAndSelect);
        syncing = false;
    }

    void bind()
    {
        for (const auto &c : std::as_const(connections))
            QObject::disconnect(c);
        connections.clear();
        ClientDataSet *ds = dataSet();
        if (!ds)
            return;
        connections << QObject::connect(ds, &ClientDataSet::currentRowChanged, q,
                                        [this](int row) { followDataSet(row); });
        connections << QObject::connect(ds, &ClientDataSet::rowsReset, q,
                                        [this, ds] { followDataSet(ds->recNo()); });
        connections << QObject::connect(ds, &ClientDataSet::focusFieldRequested, q, [this, ds](Field *field) {
            const int col = q->columnIndexOfField(field->fieldName());
            if (col < 0 || ds->recNo() < 0)
                return;
            syncing = true;
            q->selectionModel()->setCurrentIndex(model->index(ds->recNo(), col),
                                                 QItemSelectionModel::ClearAndSelect);
            syncing = false;
            q->setFocus(Qt::OtherFocusReason);
        });
        followDataSet(ds->recNo());
    }

    void applyColumns()
    {
        QList<DBGridModel::ColumnBinding> bindings;
        for (const Column &c : std::as_const(columns))
            bindings.append({c.fieldName, c.title});
        model->setColumns(bindings);
        applyWidths();
        if (ClientDataSet *ds = dataSet())
            followDataSet(ds->recNo());
    }

    // The columns' widths are the form's, drawn for the design face: each
    // is shown scaled for the grid's own font. The rows follow the font too.
    void applyWidths()
    {
        for (int i = 0; i < columns.size(); ++i)
            q->setColumnWidth(i, scaledWidth(columns[i].width, q->font()));
        q->verticalHeader()->setDefaultSectionSize(q->fontMetrics().height() + 6);
    }

    void applyOptions()
    {
        q->horizontalHeader()->setVisible(options & Titles);
        q->horizontalHeader()->setSectionResizeMode(options & ColumnResize ? QHeaderView::Interactive
                                                                           : QHeaderView::Fixed);
        q->setShowGrid(options & (ColLines | RowLines));
        q->setTabKeyNavigation(options & Tabs);
        q->verticalHeader()->setVisible(options & Indicator);
        model->setIndicator(options & Indicator);
        model->setEditable(options & Editing);
        QPalette pal = q->palette();
        if (options & AlwaysShowSelection) {
            pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
            pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         pal.color(QPalette::Active, QPalette::HighlightedText));
        } else {
            pal.setColor(QPalette::Inactive, QPalette::Highlight, QApplication::palette().color(QPalette::Inactive, QPalette::Highlight));
        }
        q->setPalette(pal);
    }

    bool editorOpen() const { return delegate->editor && q->state() == QAbstractItemView::EditingState; }
};

DBGrid::DBGrid(QWidget *parent) : QTableView(parent), d(new Private(this))
{
    d->model = new DBGridModel(this);
    d->delegate = new DBGridDelegate(this);
    setModel(d->model);
    setItemDelegate(d->delegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);   // edits start in keyPressEvent
    // Uniform rows: the view never measures a row, whatever the count.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // A highlighted title is drawn bold, and the widths as drawn leave no
    // room for that: titles keep the header's own weight.
    horizontalHeader()->setHighlightSections(false);
    setWordWrap(false);
    d->applyOptions();
}

DBGrid::~DBGrid()
{
    for (const auto &c : std::as_const(d->connections))
        disconnect(c);
}

DataSource *DBGrid::dataSource() const
{
    return d->source;
}

void DBGrid::setDataSource(DataSource *source)
{
    if (d->source)
        disconnect(d->source, nullptr, this, nullptr);
    d->source = source;
    d->model->setDataSource(source);
    if (source)
        connect(source, &DataSource::dataSetChanged, this, [this] { d->bind(); });
    d->bind();
}

void DBGrid::setColumns(const QList<Column> &columns)
{
    d->columns = columns;
    d->applyColumns();
}

const QList<DBGrid::Column> &DBGrid::columns() const
{
    return d->columns;
}

DBGrid::Column &DBGrid::column(int index)
{
    return d->columns[index];
}

void DBGrid::refreshColumns()
{
    d->applyColumns();
}

int DBGrid::columnIndexOfField(QByteArrayView fieldName) const
{
    for (int i = 0; i < d->columns.size(); ++i)
        if (d->columns[i].fieldName == fieldName)
            return i;
    return -1;
}

DBGrid::Options DBGrid::options() const
{
    return d->options;
}

void DBGrid::setOptions(Options options)
{
    d->options = options;
    d->applyOptions();
}

int DBGrid::selectedIndex() const
{
    return currentIndex().isValid() ? currentIndex().column() : (d->columns.isEmpty() ? -1 : 0);
}

void DBGrid::setSelectedIndex(int column)
{
    if (column < 0 || column >= d->columns.size())
        return;
    const int row = currentIndex().isValid() ? currentIndex().row()
                                             : (dataSource() && dataSource()->dataSet() ? dataSource()->dataSet()->recNo() : -1);
    if (row < 0) {
        return;
    }
    d->syncing = true;
    selectionModel()->setCurrentIndex(d->model->index(row, column), QItemSelectionModel::ClearAndSelect);
    d->syncing = false;
}

Field *DBGrid::selectedField() const
{
    const int col = selectedIndex();
    return col < 0 ? nullptr : d->model->fieldAt(col);
}

QString DBGrid::cellText(QByteArrayView fieldName) const
{
    const int col = columnIndexOfField(fieldName);
    if (col >= 0 && d->editorOpen() && d->delegate->editorIndex.column() == col)
        return d->delegate->editor->text();
    ClientDataSet *ds = d->dataSet();
    Field *f = ds ? ds->findField(fieldName) : nullptr;
    return f ? f->displayText() : QString();
}

DBGridModel *DBGrid::gridModel() const
{
    return d->model;
}

bool DBGrid::startEdit()
{
    return startEditWith(nullptr);
}

bool DBGrid::startEditWith(QKeyEvent *event)
{
    const QModelIndex idx = currentIndex();
    ClientDataSet *ds = d->dataSet();
    if (!ds || !idx.isValid() || !(d->options & Editing) || !(d->model->flags(idx) & Qt::ItemIsEditable))
        return false;
    if (d->editorOpen())
        return true;
    if (!d->run([&] {
            if (ds->state() == ClientDataSet::State::Browse)
                ds->edit();
        }))
        return false;
    if (!ds->isActive() || ds->state() == ClientDataSet::State::Browse)
        return false;
    const QModelIndex now = currentIndex();
    if (!now.isValid() || !QAbstractItemView::edit(now, QAbstractItemView::AllEditTriggers, nullptr))
        return false;
    if (QLineEdit *editor = d->delegate->editor) {
        // After the delegate's own filter, so that this one sees keys first.
        editor->installEventFilter(this);
        // The typed key replaces the whole cell, as the user expects when
        // typing over a cell.
        editor->selectAll();
        if (event) {
            d->resending = true;
            QCoreApplication::sendEvent(editor, event);
            d->resending = false;
        }
    }
    return true;
}

// Runs the key hooks; returns false when they swallowed the key. The key may
// come back changed.
bool DBGrid::filterKey(int &key, Qt::KeyboardModifiers modifiers, QString &text)
{
    if (onKeyDown) {
        bool ok = d->run([&] { onKeyDown(*this, key, modifiers); });
        if (!ok || key == 0)
            return false;
    }
    if (onKeyPress && !text.isEmpty() && text.at(0).isPrint()) {
        QChar c = text.at(0);
        bool ok = d->run([&] { onKeyPress(*this, c); });
        if (!ok || c.isNull())
            return false;
        text = QString(c);
    }
    return true;
}

void DBGrid::keyPressEvent(QKeyEvent *event)
{
    int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    QString text = event->text();
    event->accept();
    if (!filterKey(key, mods, text))
        return;
    ClientDataSet *ds = d->dataSet();
    const bool editing = d->options & Editing;
    const bool plain = !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));

    if (ds && key == Qt::Key_Escape) {
        d->run([ds] {
            if (ds->isActive())
                ds->cancel();
        });
        return;
    }
    if (ds && editing && key == Qt::Key_Insert && plain) {
        d->run([ds] { ds->insert(); });
        return;
    }
    if (ds && editing && key == Qt::Key_Delete && (mods & Qt::ControlModifier)) {
        if (!ds->isActive() || ds->isEmpty())
            return;
        bool confirmed = true;
        if (d->options & ConfirmDelete) {
            // The grid asks nobody itself: without the host's question
            // there is no confirmation, and so no deletion.
            confirmed = false;
            if (confirmDelete)
                d->run([&] { confirmed = confirmDelete(*this); });
        }
        if (confirmed)
            d->run([ds] { ds->remove(); });
        return;
    }
    if (ds && editing && key == Qt::Key_Down && plain && ds->isActive()
        && (ds->isEmpty() || ds->recNo() == ds->recordCount() - 1)) {
        if (ds->state() != ClientDataSet::State::Insert)
            d->run([ds] { ds->append(); });
        return;
    }
    if (key == Qt::Key_F2 || ((key == Qt::Key_Return || key == Qt::Key_Enter) && !d->editorOpen())) {
        startEdit();
        return;
    }
    if (editing && plain && !text.isEmpty() && text.at(0).isPrint()) {
        QKeyEvent typed(QEvent::KeyPress, key, mods, text, event->isAutoRepeat(), ushort(event->count()));
        startEditWith(&typed);
        return;
    }
    if (key != event->key()) {
        QKeyEvent changed(QEvent::KeyPress, key, mods, text, event->isAutoRepeat(), ushort(event->count()));
        QTableView::keyPressEvent(&changed);
        return;
    }
    QTableView::keyPressEvent(event);
}

void DBGrid::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        d->applyWidths();
}

void DBGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    // No edit on double click: the hook decides what a double click means.
    event->accept();
    d->run([this] {
        if (onDblClick)
            onDblClick(*this);
    });
}

void DBGrid::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex idx = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && idx.isValid() && idx == currentIndex()
        && idx.column() < d->columns.size() && d->columns[idx.column()].buttonStyle == ButtonStyle::Ellipsis
        && DBGridDelegate::buttonRect(visualRect(idx)).contains(event->position().toPoint())) {
        event->accept();
        d->run([this] {
            if (onEditButtonClick)
                onEditButtonClick(*this);
        });
        return;
    }
    QTableView::mousePressEvent(event);
}

void DBGrid::focusOutEvent(QFocusEvent *event)
{
    QTableView::focusOutEvent(event);
    QWidget *to = QApplication::focusWidget();
    if (to && isAncestorOf(to))
        return;   // into the cell editor
    ClientDataSet *ds = d->dataSet();
    if (!(d->options & CancelOnExit) || !ds || ds->state() != ClientDataSet::State::Insert || d->editorOpen())
        return;
    // Only a row that was inserted and never filled is dropped: a typed
    // value survives a click on a command outside the grid.
    for (const auto &f : ds->fields())
        if (!f->isNull())
            return;
    d->run([ds] { ds->cancel(); });
}

void DBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // Commits an open editor into the field before the row changes.
    QTableView::currentChanged(current, previous);
    ClientDataSet *ds = d->dataSet();
    if (d->syncing || !ds || !ds->isActive() || !current.isValid() || current.row() == ds->recNo())
        return;
    if (!d->run([&] { ds->setRecNo(current.row()); })) {
        // The row could not be left (a refused post): the grid stays on it.
        const int row = ds->recNo();
        if (row >= 0 && row < d->model->rowCount() && currentIndex().row() != row) {
            d->syncing = true;
            selectionModel()->setCurrentIndex(d->model->index(row, previous.isValid() ? previous.column() : 0),
                                              QItemSelectionModel::ClearAndSelect);
            d->syncing = false;
        }
    }
}

bool DBGrid::eventFilter(QObject *watched, QEvent *event)
{
    // The type first: the editor's pointer is only compared for a key, never
    // for the events an editor sends while it is being destroyed.
    if (event->type() == QEvent::KeyPress && !d->resending && watched == d->delegate->editor) {
        auto *ke = static_cast<QKeyEvent *>(event);
        int key = ke->key();
        QString text = ke->text();
        if (!filterKey(key, ke->modifiers(), text))
            return true;
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Committed now, not queued as the delegate would: the caller of
            // the key sees the field already holding the text.
            QWidget *editor = d->delegate->editor;
            commitData(editor);
            QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
            setFocus();
            return true;
        }
        if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
            // Leaving the row from the editor: commit, close, then move.
            QWidget *editor = d->delegate->editor;
            commitData(editor);
            QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
            QKeyEvent moved(QEvent::KeyPress, key, ke->modifiers(), text);
            keyPressEvent(&moved);
            return true;
        }
        if (key != ke->key() || text != ke->text()) {
            QKeyEvent changed(QEvent::KeyPress, key, ke->modifiers(), text, ke->isAutoRepeat(), ushort(ke->count()));
            d->resending = true;
            QCoreApplication::sendEvent(watched, &changed);
            d->resending = false;
            return true;
        }
    }
    return QTableView::eventFilter(watched, event);
}

void DBGrid::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    QTableView::closeEditor(editor, hint);
    if (hint == QAbstractItemDelegate::RevertModelCache) {
        // Escape in the cell editor drops the whole pending edit.
        ClientDataSet *ds = d->dataSet();
        if (ds && ds->isActive())
            d->run([ds] { ds->cancel(); });
    }
}

} // namespace opd
