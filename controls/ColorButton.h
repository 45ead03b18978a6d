// A push button that draws itself in colours its owner chooses: the face, the caption, and a 3-D
// frame of one-pixel lines (raised, outlined and raised when it has the focus or is the default,
// sunken while pressed); an etched caption when disabled; the dotted focus rectangle. The fast
// mosaic's screen numbers are these buttons: white digits on grey, green when selected.
#pragma once

#include <QColor>
#include <QPushButton>

class QPainter;

class CColorButton : public QPushButton {
    Q_OBJECT

public:
    // Item state bits of one paint.
    static constexpr unsigned kSelected = 0x0001;
    static constexpr unsigned kDisabled = 0x0004;
    static constexpr unsigned kFocus = 0x0010;
    static constexpr unsigned kDefault = 0x0020;
    // Caption style bits: several lines split at line feeds; left, right (both: centred); top,
    // bottom (both: vertically centred).
    static constexpr unsigned kMultiLine = 0x2000;
    static constexpr unsigned kLeft = 0x0100;
    static constexpr unsigned kRight = 0x0200;
    static constexpr unsigned kTop = 0x0400;
    static constexpr unsigned kBottom = 0x0800;

    // The colours start as the system's (this button's palette).
    explicit CColorButton(QWidget* parent = nullptr);

    // Paints the button in state into r (the button's client area).
    void DrawItem(QPainter& painter, const QRect& r, unsigned state) const;
    // The state of this button now: pressed, disabled, focused, default.
    unsigned ItemState() const;

    // Owner-chosen colours; assign, then update() to show them.
    QColor m_textColour;
    QColor m_faceColour;
    QColor m_disabledFaceColour;
    QColor m_light;       // inner top and left line of a raised frame
    QColor m_highlight;   // outer top and left line of a raised frame
    QColor m_shadow;      // inner bottom and right of a raised frame; inner outline of a sunken one
    QColor m_darkShadow;  // outer bottom and right of a raised frame; outer outline of a sunken one
    unsigned m_captionStyle = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
};
