// Runs a dialog's link sequence off the UI thread. While it runs the dialog takes no input (its
// controls are disabled, the wait cursor shows) but keeps painting; the controls kept usable
// (Exit) stop it at its next step. The sequence waits for the main window's workers to leave the
// link (they are paused around the dialog) before its first frame, so the UI thread never waits
// for the link lock. One runner per dialog, one sequence at a time.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "device/Sequence.h"
#include "controls/PostBox.h"
#include "platform/Clock.h"

namespace app {
class Connection;
}

namespace ui {

class SequenceRunner : public QObject {
    Q_OBJECT

public:
    // Makes the link a sequence runs on; stop ends the sequence.
    using LinkFactory = std::function<std::unique_ptr<app::SequenceLink>(platform::StopFlag& stop)>;
    using Work = std::function<void(app::SequenceLink&)>;

    SequenceRunner(QWidget* window, LinkFactory makeLink);
    // Over the main window's connection, with frames for deviceId.
    SequenceRunner(QWidget* window, app::Connection& connection, uint8_t deviceId);
    ~SequenceRunner() override;

    // A control that stays usable while a sequence runs (the dialog's Exit).
    void KeepEnabled(QWidget* control);
    // A control whose property kKeepsLook is true is held without being disabled, so that it
    // keeps its look (the mosaic grid's selected screen stays green): the mouse and keys do
    // nothing to it until the sequence ends; its owner also checks Busy() for other ways in.
    static constexpr const char* kKeepsLook = "heldKeepsLook";

    // Starts work on its own thread and returns at once; false when one is running already.
    // done runs on the UI thread after work has ended, unless the sequence was stopped.
    bool Start(Work work, std::function<void()> done = {});
    bool Busy() const { return m_busy; }
    // In done: whether a frame of the sequence that just ended did not go out (a failed write,
    // a connection the device closed). A dialog then says the action failed, never that it
    // succeeded.
    bool LastFailed() const { return m_lastFailed; }
    // Runs on the UI thread whenever a sequence ends, however it ends: done, stopped (Exit,
    // Escape, the dialog closed) or the runner destroyed. A wait box that a dialog shows for a
    // sequence is closed here, so that it never outlives the work or the dialog.
    void OnEnd(std::function<void()> ended) { m_ended = std::move(ended); }
    // Stops the running sequence at its next step and waits for it (a short wait: every wait
    // inside a sequence gives up at once on a stop). Its done does not run.
    void Stop();
    // From the sequence's thread: runs change on the UI thread, unless the sequence has been
    // stopped or the runner is gone by then.
    void Post(std::function<void()> change);

private:
    void HoldInput();
    void ReleaseInput();

    PostBox* m_box;  // the hand-over to the UI thread, owned by this runner
    QObject* m_shield;  // swallows the input of held controls that keep their look, owned
    QPointer<QWidget> m_window;
    LinkFactory m_makeLink;
    std::vector<QPointer<QWidget>> m_keep;
    std::vector<QPointer<QWidget>> m_held;  // controls this runner disabled
    std::vector<QPointer<QWidget>> m_shielded;  // controls held that keep their look
    platform::StopFlag m_stop;
    std::thread m_thread;
    bool m_busy = false;
    bool m_lastFailed = false;
    std::function<void()> m_ended;
    // Changes when a sequence starts or is stopped: what a stopped sequence posted is dropped.
    std::atomic<int> m_generation{0};
};

}  // namespace ui
