#include "grid/DBGridDelegate.h"

#include "grid/DBGrid.h"
#include "grid/DBGridModel.h"
#include "platform/Exceptions.h"

#include <QAction>
#include <QLineEdit>
#include <QPainter>

namespace opd {

namespace {

constexpr int buttonWidth = 16;

QIcon ellipsisIcon()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::black);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("…"));
    return QIcon(pm);
}

} // namespace

DBGridDelegate::DBGridDelegate(DBGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

QWidget *DBGridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    auto *edit = new QLineEdit(parent);
    edit->setFrame(false);
    if (Field *f = m_grid->gridModel()->fieldAt(index.column())) {
        if (!f->editMask().isEmpty())
            edit->setInputMask(inputMaskForLineEdit(f->editMask()));
        if (f->dataType() == FieldType::String || f->dataType() == FieldType::FixedChar)
            edit->setMaxLength(f->size());
    }
    if (index.column() < m_grid->columns().size()
        && m_grid->columns()[index.column()].buttonStyle == DBGrid::ButtonStyle::Ellipsis) {
        QAction *button = edit->addAction(ellipsisIcon(), QLineEdit::TrailingPosition);
        DBGrid *grid = m_grid;
        QObject::connect(button, &QAction::triggered, grid, [grid] {
            guarded([grid] {
                if (grid->onEditButtonClick)
                    grid->onEditButtonClick(*grid);
            });
        });
    }
    editor = edit;
    editorIndex = index;
    return edit;
}

void DBGridDelegate::setEditorData(QWidget *w, const QModelIndex &index) const
{
    auto *edit = qobject_cast<QLineEdit *>(w);
    Field *f = m_grid->gridModel()->fieldAt(index.column());
    if (!edit || !f)
        return;
    edit->setText(f->displayText());
    edit->setModified(false);
}

void DBGridDelegate::setModelData(QWidget *w, QAbstractItemModel *, const QModelIndex &index) const
{
    auto *edit = qobject_cast<QLineEdit *>(w);
    Field *f = m_grid->gridModel()->fieldAt(index.column());
    if (!edit || !f || !edit->isModified())
        return;
    const QString text = edit->text();
    edit->setModified(false);
    guarded([&] { f->setText(text); });
}

void DBGridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    if (index != m_grid->currentIndex() || index.column() >= m_grid->columns().size()
        || m_grid->columns()[index.column()].buttonStyle != DBGrid::ButtonStyle::Ellipsis)
        return;
    QStyleOptionButton button;
    button.rect = buttonRect(option.rect);
    button.text = QStringLiteral("…");
    button.state = QStyle::State_Enabled | QStyle::State_Raised;
    m_grid->style()->drawControl(QStyle::CE_PushButton, &button, painter, m_grid);
}

QRect DBGridDelegate::buttonRect(const QRect &cell)
{
    return QRect(cell.right() - buttonWidth + 1, cell.top(), buttonWidth, cell.height());
}

} // namespace opd
