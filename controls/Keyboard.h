// Keyboard conventions every window follows, as on the desktops the operators know:
// - Enter (and the keypad's Enter) presses the focused push button; Escape stays the dialog's.
// - Tab enters a set of radios at its checked radio (the first usable one when none is checked);
//   the arrow keys move within the set and select as they go.
// - A radio that sends a command sends on every click, key and accessibility action, also when
//   it is checked already; a check set by the program sends nothing.
// - A pair of up/down arrows is one keyboard stop: Up and Down press its arrows.
// - A list that acts on the entry chosen (it switches the output, picks the device) is browsed
//   without acting: the arrow keys, Page Up/Down, Home/End, typing and the wheel move the entry
//   shown; Enter or Space, a click on an entry of its open list, or its accessibility action
//   "select" commits it. An entry browsed to and not committed goes back to the one in force
//   when the list loses the focus or takes Escape.
// - The focus stays with the control the operator used while the program disables it, and a
//   ring shows the focus on any ground (Focus.h).
#pragma once

#include <QWidget>
#include <functional>

class QAbstractButton;
class QComboBox;
class QToolButton;

namespace ui {

// Applies the Enter and radio conventions to window and every radio it holds now. Radios belong
// to one set when they share a QButtonGroup, or else an auto-exclusive parent.
void ApplyKeyboardConventions(QWidget* window);

// Calls handler when the user works radio (click, Space, an arrow key moving onto it, or its
// accessibility action), whether or not it was checked before.
void OnUserSelect(QAbstractButton* radio, QObject* context, std::function<void()> handler);

// Calls commit with the entry of list that the user commits (above), once per commit and only
// for an entry other than the one in force. An entry the program makes current (setCurrentIndex)
// is the one in force and commits nothing.
void OnCommit(QComboBox* list, QObject* context, std::function<void(int index)> commit);

// The accessibility action of such a list that commits the entry shown.
constexpr const char* kSelectAction = "select";

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
