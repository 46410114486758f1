#include "host/TCustomPageControl98.h"

#include <QTabBar>

TCustomPageControl98::TCustomPageControl98(QWidget *parent)
    : QTabWidget(parent)
{
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
    // QTabBar skips a disabled tab for clicks and for keyboard moves.
    setTabEnabled(index, enabled);
}

bool TCustomPageControl98::isPageEnabled(TTabSheet *page) const
{
    const int index = indexOf(page);
    return index >= 0 && isTabEnabled(index);
}
