// The screen settings dialog: a processor's settings saved to a file and loaded from one, with
// the dialog's values following what the processor reports afterwards.
#include <QAbstractButton>
#include <QBoxLayout>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <map>
#include <memory>
#include <variant>

#include "controls/ChoiceBox.h"
#include "link/Commands.h"
#include "platform/BoxNumber.h"
#include "resources/FileTexts.h"
#include "resources/SetScreenTexts.h"
#include "screen/RestoreDialog.h"
#include "screen/SetScreen.h"
#include "resources/SetScreenIds.h"
#include "screen/SetScreenParts.h"
#include "screen/SettingsBackup.h"

using namespace screen;
using namespace screen::parts;
using res::SettingsFileMsg;

namespace {

// The box layout that holds w, and w's place in it; nullptr when none does.
QBoxLayout* BoxHolding(QLayout* layout, QWidget* w, int& index) {
    if (layout == nullptr) {
        return nullptr;
    }
    if (auto* box = qobject_cast<QBoxLayout*>(layout); box != nullptr && box->indexOf(w) >= 0) {
        index = box->indexOf(w);
        return box;
    }
    for (int k = 0; k < layout->count(); ++k) {
        if (QBoxLayout* found = BoxHolding(layout->itemAt(k)->layout(), w, index)) {
            return found;
        }
    }
    return nullptr;
}

// The file chooser for saving (save: with the extension added to a name without one) or loading
// settings, in the dialog's language.
std::string ChooseSettingsFile(bool save, bool zh) {
    const char* title =
        res::SettingsFileText(save ? SettingsFileMsg::SaveButton : SettingsFileMsg::LoadButton, zh);
    const char* filter = res::SettingsFileText(SettingsFileMsg::Filter, zh);
    if (!save) {
        return platform::ChooseFile(false, title, filter);
    }
    return ui::ChooseFileToSave(
        title, filter, ".settings", res::SettingsFileText(SettingsFileMsg::ReplaceQuestion, zh),
        res::SettingsFileText(SettingsFileMsg::Caption, zh), res::LanguageId(zh));
}

void Tell(const std::string& text, bool zh) {
    platform::AskYesNo(text, res::SettingsFileText(SettingsFileMsg::Caption, zh),
                       res::LanguageId(zh));
}

}  // namespace

void CSetScreen::AddFileButtons() {
    const bool zh = m_opening.chinese;
    QWidget* refresh = Control(sids::kRefresh);
    int at = 0;
    QBoxLayout* row = BoxHolding(layout(), refresh, at);
    for (const auto& [id, msg] : {std::pair{sids::kSaveToFile, SettingsFileMsg::SaveButton},
                                  std::pair{sids::kLoadFromFile, SettingsFileMsg::LoadButton}}) {
        auto* b = new QPushButton(Utf8(res::SettingsFileText(msg, zh)), this);
        b->setAutoDefault(false);
        b->setAccessibleName(b->text().remove(QChar(0x2026)));
        Register(id, b);
        if (row != nullptr) {
            row->insertWidget(at++, b);
        } else if (layout() != nullptr) {
            layout()->addWidget(b);
        }
    }
    // In the keyboard order beside Refresh, as they stand.
    setTabOrder(refresh, Control(sids::kSaveToFile));
    setTabOrder(Control(sids::kSaveToFile), Control(sids::kLoadFromFile));
    connect(ControlAs<QPushButton>(sids::kSaveToFile), &QPushButton::clicked, this,
            [this] { OnSaveToFile(); });
    connect(ControlAs<QPushButton>(sids::kLoadFromFile), &QPushButton::clicked, this,
            [this] { OnLoadFromFile(); });
}

std::optional<std::vector<devlink::Frame>> CSetScreen::TypedFrames() {
    const uint8_t id = m_opening.deviceId;
    const auto typed = [this](std::initializer_list<int> boxes) {
        for (int b : boxes) {
            if (Modified(b)) {
                return true;
            }
        }
        return false;
    };
    const auto value = [this](int box) {
        return platform::BoxNumber(Box(box)->text().toStdString());
    };
    // A value its Save would refuse is said as the Save says it, and nothing is sent or saved.
    const auto refuse = [this](res::ScreenMsg text, res::ScreenMsg caption) {
        Message(text, caption);
        return std::nullopt;
    };
    std::vector<devlink::Frame> frames;
    const std::pair<Window, int> windows[] = {{kOutput, sids::kOutputSave},
                                              {kInput, sids::kInputSave},
                                              {kMain, sids::kMainSave},
                                              {kPip, sids::kPipSave}};
    for (const auto& [which, save] : windows) {
        const std::array<int, 4> b = GeometryBoxes(which);
        // A window whose Save is off (PIP closed, MOSAIC on) cannot be sent from here either.
        if (!typed({b[0], b[1], b[2], b[3]}) || !Control(save)->isEnabled()) {
            continue;
        }
        const WindowGeometry g{value(b[kWidth]), value(b[kHeight]), value(b[kHStart]),
                               value(b[kVStart])};
        const GeometryCheck check = CheckGeometry(g, {m_outputWidth, m_outputHeight});
        if (check.kind != GeometryCheck::kOk) {
            SetModified(b[check.field], true);
            return check.kind == GeometryCheck::kOdd
                       ? refuse(res::ScreenMsg::OddValue, res::ScreenMsg::OddValueCaption)
                       : refuse(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
        }
        frames.push_back(GeometryCommand(id, which, m_layoutCode, g));
    }
    std::vector<std::pair<int, ValueCheck>> values;  // box, its check
    if (typed({sids::kBrightness}) && Control(sids::kBrightnessSave)->isEnabled()) {
        const int v = value(sids::kBrightness);
        if (CheckBrightness(v, m_bBrightness100 != 0) != ValueCheck::kOk) {
            return refuse(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
        }
        frames.push_back(devlink::BrightnessCommand(id, static_cast<uint8_t>(v)));
    }
    if (typed({sids::kBias})) {
        const int v = value(sids::kBias);
        if (CheckPercent(v) != ValueCheck::kOk) {
            return refuse(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
        }
        frames.push_back(devlink::BiasCommand(id, static_cast<uint8_t>(v)));
    }
    for (const sids::ColourRow& r : sids::kColourRows) {
        if (typed({r.edit})) {
            const int v = value(r.edit);
            if (CheckPercent(v) != ValueCheck::kOk) {
                return refuse(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
            }
            frames.push_back(
                devlink::ColourCommand(id, static_cast<uint8_t>(v), static_cast<uint8_t>(r.code)));
        }
    }
    const int* key = sids::kKeyColours;
    if (typed({key[0], key[1], key[2]})) {
        uint8_t rgb[3];
        for (int c = 0; c < 3; ++c) {
            if (CheckKeyColour(value(key[c])) != ValueCheck::kOk) {
                return refuse(res::ScreenMsg::OutOfRange, res::ScreenMsg::OutOfRangeCaption);
            }
            rgb[c] = static_cast<uint8_t>(value(key[c]));
        }
        const bool above = ControlAs<QAbstractButton>(sids::kThresholdRadios[1])->isChecked();
        frames.push_back(devlink::TextKeyCommand(id, above, rgb[0], rgb[1], rgb[2]));
    }
    return frames;
}

void CSetScreen::OnSaveToFile() {
    const bool zh = m_opening.chinese;
    const std::string path = ChooseSettingsFile(true, zh);
    if (path.empty()) {
        return;
    }
    const auto message = [zh](const std::string& text) { Tell(text, zh); };
    // A file that cannot be written is said before the processor is read for it.
    if (const auto p = platform::CheckTextFileWritable(path)) {
        message(res::FileProblemText(*p, res::FileKind::kSettings, zh));
        return;
    }
    // Values typed and not sent: reading the processor would put its own in their boxes.
    std::vector<devlink::Frame> typed;
    std::map<int, QString> keep;  // boxes left out: their text stays after the readback
    bool anyTyped = false;
    for (int id : sids::kNumericBoxes) {
        anyTyped = anyTyped || Modified(id);
    }
    if (anyTyped) {
        const int choice = ui::Choose(this, res::SettingsFileText(SettingsFileMsg::Caption, zh),
                                      res::SettingsFileText(SettingsFileMsg::TypedQuestion, zh),
                                      {res::SettingsFileText(SettingsFileMsg::SendTyped, zh),
                                       res::SettingsFileText(SettingsFileMsg::LeaveOutTyped, zh),
                                       res::SettingsFileText(SettingsFileMsg::CancelSave, zh)},
                                      2);
        if (choice == 0) {
            auto frames = TypedFrames();
            if (!frames) {
                return;
            }
            typed = std::move(*frames);
        } else if (choice == 1) {
            for (int id : sids::kNumericBoxes) {
                if (Modified(id)) {
                    keep[id] = Box(id)->text();
                }
            }
        } else {
            return;
        }
    }
    EnableSaveControls(false);
    QLineEdit* info = Box(sids::kInfo);
    const QString lastResult = info->text();
    auto read = std::make_shared<std::optional<ProcessorSettings>>();
    auto sent = std::make_shared<bool>(true);
    const int deviceId = m_opening.deviceId;
    const bool started = m_runner->Start(
        [read, sent, typed](app::SequenceLink& link) {
            for (const devlink::Frame& f : typed) {
                if (!screen::SendSetting(link, f)) {
                    *sent = false;
                    return;
                }
            }
            *read = ReadSettings(link);
        },
        [this, read, sent, path, zh, info, lastResult, message, keep, deviceId] {
            EnableSaveControls(true);
            if (!*sent) {
                info->setText(lastResult);
                message(res::ScreenText(res::ScreenMsg::SetFailed, zh));
                return;
            }
            if (!*read) {
                info->setText(lastResult);
                message(res::SettingsFileText(SettingsFileMsg::NoAnswerSave, zh));
                return;
            }
            (*read)->deviceId = deviceId;
            ApplyReadback(ToReadback(**read, m_layoutCode));
            for (int id : sids::kNumericBoxes) {
                SetModified(id, false);
            }
            for (const auto& [id, text] : keep) {
                WriteBox(id, text);  // still typed, still not sent
            }
            // What is written must load again.
            const std::string comment = "device " + std::to_string(deviceId);
            const auto again = ParseSettingsFile(SettingsFileText(**read, comment));
            if (const auto* p = std::get_if<platform::FileProblem>(&again)) {
                info->setText(lastResult);
                platform::FileProblem whole = *p;
                whole.line = 0;
                message(res::SettingsFileText(SettingsFileMsg::NotRestorable, zh) +
                        res::FileProblemText(whole, res::FileKind::kSettings, zh));
                return;
            }
            if (const auto p = SaveSettingsFile(path, **read, comment)) {
                info->setText(lastResult);
                message(res::FileProblemText(*p, res::FileKind::kSettings, zh));
                return;
            }
            info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::Saved, zh)) +
                          QString::fromStdString(path));
        });
    if (started) {
        info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::Reading, zh)));
    } else {
        EnableSaveControls(true);
    }
}

void CSetScreen::OnLoadFromFile() {
    const bool zh = m_opening.chinese;
    const std::string path = ChooseSettingsFile(false, zh);
    if (path.empty()) {
        return;
    }
    const auto message = [zh](const std::string& text) { Tell(text, zh); };
    auto loaded = LoadSettingsFile(path);
    if (const auto* p = std::get_if<platform::FileProblem>(&loaded)) {
        // Nothing is sent from a file that is refused.
        const std::string text = res::FileProblemText(*p, res::FileKind::kSettings, zh);
        message(p->fault == platform::FileFault::kUnreadable ? text : path + ": " + text);
        return;
    }
    const ProcessorSettings wanted = std::get<ProcessorSettings>(loaded);
    const std::string name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
    EnableSaveControls(false);
    QLineEdit* info = Box(sids::kInfo);
    const QString lastResult = info->text();
    auto now = std::make_shared<std::optional<ProcessorSettings>>();
    // First the processor as it is, to list what the file would change and ask.
    const bool started = m_runner->Start(
        [now](app::SequenceLink& link) { *now = ReadSettings(link); },
        [this, now, wanted, name, zh, info, lastResult, message] {
            EnableSaveControls(true);
            if (!*now) {
                info->setText(lastResult);
                message(res::SettingsFileText(SettingsFileMsg::NoAnswerLoad, zh));
                return;
            }
            const int id = m_opening.deviceId;
            const auto plan = PlanRestore(wanted, **now, kAllSettingGroups);
            if (plan.empty()) {
                info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::NothingToChange, zh)));
                return;
            }
            CRestoreDialog ask(this, zh, id, name, wanted.deviceId, plan,
                               DefaultSettingGroups(wanted, id));
            if (platform::RunModal(ask) != QDialog::Accepted || ask.Chosen() == 0) {
                info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::RestoreCancelled, zh)));
                return;
            }
            RestoreChosen(wanted, ask.Groups(), name);
        });
    if (started) {
        info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::Reading, zh)));
    } else {
        EnableSaveControls(true);
    }
}

void CSetScreen::RestoreChosen(const ProcessorSettings& wanted, const SettingGroups& groups,
                               const std::string& name) {
    const bool zh = m_opening.chinese;
    const auto message = [zh](const std::string& text) { Tell(text, zh); };
    EnableSaveControls(false);
    QLineEdit* info = Box(sids::kInfo);
    const QString lastResult = info->text();
    auto result = std::make_shared<RestoreResult>();
    const bool started = m_runner->Start(
        [wanted, groups, result](app::SequenceLink& link) {
            *result = RestoreSettings(link, wanted, groups);
        },
        [this, result, zh, info, lastResult, message, name] {
            EnableSaveControls(true);
            if (result->after) {
                ApplyReadback(ToReadback(*result->after, m_layoutCode));
                for (int id : sids::kNumericBoxes) {
                    SetModified(id, false);
                }
            }
            if (!result->answered) {
                info->setText(lastResult);
                message(res::SettingsFileText(SettingsFileMsg::NoAnswerLoad, zh));
                return;
            }
            const std::string done =
                res::RestoreDoneText(m_opening.deviceId, result->settingsChanged, name, zh);
            if (result->notSent || !result->after) {
                info->setText(Utf8(done));
                message(done + "\n" + res::SettingsFileText(SettingsFileMsg::NotSent, zh));
                return;
            }
            if (result->differences.empty() && result->refused.empty()) {
                info->setText(Utf8(done));
                return;
            }
            std::string text = done + "\n" + res::SettingsFileText(SettingsFileMsg::Differ, zh);
            for (const SettingDifference& d : result->differences) {
                text += "\n" + res::SettingNameText(d.name, zh) + (zh ? "：文件 " : ": file ") +
                        res::SettingValueText(d.wanted, zh) + (zh ? "，处理器 " : ", processor ") +
                        res::SettingValueText(d.found, zh);
            }
            if (!result->refused.empty()) {
                text +=
                    "\n" + std::string(res::SettingsFileText(SettingsFileMsg::BrightnessRange, zh));
            }
            info->setText(Utf8(done + (zh ? "；" : "; ") +
                               res::SettingsFileText(SettingsFileMsg::DifferInfo, zh)));
            message(text);
        });
    if (started) {
        info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::Restoring, zh)));
    } else {
        EnableSaveControls(true);
    }
}
