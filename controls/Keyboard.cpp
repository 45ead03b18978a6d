#include "controls/Keyboard.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionFocusRect>
#include <QToolButton>
#include <map>
#include <vector>

namespace ui {

namespace {

const char kSendsEveryClick[] = "sendsEveryClick";

// The accessibility of a radio that sends: its toggle action works it as a click does, so that a
// checked radio can send again (a plain radio's toggle does nothing once it is checked).
class SendingRadioAccessible : public QAccessibleWidget {
public:
    explicit SendingRadioAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::RadioButton) {}

    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? QString(Button()->text()).remove(u'&') : name;
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = Button()->isChecked();
        return s;
    }
    QStringList actionNames() const override {
        if (!widget()->isEnabled()) {
            return {};
        }
        return {QAccessibleActionInterface::toggleAction()};
    }
    void doAction(const QString& action) override {
        if (widget()->isEnabled() && action == QAccessibleActionInterface::toggleAction()) {
            Button()->click();
        }
    }
};

QAccessibleInterface* SendingRadioFactory(const QString& className, QObject* object) {
    auto* radio = qobject_cast<QRadioButton*>(object);
    if (radio != nullptr && className == QLatin1String("QRadioButton") &&
        radio->property(kSendsEveryClick).toBool()) {
        return new SendingRadioAccessible(radio);
    }
    return nullptr;
}

// The radios of one set, in their order, and the keys that move within it.
class RadioSet : public QObject {
public:
    RadioSet(std::vector<QAbstractButton*> radios, QObject* parent)
        : QObject(parent), m_radios(radios.begin(), radios.end()) {
        for (QAbstractButton* r : radios) {
            r->installEventFilter(this);
            connect(r, &QAbstractButton::toggled, this, [this] { SetStops(); });
        }
        SetStops();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange || event->type() == QEvent::ShowToParent ||
            event->type() == QEvent::HideToParent) {
            SetStops();
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            const int step = (key == Qt::Key_Down || key == Qt::Key_Right)  ? 1
                             : (key == Qt::Key_Up || key == Qt::Key_Left) ? -1
                                                                           : 0;
            if (step != 0 && Move(qobject_cast<QAbstractButton*>(watched), step)) {
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool Usable(const QAbstractButton* r) const { return r && r->isEnabled() && !r->isHidden(); }

    // The checked radio is the set's one Tab stop; with none checked (or it unusable), the first
    // usable one. The others take the focus by a click or an arrow key only.
    void SetStops() {
        QAbstractButton* stop = nullptr;
        for (const auto& r : m_radios) {
            if (Usable(r) && r->isChecked()) {
                stop = r;
            }
        }
        for (const auto& r : m_radios) {
            if (stop == nullptr && Usable(r)) {
                stop = r;
            }
        }
        for (const auto& r : m_radios) {
            if (r) {
                r->setFocusPolicy(r == stop ? Qt::StrongFocus : Qt::ClickFocus);
            }
        }
    }

    bool Move(QAbstractButton* from, int step) {
        const int count = static_cast<int>(m_radios.size());
        int at = -1;
        for (int i = 0; i < count; ++i) {
            if (m_radios[i] == from) {
                at = i;
            }
        }
        if (at < 0) {
            return false;
        }
        for (int k = 1; k < count; ++k) {
            QAbstractButton* next = m_radios[((at + step * k) % count + count) % count];
            if (Usable(next)) {
                next->setFocus(Qt::TabFocusReason);
                next->click();
                return true;
            }
        }
        return true;  // the only usable radio: the key stays here
    }

    std::vector<QPointer<QAbstractButton>> m_radios;
};

// Enter on a focused push button presses it. Seen by the window after the focused control has
// passed the key on, so a control that takes Enter itself (a list, a line edit) keeps it.
class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                auto* window = qobject_cast<QWidget*>(watched);
                auto* button =
                    window != nullptr ? qobject_cast<QPushButton*>(window->focusWidget()) : nullptr;
                if (button != nullptr && button->window() == window &&
                    button->isEnabled() && button->isVisible()) {
                    button->click();
                    return true;
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void ApplyKeyboardConventions(QWidget* window) {
    window->installEventFilter(new EnterPresses(window));
    std::map<QObject*, std::vector<QAbstractButton*>> sets;
    std::vector<QObject*> order;
    for (QRadioButton* r : window->findChildren<QRadioButton*>()) {
        QObject* key = r->group() != nullptr ? static_cast<QObject*>(r->group())
                                             : static_cast<QObject*>(r->parentWidget());
        if (r->group() == nullptr && !r->autoExclusive()) {
            continue;
        }
        if (sets.find(key) == sets.end()) {
            order.push_back(key);
        }
        sets[key].push_back(r);
    }
    for (QObject* key : order) {
        std::vector<QAbstractButton*> radios = sets[key];
        if (auto* group = qobject_cast<QButtonGroup*>(key)) {
            radios.clear();
            for (QAbstractButton* b : group->buttons()) {
                radios.push_back(b);
            }
        }
        new RadioSet(radios, window);
    }
}

void OnUserSelect(QAbstractButton* radio, QObject* context, std::function<void()> handler) {
    static const bool installed = [] {
        QAccessible::installFactory(SendingRadioFactory);
        return true;
    }();
    (void)installed;
    radio->setProperty(kSendsEveryClick, true);
    // An interface made before the property was set is the plain radio's: made again on next use.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(radio);
        made != nullptr && dynamic_cast<SendingRadioAccessible*>(made) == nullptr) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
    QObject::connect(radio, &QAbstractButton::clicked, context,
                     [handler = std::move(handler)] { handler(); });
}

ArrowPair::ArrowPair(Qt::Orientation orientation, QSize arrowSize, QWidget* parent)
    : QWidget(parent) {
    auto* box = new QBoxLayout(
        orientation == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, this);
    box->setContentsMargins(1, 1, 1, 1);  // room for the focus frame
    box->setSpacing(orientation == Qt::Horizontal ? 2 : 0);
    for (int k = 0; k < 2; ++k) {
        auto* b = new QToolButton(this);
        b->setArrowType(k == 0 ? Qt::UpArrow : Qt::DownArrow);
        b->setObjectName(k == 0 ? QStringLiteral("up") : QStringLiteral("down"));
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        if (arrowSize.isValid()) {
            b->setFixedSize(arrowSize);
        }
        box->addWidget(b);
        m_buttons[k] = b;
    }
    setFocusPolicy(Qt::TabFocus);
}

void ArrowPair::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        QToolButton* b = Button(event->key() == Qt::Key_Up);
        if (b->isEnabled()) {
            b->click();
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

void ArrowPair::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void ArrowPair::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

// The focus shows as a frame around both arrows.
void ArrowPair::paintEvent(QPaintEvent*) {
    if (!hasFocus()) {
        return;
    }
    QPainter p(this);
    p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace ui
