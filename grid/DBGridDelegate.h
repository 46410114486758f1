#pragma once
// Cell editing and painting of a DBGrid. Internal to the grid.
//
// Cell editors are line edits carrying the field's edit mask; committing one
// hands its text to Field::setText, so onSetText hooks see what was typed.
// An ellipsis column gets its button inside the editor and, while no editor
// is open, painted at the right of the current cell.

#include <QPointer>
#include <QStyledItemDelegate>

class QLineEdit;

namespace opd {

class DBGrid;

class DBGridDelegate : public QStyledItemDelegate
{
public:
    explicit DBGridDelegate(DBGrid *grid);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Where the cell button of a cell is drawn (and clicked).
    static QRect buttonRect(const QRect &cell);

    // The editor last opened, and its cell.
    mutable QPointer<QLineEdit> editor;
    mutable QPersistentModelIndex editorIndex;

private:
    DBGrid *m_grid;
};

} // namespace opd
