// Where the keyboard focus goes when the program disables the control that has it, and how the
// focus shows. Every window that applies the keyboard conventions gets both:
// - A control disabled under the focus (a command on its way, a link sequence, the processor's
//   state) keeps the focus in its own group: the focus waits there, on no control, and returns to
//   it when it is usable again. A control that stays disabled hands the focus to its nearest usable
//   neighbour in its group (its group box, or else the row of its layout), never to another
//   group. Qt's own move to the next control in the window, which let a Space meant for a source
//   button untick a plan kind, never stands.
// - The focused control carries a ring drawn around it, outside its edge, in a colour that reads
//   against the window (light and dark palettes), so the focus shows on coloured boxes too.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace ui {

// While held, a control disabled under the focus is taken as coming back (a command on its way,
// a link sequence): the focus waits in its group. At the release, a control still disabled hands
// the focus to its nearest usable neighbour in the group. No effect on a window without the
// keyboard conventions.
void HoldFocus(QWidget* window, bool held);

// The control the focus waits for in window, or nullptr when it is not waiting.
QWidget* FocusWaitsFor(QWidget* window);

// The focus ring: a band around one control, beneath it among its siblings, following it.
class FocusRing : public QWidget {
    Q_OBJECT

public:
    static constexpr int kGap = 1;    // between the control's edge and the ring
    static constexpr int kWidth = 2;  // of the ring

    explicit FocusRing(QWidget* parent);
    // Rings w (nullptr: none).
    void Follow(QWidget* w);
    QWidget* Target() const { return m_target; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Place();

    QPointer<QWidget> m_target;
};

// Keeps one window's focus (installed by ApplyKeyboardConventions).
class FocusKeeper : public QObject {
    Q_OBJECT

public:
    explicit FocusKeeper(QWidget* window);
    void Hold(bool held);
    QWidget* WaitsFor() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FocusChanged(QWidget* old, QWidget* now);
    void Watch(QWidget* w);
    void SetAnchor(QWidget* w);
    void Park();
    void QueueSettle();
    void Settle();
    void MoveFocus(QWidget* to);
    void ShowRing(QWidget* w);
    QWidget* Neighbour() const;

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_watched;  // the window's focus widget, whose disabling we see
    QPointer<QWidget> m_anchor;   // the control the focus waits for
    QPointer<QWidget> m_park;     // where the focus waits: a control-less spot in the group
    QPointer<FocusRing> m_ring;
    bool m_held = false;
    bool m_settleQueued = false;
    bool m_moving = false;  // the keeper moves the focus itself
};

}  // namespace ui
