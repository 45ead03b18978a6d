// The screen settings dialog: the busy lock, and what its readback, layout and Save sequences
// hand back.
#include "screen/SetScreen.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

#include "device/Sequence.h"
#include "link/Commands.h"
#include "resources/SetScreenIds.h"
#include "screen/SetScreenParts.h"

using namespace screen;
using namespace screen::parts;

// ---- the busy lock, the readback, the layout ----------------------------------------------------

void CSetScreen::EnableSaveControls(bool enable) {
    for (int id : sids::kBusyLocked) {
        Control(id)->setEnabled(enable);
    }
    const int pipControls[4] = {sids::kPipSave, sids::kLayoutRadios[0], sids::kLayoutRadios[1],
                                sids::kLayoutRadios[2]};
    if (m_opening.pipOpen) {
        Control(sids::kMainSave)->setEnabled(enable && !m_opening.mosaic);
        for (int id : pipControls) {
            Control(id)->setEnabled(enable);
        }
    } else {
        Control(sids::kMainSave)->setEnabled(false);
        for (int id : pipControls) {
            Control(id)->setEnabled(false);
        }
    }
}

void CSetScreen::RefreshFromDevice() {
    EnableSaveControls(false);
    const uint8_t layoutCode = m_layoutCode;
    // The Info line says what the dialog is waiting for, then shows its last result again.
    QLineEdit* info = Box(sids::kInfo);
    const QString lastResult = info->text();
    const bool started = m_runner->Start(
        [this, layoutCode](app::SequenceLink& link) {
            screen::RefreshFromDevice(link, layoutCode, [this](const Readback& r) {
                m_runner->Post([this, r] { ApplyReadback(r); });
            });
        },
        [this, info, lastResult] {
            info->setText(lastResult);
            for (int id : sids::kNumericBoxes) {
                SetModified(id, false);
            }
            EnableSaveControls(true);
        });
    if (started) {
        info->setText(Utf8(res::ScreenText(res::ScreenMsg::Reading, m_opening.chinese)));
    } else {
        EnableSaveControls(true);
    }
}

void CSetScreen::OnRefresh() {
    RefreshFromDevice();
}

void CSetScreen::ApplyReadback(const Readback& r) {
    Filling([&] {
        if (r.resolution) {
            if (const std::optional<Size> size = r.OutputSize()) {
                m_outputWidth = size->width;
                m_outputHeight = size->height;
            }
            const devlink::WindowReply& o = r.resolution->output;
            g_windowGeometry[kOutput] = {o.w, o.h, o.hs, o.vs};
            ShowGeometry(kOutput);
            UpdatePreview(kOutput);
            const QString size = QStringLiteral("(%1,%2)").arg(m_outputWidth).arg(m_outputHeight);
            for (Window w : {kMain, kInput, kOutput}) {
                ui::SetCaption(Control(sids::kGeometry[w].sizeLabel), size);
            }
        }
        const std::pair<const std::optional<devlink::WindowReply>*, Window> windows[2] = {
            {&r.main, kMain}, {&r.pip, kPip}};
        for (const auto& [reply, which] : windows) {
            if (*reply) {
                g_windowGeometry[which] = {(*reply)->w, (*reply)->h, (*reply)->hs, (*reply)->vs};
                ShowGeometry(which);
                UpdatePreview(which);
            }
        }
        if (r.mosaic) {
            CheckRadio(std::array{sids::kNoSyncMosaic, sids::kSyncMosaic}.data(), 2,
                       r.mosaic->syncMosaic ? 1 : 0);
            const devlink::WindowReply& in = r.mosaic->input;
            g_windowGeometry[kInput] = {in.w, in.h, in.hs, in.vs};
            ShowGeometry(kInput);
            UpdatePreview(kInput);
        }
        if (r.picture) {
            const devlink::PictureAudioReply& p = *r.picture;
            FillBox(sids::kBrightness, p.brightness);
            FillBox(sids::kBias, p.bias);
            CheckRadio(std::array{sids::kNormal, sids::kSharp}.data(), 2, p.sharpness == 0 ? 0 : 1);
            // A source code without a list entry (9..15) leaves the list without a selection.
            ControlAs<QComboBox>(sids::kAudio1)->setCurrentIndex(AudioEntryOfCode(p.audio1));
            ControlAs<QComboBox>(sids::kAudio2)->setCurrentIndex(AudioEntryOfCode(p.audio2));
            for (int b = 0; b < 3; ++b) {
                ControlAs<QAbstractButton>(sids::kHotSpareBoxes[b])
                    ->setChecked((p.hotSpare >> b) & 1);
            }
            m_bBrightness100 = p.brightness100;
            ui::SetCaption(Control(sids::kBrightnessRange),
                           Utf8(res::BrightnessRangeText(m_bBrightness100 != 0)));
        }
        if (r.textKey) {
            // A threshold other than 0 or 1 has no radio: neither is selected.
            CheckRadio(sids::kThresholdRadios, 2, r.textKey->threshold);
            FillBox(sids::kKeyColours[0], r.textKey->red);
            FillBox(sids::kKeyColours[1], r.textKey->green);
            FillBox(sids::kKeyColours[2], r.textKey->blue);
        }
        if (r.colour) {
            for (int row = 0; row < 7; ++row) {
                FillBox(sids::kColourRows[row].edit, r.colour->values[row]);
            }
        }
    });
}

void CSetScreen::OnLayout(int n) {
    EnableSaveControls(false);
    const bool pipOpen = m_opening.pipOpen;
    auto result = std::make_shared<LayoutGeometry>();
    const bool started = m_runner->Start(
        [n, pipOpen, result](app::SequenceLink& link) { *result = ChangeLayout(link, n, pipOpen); },
        [this, n, result] {
            Filling([&] {
                if (result->main) {
                    const devlink::WindowReply& m = *result->main;
                    g_windowGeometry[kMain] = {m.w, m.h, m.hs, m.vs};
                    ShowGeometry(kMain);
                    UpdatePreview(kMain);
                }
                if (result->pip) {
                    const devlink::WindowReply& p = *result->pip;
                    g_windowGeometry[kPip] = {p.w, p.h, p.hs, p.vs};
                    ShowGeometry(kPip);
                    UpdatePreview(kPip);
                }
            });
            for (Window w : {kMain, kPip}) {
                for (int id : GeometryBoxes(w)) {
                    SetModified(id, false);
                }
            }
            m_layoutCode = static_cast<uint8_t>(devlink::kLayoutM1 + n);
            if (m_runner->LastFailed()) {
                ShowSetOk();
            }
            EnableSaveControls(true);
        });
    if (!started) {
        EnableSaveControls(true);
    }
}

void CSetScreen::FinishGeometrySave(Window which) {
    if (which == kMain || which == kPip) {
        UpdatePreview(kMain);
        UpdatePreview(kPip);
    } else {
        UpdatePreview(which);
    }
    for (int id : GeometryBoxes(which)) {
        SetModified(id, false);
    }
    EnableSaveControls(true);
}

void CSetScreen::ShowGeometry(Window which) {
    const WindowGeometry& g = g_windowGeometry[which];
    const sids::GeometryIds& ids = sids::kGeometry[which];
    FillBox(ids.w, g.w);
    FillBox(ids.hs, g.hs);
    FillBox(ids.h, g.h);
    FillBox(ids.vs, g.vs);
}

void CSetScreen::UpdatePreview(Window which) {
    const QWidget* frame = Control(sids::kGeometry[which].frame);
    const Rect r = PreviewRect(frame->width(), frame->height(), {m_outputWidth, m_outputHeight},
                               g_windowGeometry[which]);
    QWidget* rect = Control(sids::kGeometry[which].rect);
    rect->setGeometry(r.left, r.top, r.width, r.height);
    rect->update();
}

void CSetScreen::SendSetting(std::function<devlink::Frame(uint8_t id)> command,
                             std::vector<int> boxes, bool busyLock, bool info) {
    if (busyLock) {
        EnableSaveControls(false);
    }
    const bool started = m_runner->Start(
        [command](app::SequenceLink& link) { screen::SendSetting(link, command(link.DeviceId())); },
        [this, boxes, busyLock, info] {
            if (info || m_runner->LastFailed()) {
                ShowSetOk();
            }
            for (int id : boxes) {
                SetModified(id, false);
            }
            if (busyLock) {
                EnableSaveControls(true);
            }
        });
    if (!started && busyLock) {
        EnableSaveControls(true);
    }
}

void CSetScreen::FillBox(int id, int value) {
    Filling([&] { Box(id)->setText(QString::number(value)); });
}

void CSetScreen::CheckRadio(const int* ids, int count, int index) {
    Filling([&] {
        if (index >= 0 && index < count) {
            ControlAs<QAbstractButton>(ids[index])->setChecked(true);
            return;
        }
        for (int i = 0; i < count; ++i) {
            auto* b = ControlAs<QAbstractButton>(ids[i]);
            QButtonGroup* set = b->group();
            if (set != nullptr) {
                set->setExclusive(false);
            }
            b->setChecked(false);
            if (set != nullptr) {
                set->setExclusive(true);
            }
        }
    });
}

void CSetScreen::Filling(const std::function<void()>& change) {
    const bool was = m_filling;
    m_filling = true;
    change();
    m_filling = was;
}

void CSetScreen::ShowSetOk() {
    // A frame that did not go out is never told as set.
    const res::ScreenMsg text =
        m_runner->LastFailed() ? res::ScreenMsg::SetFailed : res::ScreenMsg::SetOk;
    Box(sids::kInfo)->setText(Utf8(res::ScreenText(text, m_opening.chinese)));
}
