// Windows fit the screen they open on: within its available area (what panels leave), with room
// above for the window manager's title bar. A window larger than that area is capped to it, and
// its content scrolls; on a screen large enough nothing changes.
#pragma once

#include <QRect>
#include <QSize>

class QScreen;
class QScrollArea;
class QWidget;

namespace ui {

// Room the window manager's title bar takes above a window's client area (and the frame around
// it), for windows not yet framed.
constexpr int kTitleBarRoom = 32;
constexpr int kFrameRoom = 4;

// The screen window is on, or will open on: its own once shown, else its parent's, else the one
// under its position, else the primary screen.
QScreen* ScreenOf(const QWidget* window);
// The client-area rectangle a window may take on its screen: the available area less the title
// bar and the frame.
QRect ClientArea(const QWidget* window);
// wanted, capped to ClientArea.
QSize CapToScreen(const QWidget* window, QSize wanted);
// Moves a top-level window so that its client area and frame lie within the available area;
// a window already inside does not move. Call after every change of its size, and when it opens.
void KeepOnScreen(QWidget* window);

// A frameless scroll area holding content, whose layout sizes it.
QScrollArea* ScrollingContent(QWidget* content);
// Each time window opens: when it fits its screen, scroll (holding the content) takes the
// content's size and window a fixed size, as without scrolling; otherwise window takes the room
// there is, may be resized up to its full size, and scroll scrolls. Then KeepOnScreen.
void FitWhenShown(QWidget* window, QScrollArea* scroll);

}  // namespace ui
