// The main window: what the workers, the connection and the scheduler report, and the
// processor's state on screen. Reports come from other threads; everything they change goes to
// the UI thread.
#include "app/MainDlg.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "controls/Colours.h"
#include "controls/Focus.h"
#include "controls/PostBox.h"
#include "controls/Progress.h"
#include "link/PortDiscovery.h"
#include "mosaic/SimpleMosaic.h"
#include "platform/ProfileFile.h"
#include "resources/Captions.h"
#include "resources/ControlIds.h"
#include "resources/PlanTexts.h"
#include "resources/SwitchTexts.h"
#include "schedule/InfoPlan.h"
#include "schedule/PlanFile.h"
#include "schedule/Program.h"
#include "screen/Advanced.h"
#include "screen/SetScreen.h"

namespace {

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

}  // namespace

// ---- what the workers report (worker threads: everything goes to the UI thread) -------------

void CORN302ControlDlg::Post(std::function<void()> change) {
    m_postBox->Post(std::move(change));
}

void CORN302ControlDlg::SetInfo(const QString& text) {
    ControlAs<QLineEdit>(ids::kInfo)->setText(text);
    m_infoShown.restart();
}

void CORN302ControlDlg::InfoText(app::LinkText text) {
    static const res::Msg kTexts[] = {
        res::Msg::OpenComOk,    res::Msg::OpenComFail,  res::Msg::OpenNetOk,
        res::Msg::OpenNetFail,  res::Msg::DeviceNormal, res::Msg::DeviceFailed,
        res::Msg::DeviceSilent, res::Msg::DeviceClosed, res::Msg::PortInUse};
    const res::Msg msg = kTexts[static_cast<int>(text)];
    if (msg == res::Msg::DeviceSilent || msg == res::Msg::DeviceClosed) {
        // The loss follows at once (DeviceLost): its handler says it and puts the lamps out in
        // one step, so the window never says "closed" over lamps still lit.
        m_lostText = static_cast<int>(msg);
        return;
    }
    // The language in force when the text reaches the Info line. A word about a link that the
    // operator let go meanwhile is not shown.
    Post([this, msg, epoch = m_linkEpoch.load()] {
        if (epoch == m_linkEpoch)
            SetInfo(Utf8(res::Text(msg, m_bChinese != 0)));
    });
}

void CORN302ControlDlg::InfoRaw(const std::string& text) {
    Post([this, text, epoch = m_linkEpoch.load()] {
        if (epoch == m_linkEpoch)
            SetInfo(QString::fromStdString(text));
    });
}

void CORN302ControlDlg::InfoReason(int errnoValue) {
    Post([this, errnoValue, epoch = m_linkEpoch.load()] {
        if (epoch != m_linkEpoch)
            return;
        const QString shown = ControlAs<QLineEdit>(ids::kInfo)->text();
        SetInfo(shown + ": " + Utf8(res::ConnectReason(errnoValue, m_bChinese != 0).c_str()));
    });
}

void CORN302ControlDlg::PortOutOfRange() {
    // The connect worker waits for the answer, so that the box is answered before the progress
    // dialog closes; a window going away lets it go. This box keeps English buttons in both
    // languages.
    auto answered = std::make_shared<bool>(false);  // guarded by m_boxMutex
    Post([this, answered] {
        const bool chinese = m_bChinese != 0;
        platform::AskYesNo(res::Text(res::Msg::PortOutOfRange, chinese),
                           res::Text(res::Msg::PortOutOfRangeCaption, chinese),
                           platform::kLangEnglish);
        {
            std::lock_guard<std::mutex> lock(m_boxMutex);
            *answered = true;
        }
        m_boxAnswered.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_boxMutex);
    m_boxAnswered.wait(lock, [&] { return *answered || m_tearingDown; });
}

void CORN302ControlDlg::ConnectFinished(bool accepted) {
    const bool shared = accepted && m_conn.m_bSharedLine;
    Post([this, accepted, shared, epoch = m_linkEpoch.load()] {
        if (epoch != m_linkEpoch)
            return;  // an attempt given up by Disconnect or Connect
        if (m_reconnecting) {
            if (!accepted) {
                ScheduleReconnect();
                return;
            }
            StopReconnecting();
        }
        ShowSharedLine(shared);
        if (shared) {
            const bool chinese = m_bChinese != 0;
            SetInfo(Utf8(res::Text(res::Msg::DeviceNormal, chinese)) + " (" +
                    Utf8(res::Text(res::Msg::SharedLine, chinese)) + ")");
        }
        if (accepted) {
            Control(ids::kConnect)->setEnabled(false);
            m_bNotAnswering = false;
            ShowAlarm();
            // A scheduler started meanwhile (at start-up) keeps the manual controls.
            if (m_bTimerRunning == 0) {
                Control(ids::kDisconnect)->setEnabled(true);
                EnableSwitchControls(true);
            }
        }
    });
    // Safe from any thread; closes the dialog also when it has not appeared yet.
    m_progress->Finish();
}

void CORN302ControlDlg::SwitchControlsEnabled(bool on) {
    Post([this, on] {
        // The focus waits for the control the operator used while its command is on its way.
        if (!on) {
            ui::HoldFocus(this, true);
        }
        EnableSwitchControls(on);
        for (int id : {ids::kM1, ids::kM2, ids::kM3}) {
            Control(id)->setEnabled(on);
        }
        // Back from a command: the buttons the processor's state rules out stay disabled, as the
        // latest status decode said, instead of being usable until the next one.
        if (on && m_lastDisplay) {
            ApplyEnabledStates(*m_lastDisplay);
        }
        if (on) {
            ui::HoldFocus(this, false);
        }
    });
}

void CORN302ControlDlg::StatusReply(const devlink::Frame& reply) {
    // On the worker that read the reply, with the link lock held (it guards the blink set).
    std::optional<app::Display> display;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        display = app::DecodeStatus(reply.data(), m_conn.m_deviceId, m_bChinese != 0,
                                    m_bTimerRunning != 0, m_state, m_conn.BlinkSetLocked());
    }
    if (display) {
        Post([this, d = *display] { ApplyDisplay(d); });
    }
}

void CORN302ControlDlg::DeviceLost(bool closed) {
    // On the worker, link lock held. The next valid reply is decoded as the first of a
    // connection: every lamp and state comes from it, not from before the loss.
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_state = app::DeviceState{};
    }
    Post([this, closed, epoch = m_linkEpoch.load(), said = m_lostText.exchange(-1)] {
        if (epoch != m_linkEpoch)
            return;
        if (said >= 0)
            SetInfo(Utf8(res::Text(static_cast<res::Msg>(said), m_bChinese != 0)));
        OnLinkLost(closed);
        m_bNotAnswering = true;
        ShowAlarm();
    });
}

void CORN302ControlDlg::OnLinkLost(bool closed) {
    ShowNotLive(false);
    if (!m_conn.m_bConnected)
        return;
    const bool serial = m_conn.m_linkMode == 1;
    if (m_bAutoConnect != 0) {
        // As the service does: the link is dropped and made anew, after 1 s, then twice as long
        // each time up to 30 s, until the processor answers or the operator says otherwise.
        ++m_linkEpoch;
        m_conn.Disconnect();
        ShowNotLive(true);
        m_reconnecting = true;
        m_reconnectAttempts = 0;
        m_backoff.Reset();
        ScheduleReconnect();
        return;
    }
    if (closed) {
        // The connection is gone for good: back to idle, Connect is offered again.
        OnDisconnect();
        SetInfo(Utf8(
            res::Text(serial ? res::Msg::DeviceSilent : res::Msg::DeviceClosed, m_bChinese != 0)));
        return;
    }
    // Silent: the polling goes on and the controls come back when it answers again; meanwhile
    // Connect makes the connection anew.
    Control(ids::kConnect)->setEnabled(true);
}

void CORN302ControlDlg::ScheduleReconnect() {
    const int waitMs = m_backoff.Next();
    // Connect connects at once; Disconnect stops the trying (not while the plans run, which
    // keep it as they keep the connection).
    Control(ids::kConnect)->setEnabled(true);
    Control(ids::kDisconnect)->setEnabled(m_bTimerRunning == 0);
    SetInfo(QString::fromStdString(
        res::ReconnectText(waitMs / 1000, m_reconnectAttempts + 1, m_bChinese != 0)));
    m_reconnectTimer->start(waitMs);
}

void CORN302ControlDlg::Reconnect() {
    if (!m_reconnecting)
        return;
    // Not while another window of the program is open over this one (the plans, a message):
    // it is tried again a second later.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != this) {
        m_reconnectTimer->start(app::ReconnectBackoff::kFirstMs);
        return;
    }
    ++m_reconnectAttempts;
    m_lastConnect = ShownConnectSettings();
    m_conn.StartConnect(m_lastConnect);
}

void CORN302ControlDlg::StopReconnecting() {
    m_reconnecting = false;
    m_reconnectTimer->stop();
}

void CORN302ControlDlg::ShowNotLive(bool resetState) {
    if (resetState) {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_state = app::DeviceState{};
    }
    EnableSwitchControls(false);
    for (int id : {ids::kM1, ids::kM2, ids::kM3, ids::kAutoTake}) {
        Control(id)->setEnabled(false);
    }
    for (int lamp : ids::kSourceLamps) {
        SetLampState(lamp, 0);
    }
    for (int lamp : {ids::kPipLamp, ids::kTextLamp, ids::kBypassLamp, ids::kFreezeLamp,
                     ids::kMosaicLamp, ids::kM1Lamp, ids::kM2Lamp, ids::kM3Lamp}) {
        SetLampState(lamp, 0);
    }
    Control(ids::kPreviewLabel)->hide();
    m_lastDisplay.reset();
    // Nothing shown is live: no signal to tell of. The operator's own Disconnect (or the fast
    // mosaic) leaves no device that fails to answer either.
    m_signalLoss.reset();
    if (resetState) {
        m_bNotAnswering = false;
    }
    ShowAlarm();
}

void CORN302ControlDlg::DeviceBack() {
    Post([this, epoch = m_linkEpoch.load()] {
        if (epoch != m_linkEpoch)
            return;
        Control(ids::kConnect)->setEnabled(false);
        m_bNotAnswering = false;
        ShowAlarm();
        if (m_bTimerRunning == 0) {
            EnableSwitchControls(true);
        }
    });
}

void CORN302ControlDlg::LampsVisible(const std::vector<int>& lampIds, bool visible) {
    Post([this, lampIds, visible] {
        for (int id : lampIds) {
            SetLampVisible(id, visible);
        }
    });
}

void CORN302ControlDlg::CollapseTimerPanel() {
    m_bPanelCollapsed = false;
    OnTimerPanel();
}

// ---- the processor's state on screen ---------------------------------------------------------

void CORN302ControlDlg::ApplyDisplay(const app::Display& d) {
    for (const auto& [lamp, state] : d.lamps) {
        SetLampState(lamp, static_cast<int>(state));
    }
    if (d.transitionRadio) {
        CheckOnly(ids::kTransitionRadios, 4,
                  static_cast<int>(std::find(std::begin(ids::kTransitionRadios),
                                             std::end(ids::kTransitionRadios), *d.transitionRadio) -
                                   std::begin(ids::kTransitionRadios)));
    }
    ControlAs<QAbstractButton>(ids::kV2)->setText(Utf8(d.v2Caption));
    const int modes[2] = {ids::kOneKeySwitch, ids::kPreTakeSwitch};
    CheckOnly(modes, 2, d.preTakeMode ? 1 : 0);
    ControlAs<QAbstractButton>(ids::kAutoTake)->setText(Utf8(d.autoTakeCaption));
    int ext = -1;
    for (int i = 0; i < 5; ++i) {
        if (d.extRadio && ids::kExtRadios[i] == *d.extRadio) {
            ext = i;
        }
    }
    CheckOnly(ids::kExtRadios, 5, ext);
    auto* preview = Control(ids::kPreviewLabel);
    if (d.previewLabel) {
        static_cast<QLabel*>(preview)->setText(QString::fromStdString(*d.previewLabel));
        preview->show();
    } else {
        preview->hide();
    }
    ApplyEnabledStates(d);
    m_lastDisplay = d;
    ShowSignalLoss(d.signalLoss);
}

void CORN302ControlDlg::ShowSignalLoss(const std::optional<app::SignalLoss>& loss) {
    const bool chinese = m_bChinese != 0;
    const QString shown = ControlAs<QLineEdit>(ids::kInfo)->text();
    const auto says = [&shown](const std::optional<app::SignalLoss>& l) {
        return l &&
               (shown == QString::fromStdString(res::NoSignalText(l->source, l->onAir, false)) ||
                shown == QString::fromStdString(res::NoSignalText(l->source, l->onAir, true)));
    };
    const bool saysOld = says(m_signalLoss);
    if (loss) {
        const QString text =
            QString::fromStdString(res::NoSignalText(loss->source, loss->onAir, chinese));
        // The line's state texts give way at once; another message after a while.
        const bool stateText = saysOld || shown == Utf8(res::Text(res::Msg::DeviceNormal, false)) ||
                               shown == Utf8(res::Text(res::Msg::DeviceNormal, true));
        const bool begins = loss != m_signalLoss;
        if (shown != text && (begins || stateText || m_infoShown.elapsed() >= kMessageHoldMs)) {
            SetInfo(text);
            m_bAlarmShown = false;  // told again
        }
    } else if (saysOld) {
        SetInfo(Utf8(res::Text(res::Msg::DeviceNormal, chinese)));
    }
    m_signalLoss = loss;
    ShowAlarm();
}

void CORN302ControlDlg::ShowAlarm() {
    const bool on = m_bNotAnswering || m_signalLoss.has_value();
    QWidget* info = Control(ids::kInfo);
    if (info->property("alarm").toBool() != on) {
        ui::PaintAlarm(info, on);
        info->setProperty("alarm", on);
    }
    info->setAccessibleDescription(on ? Utf8(res::AlarmDescription(m_bChinese != 0)) : QString());
    if (on && !m_bAlarmShown) {
        // A screen reader tells an alert at once, wherever the focus is.
        QAccessibleEvent alert(info, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
    m_bAlarmShown = on;
}

void CORN302ControlDlg::ApplyEnabledStates(const app::Display& d) {
    // While the scheduler runs, only it changes sources: the manual controls stay disabled.
    const bool manual = m_bTimerRunning == 0;
    for (int id : {ids::kM1, ids::kM2, ids::kM3}) {
        Control(id)->setEnabled(manual && d.presetsEnabled);
    }
    Control(ids::kAutoTake)->setEnabled(manual && d.autoTakeEnabled);
    if (d.functionButtons) {
        const app::FunctionButtons& f = *d.functionButtons;
        Control(ids::kMosaicFn)->setEnabled(f.mosaic);
        Control(ids::kBypass)->setEnabled(f.bypass);
        Control(ids::kFreeze)->setEnabled(f.freeze);
        Control(ids::kPipPbp)->setEnabled(f.pip);
        Control(ids::kText)->setEnabled(f.text);
        Control(ids::kOneKeySwitch)->setEnabled(f.switchMode);
        Control(ids::kPreTakeSwitch)->setEnabled(f.switchMode);
    }
}

void CORN302ControlDlg::TimerFieldsChanged(const TimerFields& fields) {
    Post([this, fields] {
        // Texts still on their way when the scheduler stopped are not shown.
        if (m_bTimerRunning == 0) {
            return;
        }
        const TimerGroup* groups[2] = {&fields.current, &fields.next};
        const int* ids[2] = {ids::kCurrentValues, ids::kNextValues};
        for (int g = 0; g < 2; ++g) {
            const std::string* texts[4] = {&groups[g]->time, &groups[g]->signal, &groups[g]->status,
                                           &groups[g]->result};
            for (int i = 0; i < 4; ++i) {
                ControlAs<QLineEdit>(ids[g][i])->setText(QString::fromStdString(*texts[i]));
            }
        }
    });
}

void CORN302ControlDlg::PlanMissed(const PlanItem& plan, bool noLink) {
    Post([this, plan, noLink] {
        const bool chinese = m_bChinese != 0;
        SetInfo(QString::fromStdString(
            res::PlanMissedText(FormatClock(plan.time), SourceName(plan.source), noLink, chinese)));
    });
}

void CORN302ControlDlg::PlanMoved(const PlanItem& plan, int64_t moment) {
    Post([this, plan, moment] {
        const bool chinese = m_bChinese != 0;
        SetInfo(QString::fromStdString(res::PlanMovedText(
            FormatClock(plan.time), FormatClock(moment), SourceName(plan.source), chinese)));
    });
}

void CORN302ControlDlg::PlanFileChanged(bool gone) {
    Post([this, gone] {
        const bool chinese = m_bChinese != 0;
        SetInfo(
            Utf8(gone ? res::SchedulerFileGoneText(chinese) : res::SchedulerReloadedText(chinese)));
    });
}

void CORN302ControlDlg::PlanFileError(const std::string& text) {
    Post([this, text] {
        const bool chinese = m_bChinese != 0;
        platform::AskYesNo(text, res::Text(res::Msg::SystemInformation, chinese),
                           res::LanguageId(chinese));
    });
}
