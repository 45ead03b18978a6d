#include "controls/ScreenFit.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace ui {

QScreen* ScreenOf(const QWidget* window) {
    if (window->windowHandle() != nullptr && window->isVisible()) {
        return window->windowHandle()->screen();
    }
    if (const QWidget* parent = window->parentWidget()) {
        return ScreenOf(parent->window());
    }
    if (QScreen* s = QGuiApplication::screenAt(window->geometry().center())) {
        return s;
    }
    return QGuiApplication::primaryScreen();
}

namespace {

QRect AreaOf(QScreen* screen) {
    if (screen == nullptr) {
        return {};
    }
    return screen->availableGeometry().adjusted(kFrameRoom, kTitleBarRoom, -kFrameRoom,
                                                -kFrameRoom);
}

QSize Cap(QScreen* screen, QSize wanted) {
    const QRect area = AreaOf(screen);
    return area.isEmpty() ? wanted : wanted.boundedTo(area.size());
}

}  // namespace

QRect ClientArea(const QWidget* window) {
    return AreaOf(ScreenOf(window));
}

QSize CapToScreen(const QWidget* window, QSize wanted) {
    return Cap(ScreenOf(window), wanted);
}

void KeepOnScreen(QWidget* window) {
    const QRect area = ClientArea(window);
    if (area.isEmpty()) {
        return;
    }
    // The frame the window manager has drawn, when it has; else the room allowed for one.
    const QRect client = window->geometry();
    const QRect frame = window->frameGeometry();
    QRect want = client;
    if (want.right() > area.right()) {
        want.moveRight(area.right());
    }
    if (want.bottom() > area.bottom()) {
        want.moveBottom(area.bottom());
    }
    if (want.left() < area.left()) {
        want.moveLeft(area.left());
    }
    if (want.top() < area.top()) {
        want.moveTop(area.top());
    }
    if (want.topLeft() != client.topLeft()) {
        // move() places the frame's corner for a framed window.
        window->move(want.topLeft() - (client.topLeft() - frame.topLeft()));
    }
}

QScrollArea* ScrollingContent(QWidget* content) {
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(false);
    scroll->setFocusPolicy(Qt::NoFocus);  // Tab goes to the controls it holds, not to it
    scroll->setWidget(content);
    return scroll;
}

namespace {

class FitOnShow : public QObject {
public:
    FitOnShow(QWidget* window, QScrollArea* scroll) : QObject(window), m_scroll(scroll) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The size when it opens; the place once the dialog has placed itself over its parent.
        if (event->type() == QEvent::Show && watched == parent()) {
            Fit(static_cast<QWidget*>(watched));
        } else if (event->type() == QEvent::ShowToParent && watched == parent()) {
            KeepOnScreen(static_cast<QWidget*>(watched));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Fit(QWidget* window) {
        // Not yet placed: it opens on its parent's screen.
        QScreen* screen = ScreenOf(window->parentWidget() != nullptr
                                       ? window->parentWidget()->window()
                                       : window);
        QWidget* content = m_scroll->widget();
        content->adjustSize();
        const QSize inner = content->size();
        m_scroll->setFixedSize(inner);
        window->setMinimumSize(0, 0);
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        window->layout()->activate();
        const QSize full = window->layout()->sizeHint();
        const QSize capped = Cap(screen, full);
        if (capped == full) {
            window->setFixedSize(full);
        } else {
            // Room for the scroll bars the capped size needs.
            const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
            m_scroll->setMinimumSize(120, 90);
            m_scroll->setMaximumSize(inner + QSize(bar, bar));
            const QSize most = full + QSize(bar, bar);
            window->setMinimumSize(QSize(240, 200).boundedTo(capped));
            window->setMaximumSize(most);
            window->resize(Cap(screen, most));
        }
    }

    QScrollArea* m_scroll;
};

}  // namespace

void FitWhenShown(QWidget* window, QScrollArea* scroll) {
    window->installEventFilter(new FitOnShow(window, scroll));
}

}  // namespace ui
