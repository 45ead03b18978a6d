#include "controls/Focus.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLayout>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <vector>

#include "controls/Colours.h"

namespace ui {

namespace {

// The nearest group box around w inside window, or nullptr.
QWidget* GroupBoxOf(QWidget* w, QWidget* window) {
    for (QWidget* p = w->parentWidget(); p != nullptr && p != window; p = p->parentWidget()) {
        if (qobject_cast<QGroupBox*>(p) != nullptr) {
            return p;
        }
    }
    return nullptr;
}

// The layout that holds w as one of its own items, searched from layout down.
QLayout* LayoutHolding(QLayout* layout, const QWidget* w) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == w) {
            return layout;
        }
        if (QLayout* inner = item->layout()) {
            if (QLayout* found = LayoutHolding(inner, w)) {
                return found;
            }
        }
    }
    return nullptr;
}

// The controls of w's group: those in its group box, or else those of its layout's row.
std::vector<QWidget*> GroupMembers(QWidget* w, QWidget* window) {
    std::vector<QWidget*> out;
    if (QWidget* box = GroupBoxOf(w, window)) {
        for (QWidget* c : box->findChildren<QWidget*>()) {
            out.push_back(c);
        }
        return out;
    }
    QWidget* parent = w->parentWidget();
    QLayout* row = parent != nullptr && parent->layout() != nullptr
                       ? LayoutHolding(parent->layout(), w)
                       : nullptr;
    for (int i = 0; row != nullptr && i < row->count(); ++i) {
        if (QWidget* c = row->itemAt(i)->widget()) {
            out.push_back(c);
            for (QWidget* inner : c->findChildren<QWidget*>()) {
                out.push_back(inner);
            }
        }
    }
    return out;
}

// A control the operator can put the focus on now.
bool Usable(const QWidget* w, const QWidget* window) {
    return w != nullptr && w->isEnabled() && w->isVisibleTo(window) &&
           w->focusPolicy() != Qt::NoFocus &&
           qobject_cast<QComboBox*>(w->parentWidget()) == nullptr &&
           qobject_cast<QAbstractSpinBox*>(w->parentWidget()) == nullptr;
}

// Where the focus waits for a control that is disabled for a moment: a spot without size in the
// control's group, on no control, so that no key works anything meanwhile. Tab and Shift+Tab
// go on from the control waited for, as they would from it.
class FocusPark : public QWidget {
public:
    explicit FocusPark(QWidget* group) : QWidget(group) {
        setObjectName(QStringLiteral("focusPark"));
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(0, 0, 0, 0);
        show();
    }

    QPointer<QWidget> from;

protected:
    bool focusNextPrevChild(bool next) override {
        QWidget* start = from ? from.data() : this;
        for (QWidget* w = next ? start->nextInFocusChain() : start->previousInFocusChain();
             w != nullptr && w != start;
             w = next ? w->nextInFocusChain() : w->previousInFocusChain()) {
            if (w != this && w->window() == window() && Usable(w, window()) &&
                (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
                w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                return true;
            }
        }
        return false;
    }
};

FocusKeeper* KeeperOf(QWidget* window) {
    return window != nullptr
               ? window->findChild<FocusKeeper*>(QString(), Qt::FindDirectChildrenOnly)
               : nullptr;
}

}  // namespace

void HoldFocus(QWidget* window, bool held) {
    if (FocusKeeper* keeper = KeeperOf(window)) {
        keeper->Hold(held);
    }
}

QWidget* FocusWaitsFor(QWidget* window) {
    FocusKeeper* keeper = KeeperOf(window);
    return keeper != nullptr ? keeper->WaitsFor() : nullptr;
}

// ---- the ring ---------------------------------------------------------------------------------

FocusRing::FocusRing(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("focusRing"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void FocusRing::Follow(QWidget* w) {
    if (m_target == w) {
        Place();
        return;
    }
    if (m_target) {
        m_target->removeEventFilter(this);
    }
    m_target = w;
    if (w == nullptr || w->parentWidget() == nullptr) {
        m_target = nullptr;
        hide();
        return;
    }
    if (parentWidget() != w->parentWidget()) {
        setParent(w->parentWidget());
    }
    w->installEventFilter(this);
    Place();
}

void FocusRing::Place() {
    if (!m_target || !m_target->isVisible()) {
        hide();
        return;
    }
    const int out = kGap + kWidth;
    setGeometry(m_target->geometry().adjusted(-out, -out, out, out));
    setMask(QRegion(rect()) - QRegion(rect().adjusted(kWidth, kWidth, -kWidth, -kWidth)));
    stackUnder(m_target);
    show();
    update();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_target) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::ZOrderChange:
                Place();
                break;
            case QEvent::ParentChange: {
                QWidget* w = m_target;
                m_target = nullptr;
                w->removeEventFilter(this);
                Follow(w);
                break;
            }
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), FocusRingColour(parentWidget() ? parentWidget()->palette() : palette()));
}

// ---- the keeper -------------------------------------------------------------------------------

FocusKeeper::FocusKeeper(QWidget* window) : QObject(window), m_window(window) {
    connect(qApp, &QApplication::focusChanged, this, &FocusKeeper::FocusChanged);
    Watch(window->focusWidget());
}

QWidget* FocusKeeper::WaitsFor() const {
    return m_anchor && m_window && m_window->focusWidget() == m_park ? m_anchor.data() : nullptr;
}

void FocusKeeper::Hold(bool held) {
    m_held = held;
    if (!held) {
        QueueSettle();
    }
}

void FocusKeeper::FocusChanged(QWidget* old, QWidget* now) {
    if (m_moving || !m_window) {
        return;
    }
    // Qt moves the focus on from a control being disabled; the keeper answers when that
    // control's change of state arrives, right after (eventFilter).
    if (old != nullptr && old == m_watched && !old->isEnabled()) {
        return;
    }
    if (now == nullptr || now->window() != m_window) {
        return;  // another window, or none: this window keeps its focus widget
    }
    if (now != m_park) {
        SetAnchor(nullptr);  // the operator (or the program) put the focus elsewhere
    }
    Watch(now);
    ShowRing(now);
}

bool FocusKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange && m_window) {
        auto* w = static_cast<QWidget*>(watched);
        if (w == m_watched && w != m_park && !w->isEnabled() && m_window->focusWidget() != w) {
            SetAnchor(w);
            Park();
            if (!m_held) {
                QueueSettle();
            }
        } else if (w == m_anchor && w->isEnabled() && !m_held) {
            QueueSettle();
        }
    }
    return QObject::eventFilter(watched, event);
}

void FocusKeeper::Watch(QWidget* w) {
    if (m_watched == w) {
        return;
    }
    if (m_watched && m_watched != m_anchor) {
        m_watched->removeEventFilter(this);
    }
    m_watched = w;
    if (w != nullptr) {
        w->installEventFilter(this);
    }
}

void FocusKeeper::SetAnchor(QWidget* w) {
    if (m_anchor == w) {
        return;
    }
    if (m_anchor && m_anchor != m_watched) {
        m_anchor->removeEventFilter(this);
    }
    m_anchor = w;
    if (w != nullptr) {
        w->installEventFilter(this);
    }
}

void FocusKeeper::Park() {
    QWidget* group = GroupBoxOf(m_anchor, m_window);
    if (group == nullptr) {
        group = m_anchor->parentWidget();
    }
    QPointer<QWidget> old = m_park;
    if (!m_park || m_park->parentWidget() != group) {
        m_park = new FocusPark(group);
    }
    auto* park = static_cast<FocusPark*>(m_park.data());
    park->from = m_anchor;
    // A screen reader says where the focus waits: the group, or the control itself.
    const auto* box = qobject_cast<QGroupBox*>(group);
    park->setAccessibleName(box != nullptr ? QString(box->title()).remove(u'&')
                                           : m_anchor->accessibleName());
    MoveFocus(m_park);
    if (m_window->focusWidget() != m_park) {
        // The group itself is disabled: no control keeps the focus meanwhile.
        if (QWidget* f = m_window->focusWidget()) {
            m_moving = true;
            f->clearFocus();
            m_moving = false;
        }
    }
    if (old && old != m_park) {
        old->deleteLater();
    }
}

void FocusKeeper::QueueSettle() {
    if (m_settleQueued) {
        return;
    }
    m_settleQueued = true;
    // After the rest of what disabled and enabled controls in this turn (a command's end
    // enables the switch controls, then the processor's state disables some again).
    QTimer::singleShot(0, this, &FocusKeeper::Settle);
}

void FocusKeeper::Settle() {
    m_settleQueued = false;
    if (m_held || !m_anchor || !m_window) {
        return;
    }
    QWidget* focus = m_window->focusWidget();
    if (focus != m_park && focus != nullptr) {
        SetAnchor(nullptr);  // the operator moved on meanwhile
        return;
    }
    if (Usable(m_anchor, m_window)) {
        QWidget* back = m_anchor;
        SetAnchor(nullptr);
        MoveFocus(back);
    } else if (QWidget* n = Neighbour()) {
        SetAnchor(nullptr);
        MoveFocus(n);
    }
    // Otherwise the focus goes on waiting in the group for the control.
}

void FocusKeeper::MoveFocus(QWidget* to) {
    m_moving = true;
    to->setFocus(Qt::OtherFocusReason);
    m_moving = false;
    Watch(to);
    ShowRing(to);
}

void FocusKeeper::ShowRing(QWidget* w) {
    // A control inside a list or a number box rings the whole box.
    if (w != nullptr && (qobject_cast<QComboBox*>(w->parentWidget()) != nullptr ||
                         qobject_cast<QAbstractSpinBox*>(w->parentWidget()) != nullptr)) {
        w = w->parentWidget();
    }
    if (w == nullptr || w == m_park || w->isWindow() || w->parentWidget() == nullptr) {
        if (m_ring) {
            m_ring->Follow(nullptr);
        }
        return;
    }
    if (!m_ring) {
        m_ring = new FocusRing(w->parentWidget());
    }
    m_ring->Follow(w);
}

QWidget* FocusKeeper::Neighbour() const {
    // The nearest by the distance of the centres.
    const QPoint at = m_anchor->mapTo(m_window, m_anchor->rect().center());
    std::vector<QWidget*> members = GroupMembers(m_anchor, m_window);
    QWidget* best = nullptr;
    long bestDistance = std::numeric_limits<long>::max();
    for (QWidget* w = m_anchor->nextInFocusChain(); w != nullptr && w != m_anchor;
         w = w->nextInFocusChain()) {
        if (w == m_park.data() || w == m_ring.data() || !Usable(w, m_window) ||
            std::find(members.begin(), members.end(), w) == members.end()) {
            continue;
        }
        const QPoint d = w->mapTo(m_window, w->rect().center()) - at;
        const long distance = static_cast<long>(d.x()) * d.x() + static_cast<long>(d.y()) * d.y();
        // Of two as near, the one before it (met later in this walk round the chain).
        if (distance <= bestDistance) {
            bestDistance = distance;
            best = w;
        }
    }
    return best;
}

}  // namespace ui
