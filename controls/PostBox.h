// How a worker hands a change to the UI thread: each window owns a PostBox, and a worker posts
// the change there as an event; the UI thread runs it in turn with the window's other events.
// A change still queued when the window goes is dropped with it.
//
// Qt is not built for the thread sanitizer, so the sanitizer cannot see the lock inside Qt's
// event queue that orders the posting before the running. The hand-over says so itself: the
// event is released once it is whole, and the UI thread acquires it before touching it. Only
// the hand-over is ordered: what a worker writes after posting is still checked against what
// the change reads.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <functional>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define ORN312_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORN312_TSAN 1
#endif
#endif

#ifdef ORN312_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace ui {

namespace detail {

inline void HandOverRelease(void* at) {
#ifdef ORN312_TSAN
    __tsan_release(at);
#else
    (void)at;
#endif
}

inline void HandOverAcquire(void* at) {
#ifdef ORN312_TSAN
    __tsan_acquire(at);
#else
    (void)at;
#endif
}

// A change on its way: released at its own address when constructed, acquired there before it
// runs or, when it never runs, before it is destroyed.
class ChangeEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit ChangeEvent(std::function<void()> change)
        : QEvent(Kind()), m_change(std::move(change)) {
        HandOverRelease(this);
    }
    ~ChangeEvent() override { HandOverAcquire(this); }
    void Run() { m_change(); }

private:
    std::function<void()> m_change;
};

}  // namespace detail

class PostBox : public QObject {
public:
    // Lives on the thread of owner (the window's, the UI thread), and goes with it.
    explicit PostBox(QObject* owner) : QObject(owner) {}

    // Runs change on the UI thread; any thread may call it.
    void Post(std::function<void()> change) {
        QCoreApplication::postEvent(this, new detail::ChangeEvent(std::move(change)));
    }

protected:
    bool event(QEvent* e) override {
        // Before anything of the event is read: a change posted by a worker is whole here.
        detail::HandOverAcquire(e);
        if (e->type() == detail::ChangeEvent::Kind()) {
            static_cast<detail::ChangeEvent*>(e)->Run();
            return true;
        }
        return QObject::event(e);
    }
};

}  // namespace ui
