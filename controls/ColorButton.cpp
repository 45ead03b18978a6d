#include "controls/ColorButton.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStringList>

namespace {

// A rectangle as the frame drawing counts it: right and bottom are one past the last pixel.
struct Box {
    int left, top, right, bottom;
    Box Moved(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    Box Shrunk(int d) const { return {left + d, top + d, right - d, bottom - d}; }
};

// The four one-pixel lines of an outline, each from its start up to (not including) its end, in
// the order top, left, bottom, right: the bottom and right lines cover the corners they share.
void Outline(QPainter& p, const Box& b, const QColor& topLeft, const QColor& bottomRight) {
    p.fillRect(QRect(b.left, b.top, b.right - b.left, 1), topLeft);
    p.fillRect(QRect(b.left, b.top, 1, b.bottom - b.top), topLeft);
    p.fillRect(QRect(b.left, b.bottom - 1, b.right - b.left, 1), bottomRight);
    p.fillRect(QRect(b.right - 1, b.top, 1, b.bottom - b.top), bottomRight);
}

// The classic dotted focus rectangle: every other pixel of the outline.
void FocusRect(QPainter& p, const Box& b) {
    const QColor ink(0, 0, 0);
    for (int x = b.left; x < b.right; ++x) {
        for (int y : {b.top, b.bottom - 1}) {
            if ((x + y) % 2 == 0) {
                p.fillRect(QRect(x, y, 1, 1), ink);
            }
        }
    }
    for (int y = b.top; y < b.bottom; ++y) {
        for (int x : {b.left, b.right - 1}) {
            if ((x + y) % 2 == 0) {
                p.fillRect(QRect(x, y, 1, 1), ink);
            }
        }
    }
}

void Caption(QPainter& p, const QString& text, unsigned style, const Box& t, const QColor& colour) {
    const QStringList lines =
        (style & CColorButton::kMultiLine) != 0 ? text.split(QChar(0x0A)) : QStringList{text};
    const int n = static_cast<int>(lines.size());
    const int h = QFontMetrics(p.font()).height();

    const bool top = (style & CColorButton::kTop) != 0;
    const bool bottom = (style & CColorButton::kBottom) != 0;
    int y;
    if (top && !bottom) {
        y = t.top + 2;
    } else if (bottom && !top) {
        y = t.bottom - n * h - 2;
    } else {
        // Depends on the height only: the pressed caption stays on the same line.
        y = (t.bottom - n * h - t.top) / 2 - 1;
    }

    const bool left = (style & CColorButton::kLeft) != 0;
    const bool right = (style & CColorButton::kRight) != 0;
    int flags;
    if (left && right) {
        flags = Qt::AlignHCenter | Qt::AlignTop;
    } else if (left) {
        flags = Qt::AlignLeft | Qt::AlignTop;
    } else if (right) {
        flags = Qt::AlignRight | Qt::AlignTop;
    } else {
        flags = Qt::AlignCenter | Qt::TextSingleLine;
    }

    p.save();
    p.setPen(colour);
    p.setBackgroundMode(Qt::TransparentMode);
    for (const QString& line : lines) {
        p.drawText(QRect(t.left + 3, y, (t.right - 3) - (t.left + 3), h), flags, line);
        y += h;
    }
    p.restore();
}

}  // namespace

CColorButton::CColorButton(QWidget* parent) : QPushButton(parent) {
    const QPalette& pal = palette();
    m_textColour = pal.color(QPalette::ButtonText);
    m_faceColour = pal.color(QPalette::Button);
    m_disabledFaceColour = pal.color(QPalette::Button);
    m_light = pal.color(QPalette::Midlight);
    m_highlight = pal.color(QPalette::Light);
    m_shadow = pal.color(QPalette::Dark);
    m_darkShadow = pal.color(QPalette::Shadow);
}

unsigned CColorButton::ItemState() const {
    unsigned state = 0;
    if (isDown()) {
        state |= kSelected;
    }
    if (!isEnabled()) {
        state |= kDisabled;
    }
    if (hasFocus()) {
        state |= kFocus;
    }
    if (isDefault()) {
        state |= kDefault;
    }
    return state;
}

void CColorButton::DrawItem(QPainter& p, const QRect& r, unsigned state) const {
    const Box rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    const Box t0 = rect.Moved(-1, -1);
    const Box t1 = rect;
    const bool selected = (state & kSelected) != 0;
    const bool disabled = (state & kDisabled) != 0;

    p.fillRect(r, disabled ? m_disabledFaceColour : m_faceColour);

    if (selected) {
        Outline(p, rect, m_darkShadow, m_darkShadow);
        Outline(p, rect.Shrunk(1), m_shadow, m_shadow);
    } else {
        Box raised = rect;
        if ((state & (kFocus | kDefault)) != 0) {
            Outline(p, raised, QColor(0, 0, 0), QColor(0, 0, 0));
            raised = raised.Shrunk(1);
        }
        Outline(p, raised, m_highlight, m_darkShadow);
        Outline(p, raised.Shrunk(1), m_light, m_shadow);
    }

    if (disabled) {
        Caption(p, text(), m_captionStyle, t1, QColor(255, 255, 255));
        Caption(p, text(), m_captionStyle, t0, QColor(128, 128, 128));
    } else {
        Caption(p, text(), m_captionStyle, selected ? t1 : t0, m_textColour);
    }

    if ((state & kFocus) != 0) {
        FocusRect(p, rect.Shrunk(4));
    }
}

void CColorButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    DrawItem(p, rect(), ItemState());
}
