// The screen settings dialog: opening, and one handler per control.
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
#include "platform/BoxNumber.h"
#include "resources/SetScreenIds.h"
#include "screen/SetScreenParts.h"

using namespace screen;
using namespace screen::parts;

CSetScreen::CSetScreen(QWidget* parent, const OpeningValues& values, app::Connection& connection)
    : CSetScreen(parent, values, [&connection, id = values.deviceId](platform::StopFlag& stop) {
          return std::make_unique<app::ConnectionSequenceLink>(connection, id, stop);
      }) {}

CSetScreen::CSetScreen(QWidget* parent, const OpeningValues& values,
                       ui::SequenceRunner::LinkFactory makeLink)
    : QDialog(parent), m_opening(values) {
    m_runner = new ui::SequenceRunner(this, std::move(makeLink));
    BuildControls();
    AddFileButtons();
    ConnectHandlers();
    m_runner->KeepEnabled(Control(sids::kExit));
    OnInitDialog();
}

CSetScreen::~CSetScreen() {
    m_runner->Stop();
}

void CSetScreen::done(int result) {
    m_runner->Stop();
    QDialog::done(result);
}

void CSetScreen::Register(int id, QWidget* w) {
    ui::RegisterControl(m_controls, id, w);
}

QLineEdit* CSetScreen::Box(int id) const {
    return ControlAs<QLineEdit>(id);
}

bool CSetScreen::Modified(int boxId) const {
    const int i = NumericIndex(boxId);
    return i >= 0 && m_modified[i];
}

// ---- opening -----------------------------------------------------------------------------------

void CSetScreen::OnInitDialog() {
    m_bLinkUp = m_opening.connected;
    m_bSourceIsDvi = m_opening.dviMain;
    m_bMosaicOn = m_opening.mosaic;
    m_bBypassOn = m_opening.bypass;

    // The tooltips of the geometry boxes are attached as they are built.
    if (m_opening.pipPreset >= 0 && m_opening.pipPreset <= 2) {
        Filling([&] { CheckRadio(sids::kLayoutRadios, 3, m_opening.pipPreset); });
        m_layoutCode = static_cast<uint8_t>(devlink::kLayoutM1 + m_opening.pipPreset);
    }
    ApplyCaptions();
    Control(sids::kInputSave)->setEnabled(m_bSourceIsDvi && m_bMosaicOn && !m_bBypassOn);
    for (int id : {sids::kBrightness, sids::kBrightnessSave, sids::kBrightnessReset}) {
        Control(id)->setEnabled(!m_opening.textOpen);
    }
    if (m_opening.mosaic) {
        Control(sids::kMainSave)->setEnabled(false);
    }
    if (!m_opening.pipOpen) {
        for (int id : {sids::kMainSave, sids::kPipSave, sids::kLayoutRadios[0],
                       sids::kLayoutRadios[1], sids::kLayoutRadios[2]}) {
            Control(id)->setEnabled(false);
        }
    }
    const bool overlay = m_opening.pipOpen || m_opening.textOpen;
    Control(sids::kV2Radio)->setEnabled(!overlay);
    Control(sids::kYPbPrRadio)->setEnabled(!overlay);
    Filling([&] {
        ControlAs<QAbstractButton>(m_opening.v2IsYPbPr ? sids::kYPbPrRadio : sids::kV2Radio)
            ->setChecked(true);
    });
    // The previews show the geometry kept from the last opening until the device is read.
    for (Window w : {kInput, kOutput, kMain, kPip}) {
        UpdatePreview(w);
    }
}

void CSetScreen::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The readback starts when the dialog first shows: by then the main window's workers are
    // off the link, and the enabled states of the opening are in place when its busy lock takes
    // over. The link discards whatever waits unread before each question, so no stale reply is
    // taken for an answer.
    if (!m_shown) {
        m_shown = true;
        if (m_opening.connected) {
            RefreshFromDevice();
        }
    }
}

// ---- geometry ----------------------------------------------------------------------------------

void CSetScreen::SaveWindowGeometry(Window which) {
    EnableSaveControls(false);
    const std::array<int, 4> boxes = GeometryBoxes(which);
    const auto value = [&](int f) {
        return platform::BoxNumber(Box(boxes[f])->text().toStdString());
    };
    const WindowGeometry g{value(kWidth), value(kHeight), value(kHStart), value(kVStart)};
    const GeometryCheck check = CheckGeometry(g, {m_outputWidth, m_outputHeight});
    if (check.kind == GeometryCheck::kOutOfRange) {
        Message(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
        WriteBox(boxes[check.field], QString());
        EnableSaveControls(true);
        return;
    }
    if (check.kind == GeometryCheck::kOdd) {
        Message(res::ScreenMsg::OddValue, res::ScreenMsg::OddValueCaption);
        SetModified(boxes[check.field], true);
        EnableSaveControls(true);
        return;
    }
    g_windowGeometry[which] = g;
    if (!m_bLinkUp) {
        FinishGeometrySave(which);
        return;
    }
    const uint8_t layoutCode = m_layoutCode;
    const bool started = m_runner->Start(
        [which, layoutCode, g](app::SequenceLink& link) {
            screen::SaveWindowGeometry(link, which, layoutCode, g);
        },
        [this, which] {
            ShowSetOk();
            FinishGeometrySave(which);
        });
    if (!started) {
        EnableSaveControls(true);
    }
}

// ---- picture, audio and modes ------------------------------------------------------------------

void CSetScreen::SaveValue(int boxId, ValueCheck check,
                           std::function<devlink::Frame(uint8_t id, uint8_t v)> command) {
    if (check == ValueCheck::kOutOfRange) {
        Message(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
        WriteBox(boxId, QStringLiteral("0"));
        EnableSaveControls(true);
        return;
    }
    if (check == ValueCheck::kOdd) {
        Message(res::ScreenMsg::OddValue, res::ScreenMsg::OddValueCaption);
        EnableSaveControls(true);
        return;
    }
    const auto v = static_cast<uint8_t>(platform::BoxNumber(Box(boxId)->text().toStdString()));
    SendSetting([command, v](uint8_t id) { return command(id, v); }, {boxId}, true);
}

void CSetScreen::OnBrightnessSave() {
    EnableSaveControls(false);
    const int v = platform::BoxNumber(Box(sids::kBrightness)->text().toStdString());
    SaveValue(sids::kBrightness, CheckBrightness(v, m_bBrightness100 != 0),
              devlink::BrightnessCommand);
}

void CSetScreen::OnBrightnessReset() {
    EnableSaveControls(false);
    const int v = BrightnessResetValue(m_bBrightness100 != 0);
    WriteBox(sids::kBrightness, QString::number(v));
    SaveValue(sids::kBrightness, ValueCheck::kOk, devlink::BrightnessCommand);
}

void CSetScreen::OnBiasSave() {
    EnableSaveControls(false);
    SaveValue(sids::kBias,
              CheckPercent(platform::BoxNumber(Box(sids::kBias)->text().toStdString())),
              devlink::BiasCommand);
}

void CSetScreen::OnBiasReset() {
    EnableSaveControls(false);
    WriteBox(sids::kBias, QString::number(kBiasReset));
    SaveValue(sids::kBias, ValueCheck::kOk, devlink::BiasCommand);
}

void CSetScreen::OnColourSave(int row) {
    const sids::ColourRow& r = sids::kColourRows[row];
    EnableSaveControls(false);
    const auto code = static_cast<uint8_t>(r.code);
    SaveValue(r.edit, CheckPercent(platform::BoxNumber(Box(r.edit)->text().toStdString())),
              [code](uint8_t id, uint8_t v) { return devlink::ColourCommand(id, v, code); });
}

void CSetScreen::OnColourReset(int row) {
    const sids::ColourRow& r = sids::kColourRows[row];
    EnableSaveControls(false);
    WriteBox(r.edit, QString::number(kColourReset));
    const auto code = static_cast<uint8_t>(r.code);
    SaveValue(r.edit, ValueCheck::kOk,
              [code](uint8_t id, uint8_t v) { return devlink::ColourCommand(id, v, code); });
}

void CSetScreen::OnTextKeySave() {
    EnableSaveControls(false);
    uint8_t rgb[3];
    for (int c = 0; c < 3; ++c) {
        const int v = platform::BoxNumber(Box(sids::kKeyColours[c])->text().toStdString());
        if (CheckKeyColour(v) != ValueCheck::kOk) {
            Message(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
            WriteBox(sids::kKeyColours[c], QStringLiteral("0"));
            EnableSaveControls(true);
            return;
        }
        rgb[c] = static_cast<uint8_t>(v);
    }
    const bool above = ControlAs<QAbstractButton>(sids::kThresholdRadios[1])->isChecked();
    SendSetting(
        [above, rgb](uint8_t id) {
            return devlink::TextKeyCommand(id, above, rgb[0], rgb[1], rgb[2]);
        },
        {sids::kKeyColours[0], sids::kKeyColours[1], sids::kKeyColours[2]}, true);
}

void CSetScreen::OnKeyArrow(int colour, int delta) {
    const int id = sids::kKeyColours[colour];
    const SpinOutcome s =
        SpinKeyColour(platform::BoxNumber(Box(id)->text().toStdString()), colour, delta);
    if (s.kind == SpinOutcome::kAtTop) {
        Message(res::ScreenMsg::SpinTop, res::ScreenMsg::NoticeCaption);
    } else if (s.kind == SpinOutcome::kAtBottom) {
        Message(res::ScreenMsg::SpinBottom, res::ScreenMsg::NoticeCaption);
    }
    WriteBox(id, QString::number(s.value));
}

void CSetScreen::OnSharpness(bool sharp) {
    SendSetting([sharp](uint8_t id) { return devlink::SharpnessCommand(id, sharp); }, {}, false);
}

void CSetScreen::OnAudioChanged(int which) {
    auto* changed = ControlAs<QComboBox>(which == 0 ? sids::kAudio1 : sids::kAudio2);
    auto* other = ControlAs<QComboBox>(which == 0 ? sids::kAudio2 : sids::kAudio1);
    if (const std::optional<int> move =
            AudioClash(changed->currentIndex(), other->currentIndex())) {
        Message(res::ScreenMsg::SameAudio, res::ScreenMsg::NoticeCaption);
        Filling([&] { changed->setCurrentIndex(*move); });
    }
}

void CSetScreen::OnAudioSave() {
    EnableSaveControls(false);
    const bool ypbpr = m_opening.v2IsYPbPr;
    const uint8_t a1 = AudioCodeOfEntry(ControlAs<QComboBox>(sids::kAudio1)->currentIndex(), ypbpr);
    const uint8_t a2 = AudioCodeOfEntry(ControlAs<QComboBox>(sids::kAudio2)->currentIndex(), ypbpr);
    SendSetting([a1, a2](uint8_t id) { return devlink::AudioCommand(id, a1, a2); }, {}, true);
}

void CSetScreen::OnHotSpareSave() {
    EnableSaveControls(false);
    bool on[3];
    for (int b = 0; b < 3; ++b) {
        on[b] = ControlAs<QAbstractButton>(sids::kHotSpareBoxes[b])->isChecked();
    }
    SendSetting([on](uint8_t id) { return devlink::HotSpareCommand(id, on[0], on[1], on[2]); }, {},
                true);
}

void CSetScreen::OnSyncMode(bool sync) {
    SendSetting([sync](uint8_t id) { return devlink::SyncModeCommand(id, sync); }, {}, false);
}

void CSetScreen::OnV2Input(bool ypbpr) {
    SendSetting([ypbpr](uint8_t id) { return devlink::V2InputCommand(id, ypbpr); }, {}, false,
                false);
}

// ---- boxes, radios, messages -------------------------------------------------------------------

void CSetScreen::OnNumericEdit(int boxId) {
    SetModified(boxId, true);
}

void CSetScreen::WriteBox(int id, const QString& text) {
    Filling([&] { Box(id)->setText(text); });
    SetModified(id, true);
}

void CSetScreen::SetModified(int boxId, bool on) {
    const int i = NumericIndex(boxId);
    if (i >= 0) {
        m_modified[i] = on;
        PaintBox(boxId);
    }
}

void CSetScreen::Message(res::ScreenMsg text, res::ScreenMsg caption) {
    // This dialog's boxes carry English buttons in both languages.
    platform::AskYesNo(res::ScreenText(text, m_opening.chinese),
                       res::ScreenText(caption, m_opening.chinese), platform::kLangEnglish);
}
