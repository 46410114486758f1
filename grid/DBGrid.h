#pragma once
// A data-aware grid over a DataSource: a QTableView on DBGridModel.
//
// Keys: typing starts an edit of the current cell (the cell editor uses the
// field's edit mask); moving to another row posts a pending edit; Escape
// cancels it; Insert inserts and Down on the last row appends (through the
// data set, so a before-insert abort stops both); Ctrl+Delete deletes after
// a confirmation (confirmDelete hook; refused when it returns false, and
// always refused under ConfirmDelete while no hook is set: the grid never
// opens a dialog, the host supplies the question).
//
// Errors: a hook or data-set operation run from a key or an edit goes
// through opd::guarded(), so a shown refusal (opd::Abort) ends quietly and
// any other fault reaches the host's unhandled-error reporter.
//
// Hooks see a key first and can swallow it: onKeyDown by setting the key to 0,
// onKeyPress by setting the character to QChar() (null).

#include "platform/DataSource.h"

#include <QTableView>
#include <functional>

namespace opd {

class DBGridModel;

class DBGrid : public QTableView
{
    Q_OBJECT
public:
    enum class ButtonStyle { None, Ellipsis };
    struct Column
    {
        QByteArray fieldName;
        QString title;      // empty: the field's display label
        int width = 64;     // as drawn for the design face; shown scaled (DesignFace.h)
        ButtonStyle buttonStyle = ButtonStyle::None;
    };
    enum Option {
        Editing = 1 << 0,
        Titles = 1 << 1,
        ColumnResize = 1 << 2,
        ColLines = 1 << 3,
        RowLines = 1 << 4,
        Tabs = 1 << 5,               // Tab moves between cells
        AlwaysShowSelection = 1 << 6,
        ConfirmDelete = 1 << 7,
        CancelOnExit = 1 << 8,       // an inserted row still blank is dropped when the grid loses focus
        Indicator = 1 << 9,          // row indicator column
    };
    Q_DECLARE_FLAGS(Options, Option)

    explicit DBGrid(QWidget *parent = nullptr);
    ~DBGrid() override;

    DataSource *dataSource() const;
    void setDataSource(DataSource *source);

    void setColumns(const QList<Column> &columns);
    const QList<Column> &columns() const;
    Column &column(int index);                 // call refreshColumns() after changing one
    void refreshColumns();
    int columnIndexOfField(QByteArrayView fieldName) const;   // -1 when none
    Options options() const;
    void setOptions(Options options);

    int selectedIndex() const;                 // current column
    void setSelectedIndex(int column);
    Field *selectedField() const;              // field of the current column, nullptr when none
    // Text the grid shows for the field in the current row: the cell editor's
    // text while it is open on that field, otherwise the field's display text.
    QString cellText(QByteArrayView fieldName) const;
    DBGridModel *gridModel() const;
    // Opens the cell editor on the current cell (the data set goes into Edit
    // first). Returns false when the cell cannot be edited or the edit was refused.
    bool startEdit();

    std::function<void(DBGrid &, int &key, Qt::KeyboardModifiers)> onKeyDown;
    std::function<void(DBGrid &, QChar &key)> onKeyPress;
    std::function<void(DBGrid &)> onEditButtonClick;
    std::function<void(DBGrid &)> onDblClick;
    std::function<bool(DBGrid &)> confirmDelete;  // the host's question; none: no deletion

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    bool startEditWith(QKeyEvent *event);
    bool filterKey(int &key, Qt::KeyboardModifiers modifiers, QString &text);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace opd

Q_DECLARE_OPERATORS_FOR_FLAGS(opd::DBGrid::Options)
