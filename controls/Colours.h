// The program's colour conventions on any palette. On a light palette the template's colours
// stand: blue titles, cyan for a box changed and not yet sent, khaki for the others. On a dark
// palette they keep their meaning in colours that stay readable against the palette's text and
// window (contrast ratio at least 4.5:1).
#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

namespace ui {

constexpr double kReadableContrast = 4.5;

// The contrast ratio of two colours (1 to 21), from their relative luminance.
double ContrastRatio(const QColor& a, const QColor& b);
bool IsDark(const QPalette& palette);

// Text colour of section titles and labels drawn in blue, on palette's window colour.
QColor TitleColour(const QPalette& palette);
// Background of an edit box that has colour on a light palette: colour itself there; on a dark
// palette a deep shade of it under the palette's text.
QColor BoxColour(const QPalette& palette, const QColor& colour);

// The focus ring around a control: the palette's highlight, made darker (light palette) or
// lighter (dark palette) until it reads against the window at the readable contrast.
QColor FocusRingColour(const QPalette& palette);

// The alarm colours of a display line (the Info line while something is wrong): a red ground,
// and ink that reads on it, on light and dark palettes alike.
QColor AlarmGround(const QPalette& palette);
QColor AlarmInk(const QPalette& palette);

// Writes TitleColour into a group box's title or a label's text.
void PaintTitle(QWidget* w);
// Fills an edit box with BoxColour in every state; its text keeps the readable text colour when
// it is disabled (a display-only box).
void PaintBox(QWidget* box, const QColor& colour);
// Shows a display line in the alarm colours (on), or in the palette's own again (off).
void PaintAlarm(QWidget* line, bool on);

}  // namespace ui
