#include "controls/SequenceRunner.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <algorithm>

#include "controls/Focus.h"
#include "device/Connection.h"

namespace ui {

namespace {

// Swallows the mouse and the keys of the controls held that keep their look.
class InputShield : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Shortcut:
                return true;
            default:
                return QObject::eventFilter(watched, event);
        }
    }
};

}  // namespace

SequenceRunner::SequenceRunner(QWidget* window, LinkFactory makeLink)
    : QObject(window),
      m_box(new PostBox(this)),
      m_shield(new InputShield(this)),
      m_window(window),
      m_makeLink(std::move(makeLink)) {}

SequenceRunner::SequenceRunner(QWidget* window, app::Connection& connection, uint8_t deviceId)
    : SequenceRunner(window, [&connection, deviceId](platform::StopFlag& stop) {
          return std::make_unique<app::ConnectionSequenceLink>(connection, deviceId, stop);
      }) {}

SequenceRunner::~SequenceRunner() {
    Stop();
}

void SequenceRunner::KeepEnabled(QWidget* control) {
    m_keep.emplace_back(control);
}

bool SequenceRunner::Start(Work work, std::function<void()> done) {
    if (m_busy) {
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join();  // a sequence that ended; its done is queued or ran
    }
    m_stop.Reset();
    const int generation = ++m_generation;
    m_busy = true;
    HoldInput();
    m_lastFailed = false;
    m_thread = std::thread([this, generation, work = std::move(work), done = std::move(done)] {
        bool failed = false;
        {
            const std::unique_ptr<app::SequenceLink> link = m_makeLink(m_stop);
            work(*link);
            failed = link->Failed();
        }
        m_box->Post([this, generation, done, failed] {
            if (generation != m_generation) {
                return;  // stopped meanwhile
            }
            m_lastFailed = failed;
            if (m_thread.joinable()) {
                m_thread.join();
            }
            m_busy = false;
            ReleaseInput();
            if (m_ended) {
                m_ended();
            }
            if (done) {
                done();
            }
        });
    });
    return true;
}

void SequenceRunner::Stop() {
    ++m_generation;
    m_stop.Request();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_busy) {
        m_busy = false;
        ReleaseInput();
        if (m_ended) {
            m_ended();
        }
    }
}

void SequenceRunner::Post(std::function<void()> change) {
    const int generation = m_generation;
    m_box->Post([this, generation, change = std::move(change)] {
        if (generation == m_generation) {
            change();
        }
    });
}

void SequenceRunner::HoldInput() {
    if (!m_window) {
        return;
    }
    // The control the operator used gets the focus back when the sequence ends.
    HoldFocus(m_window, true);
    const auto kept = [this](QWidget* w) {
        return std::any_of(m_keep.begin(), m_keep.end(),
                           [w](const QPointer<QWidget>& k) { return k == w; });
    };
    for (QWidget* w : m_window->findChildren<QWidget*>()) {
        const bool input = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                           qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                           w->focusPolicy() != Qt::NoFocus;
        if (input && w->isEnabled() && !kept(w) && w->parentWidget() != nullptr &&
            !qobject_cast<QLineEdit*>(w->parentWidget()) &&
            !qobject_cast<QAbstractSpinBox*>(w->parentWidget()) &&
            !qobject_cast<QComboBox*>(w->parentWidget())) {
            if (w->property(kKeepsLook).toBool()) {
                w->installEventFilter(m_shield);
                m_shielded.emplace_back(w);
                continue;
            }
            w->setEnabled(false);
            m_held.emplace_back(w);
        }
    }
    m_window->setCursor(Qt::WaitCursor);
    for (const auto& k : m_keep) {
        if (k) {
            k->setCursor(Qt::ArrowCursor);
        }
    }
}

void SequenceRunner::ReleaseInput() {
    for (const auto& w : m_held) {
        if (w) {
            w->setEnabled(true);
        }
    }
    m_held.clear();
    for (const auto& w : m_shielded) {
        if (w) {
            w->removeEventFilter(m_shield);
        }
    }
    m_shielded.clear();
    if (m_window) {
        m_window->unsetCursor();
        HoldFocus(m_window, false);
    }
}

}  // namespace ui
