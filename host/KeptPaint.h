#pragma once
// Widgets that paint from an image kept for each state they were painted in.
//
// Some widgets of the screen change state after every post and go back to
// it before the next (a page's tab disabled while a row is edited, the
// commands enabled or disabled with it), and Qt's style draws them from
// scratch each time: it shapes every label again and strokes every rounded
// outline. KeptPaint<Widget> keeps what the widget painted per state (its
// size, style, palette, font, focus, the window being active and whatever
// the widget adds in addState()) and paints that image again when the state
// comes back. A state not seen yet is painted as usual and kept once that
// paint is over: a widget cannot render itself while it paints.
//
// While the mouse is over the widget or a button is down, it paints itself:
// hover and pressed looks are not kept. Child widgets paint themselves.

#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <type_traits>
#include <vector>

// What a widget's look depends on, as bytes to compare.
class PaintState
{
public:
    template <typename T>
    PaintState &add(const T &value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        m_bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
        return *this;
    }
    PaintState &add(const QString &text)
    {
        add(text.size());
        m_bytes.append(reinterpret_cast<const char *>(text.constData()), text.size() * qsizetype(sizeof(QChar)));
        return *this;
    }
    PaintState &add(const QRect &r) { return add(r.x()).add(r.y()).add(r.width()).add(r.height()); }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

template <class Widget>
class KeptPaint : public Widget
{
public:
    using Widget::Widget;

    // Images kept, one per state; the least recently painted goes first.
    static constexpr int kKeptStates = 4;
    int keptStates() const { return int(m_kept.size()); }

protected:
    // What the look depends on besides what every widget has.
    virtual void addState(PaintState &state) const = 0;
    // True while the widget must paint itself (hover, pressed, dragged).
    virtual bool paintsLive() const
    {
        return this->underMouse() || QApplication::mouseButtons() != Qt::NoButton;
    }

    void paintEvent(QPaintEvent *event) override
    {
        if (m_rendering || paintsLive()) {
            Widget::paintEvent(event);
            return;
        }
        const QByteArray state = currentState();
        auto it = std::find_if(m_kept.begin(), m_kept.end(), [&](const Kept &k) { return k.state == state; });
        if (it == m_kept.end()) {
            Widget::paintEvent(event);
            // Several paints before the event loop comes back need one keep.
            if (!m_keepQueued) {
                m_keepQueued = true;
                QMetaObject::invokeMethod(this, [this] { keepCurrentState(); }, Qt::QueuedConnection);
            }
            return;
        }
        if (it != m_kept.begin())
            std::rotate(m_kept.begin(), it, it + 1);
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_kept.front().image);
    }
    void changeEvent(QEvent *event) override
    {
        // Images of another style, palette or font will not be asked for
        // again. (Enabling and the window's activation come and go: they are
        // part of the state.)
        const QEvent::Type type = event->type();
        if (type == QEvent::StyleChange || type == QEvent::PaletteChange || type == QEvent::FontChange)
            forgetKept();
        Widget::changeEvent(event);
    }
    void resizeEvent(QResizeEvent *event) override
    {
        forgetKept();
        Widget::resizeEvent(event);
    }
    void forgetKept() { m_kept.clear(); }

private:
    struct Kept
    {
        QByteArray state;
        QPixmap image;
    };

    QByteArray currentState() const
    {
        PaintState s;
        s.add(this->width()).add(this->height()).add(this->devicePixelRatioF());
        s.add(static_cast<const void *>(this->style())).add(this->palette().cacheKey());
        s.add(this->font().key());
        s.add(int(this->layoutDirection())).add(this->isEnabled()).add(this->isActiveWindow()).add(this->hasFocus());
        addState(s);
        return s.bytes();
    }

    void keepCurrentState()
    {
        m_keepQueued = false;
        if (!this->isVisible() || paintsLive())
            return;
        QByteArray state = currentState();
        if (std::any_of(m_kept.begin(), m_kept.end(), [&](const Kept &k) { return k.state == state; }))
            return;
        // What the widget paints itself, on a transparent image: drawn over
        // what lies beneath, it gives the same pixels.
        const qreal ratio = this->devicePixelRatioF();
        QPixmap image(this->size() * ratio);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        m_rendering = true;
        this->render(&image, QPoint(), QRegion(this->rect()), {});
        m_rendering = false;
        if (currentState() != state)
            return;   // laid out anew while rendering: this image belongs to no state for sure
        if (m_kept.size() >= std::size_t(kKeptStates))
            m_kept.pop_back();
        m_kept.insert(m_kept.begin(), Kept{std::move(state), std::move(image)});
    }

    std::vector<Kept> m_kept;   // the most recently painted first
    bool m_rendering = false;
    bool m_keepQueued = false;
};
