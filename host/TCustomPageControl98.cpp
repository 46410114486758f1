#include "host/TCustomPageControl98.h"

#include "host/CachedWidgets.h"

#include <QPaintEvent>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

TCustomPageControl98::TCustomPageControl98(QWidget *parent)
    : QTabWidget(parent)
{
    // Repainted after every post (a page's tab enabled or disabled): from
    // kept images. Named and set up as QTabWidget's own bar (which has no
    // base line: the pane's frame is drawn under it).
    auto *bar = new CachedTabBar(this);
    bar->setObjectName(QStringLiteral("qt_tabwidget_tabbar"));
    bar->setDrawBase(false);
    setTabBar(bar);
}

void TCustomPageControl98::addPage(TTabSheet *page, const QString &caption)
{
    if (!page)
        return;
    page->caption = caption;
    if (indexOf(page) < 0)
        addTab(page, caption);
    else
        setTabText(indexOf(page), caption);
}

TTabSheet *TCustomPageControl98::activePage() const
{
    return qobject_cast<TTabSheet *>(currentWidget());
}

void TCustomPageControl98::SetActivePage(TTabSheet *page)
{
    // Programmatic choice is allowed even for a disabled page: only the user
    // is kept from choosing its tab.
    if (page && indexOf(page) >= 0)
        setCurrentWidget(page);
}

void TCustomPageControl98::setPageEnabled(TTabSheet *page, bool enabled)
{
    const int index = indexOf(page);
    if (index < 0)
        return;
    // QTabBar skips a disabled tab for clicks, keyboard moves and its
    // mnemonic. Only the tab: QTabWidget::setTabEnabled would also enable or
    // disable every widget on the page, which nobody can reach while its tab
    // is disabled anyway; on the items page, after every post of an order,
    // that walk cost more than the whole repaint.
    tabBar()->setTabEnabled(index, enabled);
}

bool TCustomPageControl98::isPageEnabled(TTabSheet *page) const
{
    const int index = indexOf(page);
    return index >= 0 && isTabEnabled(index);
}

void TCustomPageControl98::paintEvent(QPaintEvent *event)
{
    if (documentMode())
        return QTabWidget::paintEvent(event);
    // The pane's frame as QTabWidget paints it, clipped to the damaged
    // rectangle. The style fills and outlines the whole pane, and the clip
    // of the paint event alone did not spare the raster engine the work:
    // a tab enabled or disabled (after every post) repaints the strip under
    // the tab bar, which cost 120-170 us with a 560x336 pane against
    // 60-110 us clipped. The pixels are the same.
    QStylePainter painter(this);
    painter.setClipRect(event->rect());
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    option.rect = style()->subElementRect(QStyle::SE_TabWidgetTabPane, &option, this);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}
