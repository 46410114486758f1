#include "host/CachedTabBar.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace {

template <typename T>
void put(QByteArray &out, const T &value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void put(QByteArray &out, const QString &text)
{
    put(out, text.size());
    out.append(reinterpret_cast<const char *>(text.constData()), text.size() * qsizetype(sizeof(QChar)));
}

void put(QByteArray &out, const QRect &r)
{
    put(out, r.x());
    put(out, r.y());
    put(out, r.width());
    put(out, r.height());
}

} // namespace

CachedTabBar::CachedTabBar(QWidget *parent)
    : QTabBar(parent)
{
}

bool CachedTabBar::paintsItself() const
{
    return m_rendering || underMouse() || isMovable() || QApplication::mouseButtons() != Qt::NoButton;
}

QByteArray CachedTabBar::currentState() const
{
    QByteArray s;
    s.reserve(256);
    put(s, width());
    put(s, height());
    put(s, devicePixelRatioF());
    put(s, static_cast<const void *>(style()));
    put(s, palette().cacheKey());
    put(s, font().key());
    put(s, int(layoutDirection()));
    put(s, isEnabled());
    put(s, isActiveWindow());
    put(s, hasFocus());
    put(s, int(shape()));
    put(s, documentMode());
    put(s, drawBase());
    put(s, int(elideMode()));
    put(s, iconSize().width());
    put(s, iconSize().height());
    put(s, currentIndex());
    put(s, count());
    for (int i = 0; i < count(); ++i) {
        put(s, tabText(i));
        put(s, tabIcon(i).cacheKey());
        put(s, isTabEnabled(i));
        put(s, isTabVisible(i));
        put(s, tabTextColor(i).rgba64());
        put(s, tabTextColor(i).isValid());
        put(s, tabRect(i));
    }
    return s;
}

void CachedTabBar::paintEvent(QPaintEvent *event)
{
    if (paintsItself()) {
        QTabBar::paintEvent(event);
        return;
    }
    const QByteArray state = currentState();
    auto it = std::find_if(m_kept.begin(), m_kept.end(), [&](const Kept &k) { return k.state == state; });
    if (it == m_kept.end()) {
        // A state not seen yet: painted as any tab bar, and kept once this
        // paint is over (a widget cannot render itself while it paints).
        QTabBar::paintEvent(event);
        QMetaObject::invokeMethod(this, &CachedTabBar::keepCurrentState, Qt::QueuedConnection);
        return;
    }
    if (it != m_kept.begin())
        std::rotate(m_kept.begin(), it, it + 1);
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_kept.front().image);
}

void CachedTabBar::keepCurrentState()
{
    if (!isVisible() || paintsItself())
        return;
    QByteArray state = currentState();
    if (std::any_of(m_kept.begin(), m_kept.end(), [&](const Kept &k) { return k.state == state; }))
        return;
    // What the bar paints itself, on a transparent image: drawn over what
    // lies beneath, it gives the same pixels.
    const qreal ratio = devicePixelRatioF();
    QPixmap image(size() * ratio);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    m_rendering = true;
    render(&image, QPoint(), QRegion(rect()), {});
    m_rendering = false;
    if (m_kept.size() >= std::size_t(kKeptStates))
        m_kept.pop_back();
    m_kept.insert(m_kept.begin(), Kept{std::move(state), std::move(image)});
}

void CachedTabBar::changeEvent(QEvent *event)
{
    // Style, palette, font, language, enabling: the next paint starts over.
    forget();
    QTabBar::changeEvent(event);
}

void CachedTabBar::resizeEvent(QResizeEvent *event)
{
    forget();
    QTabBar::resizeEvent(event);
}

void CachedTabBar::tabInserted(int index)
{
    forget();
    QTabBar::tabInserted(index);
}

void CachedTabBar::tabRemoved(int index)
{
    forget();
    QTabBar::tabRemoved(index);
}

void CachedTabBar::tabLayoutChange()
{
    forget();
    QTabBar::tabLayoutChange();
}
