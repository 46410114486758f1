#include "host/CachedWidgets.h"

#include <QIcon>

void CachedTabBar::addState(PaintState &s) const
{
    s.add(int(shape())).add(documentMode()).add(drawBase()).add(int(elideMode())).add(expanding());
    s.add(iconSize().width()).add(iconSize().height()).add(currentIndex()).add(count());
    for (int i = 0; i < count(); ++i) {
        const QColor colour = tabTextColor(i);
        s.add(tabText(i)).add(tabIcon(i).cacheKey()).add(isTabEnabled(i)).add(isTabVisible(i));
        s.add(colour.isValid()).add(colour.rgba64()).add(tabRect(i));
    }
}

bool CachedTabBar::paintsLive() const
{
    // Movable tabs slide while and after they are dragged.
    return isMovable() || KeptPaint<QTabBar>::paintsLive();
}

void CachedToolButton::addState(PaintState &s) const
{
    s.add(text()).add(icon().cacheKey()).add(iconSize().width()).add(iconSize().height());
    s.add(int(toolButtonStyle())).add(int(arrowType())).add(autoRaise()).add(int(popupMode()));
    s.add(menu() != nullptr).add(isDown()).add(isCheckable()).add(isChecked());
}
