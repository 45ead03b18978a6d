// Keyboard conventions every window follows, as on the desktops the operators know:
// - Enter (and the keypad's Enter) presses the focused push button; Escape stays the dialog's.
// - Tab enters a set of radios at its checked radio (the first usable one when none is checked);
//   the arrow keys move within the set and select as they go.
// - A radio that sends a command sends on every click, key and accessibility action, also when
//   it is checked already; a check set by the program sends nothing.
// - A pair of up/down arrows is one keyboard stop: Up and Down press its arrows.
#pragma once

#include <QWidget>
#include <functional>

class QAbstractButton;
class QToolButton;

namespace ui {

// Applies the Enter and radio conventions to window and every radio it holds now. Radios belong
// to one set when they share a QButtonGroup, or else an auto-exclusive parent.
void ApplyKeyboardConventions(QWidget* window);

// Calls handler when the user works radio (click, Space, an arrow key moving onto it, or its
// accessibility action), whether or not it was checked before.
void OnUserSelect(QAbstractButton* radio, QObject* context, std::function<void()> handler);

// An up and a down arrow side by side (horizontal) or stacked; they hold no value of their own.
// The pair is the keyboard stop, not its arrows.
class ArrowPair : public QWidget {
    Q_OBJECT

public:
    ArrowPair(Qt::Orientation orientation, QSize arrowSize, QWidget* parent = nullptr);
    QToolButton* Button(bool up) const { return m_buttons[up ? 0 : 1]; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QToolButton* m_buttons[2] = {};
};

}  // namespace ui
