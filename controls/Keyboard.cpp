#include "controls/Keyboard.h"

#include "controls/Focus.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionFocusRect>
#include <QTimer>
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

const char kCommitsOnChoice[] = "commitsOnChoice";

// A list that acts on the entry chosen: keys and the wheel browse, Enter, Space, a pick in the
// open list and the accessibility action commit (Keyboard.h).
class CommittingList : public QObject {
public:
    CommittingList(QComboBox* list, std::function<void(int)> commit)
        : QObject(list),
          m_list(list),
          m_commit(std::move(commit)),
          m_inForce(list->currentIndex()) {
        setObjectName(QLatin1String(kName));
        list->installEventFilter(this);
        // Made now, so that the open list's own handling of its keys comes after this filter.
        list->view()->installEventFilter(this);
        connect(list, &QComboBox::currentIndexChanged, this, [this](int i) { Changed(i); });
        connect(list, &QComboBox::activated, this, [this](int i) { Picked(i); });
    }

    static constexpr const char* kName = "committingList";
    static CommittingList* Of(QComboBox* list) {
        return static_cast<CommittingList*>(
            list->findChild<QObject*>(QLatin1String(kName), Qt::FindDirectChildrenOnly));
    }

    // Enter, Space and the accessibility action: the entry shown, unless it is in force.
    void CommitShown() {
        const int i = m_list->currentIndex();
        if (i >= 0 && i != m_inForce) {
            Commit(i);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_list) {
            return ListEvent(event);
        }
        // The list is being built or torn down: not yet, or no longer, a QComboBox.
        if (qobject_cast<QComboBox*>(static_cast<QObject*>(m_list)) == nullptr)
            return false;
        if (watched == m_list->view() && event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
            // Space in the open list picks the entry highlighted, as Enter does.
            const int row = m_list->view()->currentIndex().row();
            m_list->hidePopup();
            if (row >= 0) {
                m_list->setCurrentIndex(row);
                Picked(row);
            }
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool ListEvent(QEvent* event) {
        switch (event->type()) {
            case QEvent::KeyPress: {
                auto* key = static_cast<QKeyEvent*>(event);
                const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
                switch (key->key()) {
                    case Qt::Key_Up:
                    case Qt::Key_Down:
                        if (mods & Qt::AltModifier) {
                            return false;  // opens the list
                        }
                        [[fallthrough]];
                    case Qt::Key_PageUp:
                    case Qt::Key_PageDown:
                    case Qt::Key_Home:
                    case Qt::Key_End:
                        Browse(event);
                        return true;
                    case Qt::Key_Space:
                    case Qt::Key_Return:
                    case Qt::Key_Enter:
                        if (mods == Qt::NoModifier) {
                            CommitShown();
                            return true;
                        }
                        return false;
                    case Qt::Key_Escape:
                        if (m_list->currentIndex() != m_inForce) {
                            Revert();
                            return true;
                        }
                        return false;
                    default:
                        // Typing an entry's first letters moves to it.
                        if ((mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ==
                                0 &&
                            !key->text().isEmpty() && key->text().at(0).isPrint()) {
                            Browse(event);
                            return true;
                        }
                        return false;
                }
                return false;
            }
            case QEvent::FocusOut:
                // The focus moved on in the window; not a popup (its own open list) or another
                // window taking the focus for a while.
                if (m_list->window()->focusWidget() != m_list) {
                    Revert();
                }
                return false;
            case QEvent::Wheel:
                // A wheel turned over a list without the focus scrolls nothing here.
                if (m_list->hasFocus()) {
                    Browse(event);
                } else {
                    event->ignore();
                }
                return true;
            default:
                return false;
        }
    }

    // The list's own handling of a key or the wheel moves the entry shown; nothing commits.
    void Browse(QEvent* event) {
        m_browsing = true;
        static_cast<QObject*>(m_list)->event(event);
        m_browsing = false;
    }
    void Revert() {
        if (m_list->currentIndex() != m_inForce) {
            m_browsing = true;
            m_list->setCurrentIndex(m_inForce);
            m_browsing = false;
        }
    }
    // The program's choice, or the first half of a pick in the open list (Picked follows at
    // once, before this turn of the event loop ends).
    void Changed(int i) {
        if (m_browsing) {
            return;
        }
        if (!m_changing) {
            m_changeFrom = m_inForce;
            m_changing = true;
            QTimer::singleShot(0, this, [this] { m_changing = false; });
        }
        m_inForce = i;
    }
    void Picked(int i) {
        if (m_browsing) {
            return;
        }
        const int before = m_changing ? m_changeFrom : m_inForce;
        m_changing = false;
        m_inForce = i;
        if (i >= 0 && i != before) {
            Commit(i);
        }
    }
    void Commit(int i) {
        m_inForce = i;
        m_commit(i);
    }

    QComboBox* m_list;
    std::function<void(int)> m_commit;
    int m_inForce;
    int m_changeFrom = -1;
    bool m_changing = false;
    bool m_browsing = false;
};

// The accessibility of such a list: "select" commits the entry shown, as a click on it does;
// the open list's entries are its child.
class CommittingListAccessible : public QAccessibleWidget {
public:
    explicit CommittingListAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}

    QComboBox* List() const { return static_cast<QComboBox*>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return List()->currentText();
        }
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(List()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == List()->view() ? 0 : -1;
    }
    QStringList actionNames() const override {
        if (!widget()->isEnabled()) {
            return {};
        }
        return {QString::fromLatin1(kSelectAction), QAccessibleActionInterface::showMenuAction()};
    }
    void doAction(const QString& action) override {
        if (!widget()->isEnabled()) {
            return;
        }
        if (action == QLatin1String(kSelectAction)) {
            if (CommittingList* c = CommittingList::Of(List())) {
                c->CommitShown();
            }
        } else if (action == QAccessibleActionInterface::showMenuAction()) {
            List()->showPopup();
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* CommittingListFactory(const QString& className, QObject* object) {
    auto* list = qobject_cast<QComboBox*>(object);
    if (list != nullptr && className == QLatin1String("QComboBox") &&
        list->property(kCommitsOnChoice).toBool()) {
        return new CommittingListAccessible(list);
    }
    return nullptr;
}

// An interface made for w before its accessibility changed is made again on next use.
template <typename Wanted>
void RemakeAccessible(QWidget* w) {
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(w);
        made != nullptr && dynamic_cast<Wanted*>(made) == nullptr) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
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
            const int step = (key == Qt::Key_Down || key == Qt::Key_Right) ? 1
                             : (key == Qt::Key_Up || key == Qt::Key_Left)  ? -1
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
                if (button != nullptr && button->window() == window && button->isEnabled() &&
                    button->isVisible()) {
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
    if (window->findChild<FocusKeeper*>(QString(), Qt::FindDirectChildrenOnly) == nullptr) {
        new FocusKeeper(window);
    }
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
    RemakeAccessible<SendingRadioAccessible>(radio);
    QObject::connect(radio, &QAbstractButton::clicked, context,
                     [handler = std::move(handler)] { handler(); });
}

void OnCommit(QComboBox* list, QObject* context, std::function<void(int index)> commit) {
    static const bool installed = [] {
        QAccessible::installFactory(CommittingListFactory);
        return true;
    }();
    (void)installed;
    list->setProperty(kCommitsOnChoice, true);
    RemakeAccessible<CommittingListAccessible>(list);
    // The commit runs only while context lives.
    QPointer<QObject> alive(context);
    new CommittingList(list, [alive, commit = std::move(commit)](int index) {
        if (alive) {
            commit(index);
        }
    });
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
