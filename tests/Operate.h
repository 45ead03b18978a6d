// The three ways a person works a control: the mouse, the keyboard, and an assistive tool (a
// screen reader or a UI-automation tool), which calls the control's accessibility action.
#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCoreApplication>
#include <QKeyEvent>

namespace testutil {

enum class Way { Mouse, Keyboard, Accessibility };

inline const char* WayName(Way way) {
    switch (way) {
        case Way::Mouse:
            return "mouse";
        case Way::Keyboard:
            return "keyboard";
        default:
            return "accessibility";
    }
}

// The accessibility actions a control offers now ("Toggle" for a radio or a check box, "Press"
// for a push button; none while it is disabled).
inline QStringList AccessibleActions(QWidget* w) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    if (iface == nullptr || iface->actionInterface() == nullptr) {
        return {};
    }
    return iface->actionInterface()->actionNames();
}

// Works a button one way: a click, the space bar, or its accessibility action ("Toggle" for a
// checkable control, "Press" for the others). False when the way is not open to it.
inline bool Operate(QAbstractButton* b, Way way) {
    switch (way) {
        case Way::Mouse:
            if (!b->isEnabled()) {
                return false;
            }
            b->click();
            return true;
        case Way::Keyboard: {
            if (!b->isEnabled()) {
                return false;
            }
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier,
                              QStringLiteral(" "));
            QCoreApplication::sendEvent(b, &press);
            QCoreApplication::sendEvent(b, &release);
            return true;
        }
        default: {
            const QString action = b->isCheckable() ? QAccessibleActionInterface::toggleAction()
                                                    : QAccessibleActionInterface::pressAction();
            if (!AccessibleActions(b).contains(action)) {
                return false;
            }
            QAccessible::queryAccessibleInterface(b)->actionInterface()->doAction(action);
            return true;
        }
    }
}

}  // namespace testutil
