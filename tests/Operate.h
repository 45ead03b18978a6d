// The three ways a person works a control: the mouse, the keyboard, and an assistive tool (a
// screen reader or a UI-automation tool), which calls the control's accessibility action.
#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>

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

// The ways to commit the entry a list that acts on choice shows (browsed to with the keys): Enter
// or Space on the list, a click on that entry in the open list, or the list's accessibility
// action "select".
enum class Commit { Enter, Space, Click, Select };

inline const char* CommitName(Commit c) {
    switch (c) {
        case Commit::Enter:
            return "Enter";
        case Commit::Space:
            return "Space";
        case Commit::Click:
            return "click";
        default:
            return "select";
    }
}

inline void CommitEntry(QComboBox* list, Commit how) {
    switch (how) {
        case Commit::Enter:
        case Commit::Space: {
            const int key = how == Commit::Enter ? Qt::Key_Return : Qt::Key_Space;
            const QString text = how == Commit::Enter ? QStringLiteral("\r") : QStringLiteral(" ");
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
            QCoreApplication::sendEvent(list, &press);
            QCoreApplication::sendEvent(list, &release);
            return;
        }
        case Commit::Click: {
            list->showPopup();
            // The open list takes no release within a double click's time of its opening.
            QElapsedTimer opened;
            opened.start();
            while (opened.elapsed() < QApplication::doubleClickInterval() + 50) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            }
            QAbstractItemView* view = list->view();
            const QModelIndex entry = view->model()->index(
                list->currentIndex(), list->modelColumn(), list->rootModelIndex());
            view->scrollTo(entry);
            const QPoint at = view->visualRect(entry).center();
            const QPointF global = view->viewport()->mapToGlobal(QPointF(at));
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view->viewport(), &press);
            QCoreApplication::sendEvent(view->viewport(), &release);
            return;
        }
        default:
            if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
                iface != nullptr && iface->actionInterface() != nullptr) {
                iface->actionInterface()->doAction(QStringLiteral("select"));
            }
            return;
    }
}

// Chooses entry index of such a list as the mouse does: the entry clicked in the open list.
inline void Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// Presses and releases a key on window's focused control (or the window), as a keyboard does.
// Shift+Tab is Backtab with Shift, as a keyboard sends it.
inline void PressKey(QWidget* window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* to = window->focusWidget() != nullptr ? window->focusWidget() : window;
    const QString text = key == Qt::Key_Space                            ? QStringLiteral(" ")
                         : key == Qt::Key_Return || key == Qt::Key_Enter ? QStringLiteral("\r")
                         : key == Qt::Key_Escape                         ? QStringLiteral("\x1b")
                                                                         : QString();
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(to, &press);
    if (window->focusWidget() == to || key != Qt::Key_Tab) {
        QCoreApplication::sendEvent(to, &release);
    }
}

// The control that has window's focus: its identifier, or its accessible name, or its object name.
inline QString FocusName(QWidget* window) {
    QWidget* f = window->focusWidget();
    if (f == nullptr) {
        return QStringLiteral("(none)");
    }
    if (f->property("controlId").isValid()) {
        return QString::number(f->property("controlId").toInt());
    }
    if (!f->accessibleName().isEmpty()) {
        return f->accessibleName();
    }
    return f->objectName();
}

}  // namespace testutil
