// The screen settings dialog: a processor's settings saved to a file and loaded from one, with
// the dialog's values following what the processor reports afterwards.
#include <QBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <variant>

#include "resources/FileTexts.h"
#include "resources/SetScreenTexts.h"
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

// The file chooser for saving (save) or loading settings, in the dialog's language.
std::string ChooseSettingsFile(bool save, bool zh) {
    return platform::ChooseFile(
        save,
        res::SettingsFileText(save ? SettingsFileMsg::SaveButton : SettingsFileMsg::LoadButton, zh),
        res::SettingsFileText(SettingsFileMsg::Filter, zh));
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

void CSetScreen::OnSaveToFile() {
    const bool zh = m_opening.chinese;
    const std::string path = ChooseSettingsFile(true, zh);
    if (path.empty()) {
        return;
    }
    const auto message = [zh](const std::string& text) { Tell(text, zh); };
    EnableSaveControls(false);
    QLineEdit* info = Box(sids::kInfo);
    const QString lastResult = info->text();
    auto read = std::make_shared<std::optional<ProcessorSettings>>();
    const bool started = m_runner->Start(
        [read](app::SequenceLink& link) { *read = ReadSettings(link); },
        [this, read, path, zh, info, lastResult, message] {
            EnableSaveControls(true);
            if (!*read) {
                info->setText(lastResult);
                message(res::SettingsFileText(SettingsFileMsg::NoAnswerSave, zh));
                return;
            }
            ApplyReadback(ToReadback(**read, m_layoutCode));
            for (int id : sids::kNumericBoxes) {
                SetModified(id, false);
            }
            // What is written must load again.
            const std::string comment = "device " + std::to_string(m_opening.deviceId);
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
    EnableSaveControls(false);
    QLineEdit* info = Box(sids::kInfo);
    const QString lastResult = info->text();
    auto result = std::make_shared<RestoreResult>();
    const bool started = m_runner->Start(
        [wanted, result](app::SequenceLink& link) { *result = RestoreSettings(link, wanted); },
        [this, result, zh, info, lastResult, message] {
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
            if (result->notSent || !result->after) {
                info->setText(lastResult);
                message(res::SettingsFileText(SettingsFileMsg::NotSent, zh));
                return;
            }
            if (result->differences.empty() && result->refused.empty()) {
                info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::Restored, zh)));
                return;
            }
            std::string text = res::SettingsFileText(SettingsFileMsg::Differ, zh);
            for (const SettingDifference& d : result->differences) {
                text += "\n" + res::SettingNameText(d.name, zh) + (zh ? "：文件 " : ": file ") +
                        res::SettingValueText(d.wanted, zh) + (zh ? "，处理器 " : ", processor ") +
                        res::SettingValueText(d.found, zh);
            }
            if (!result->refused.empty()) {
                text +=
                    "\n" + std::string(res::SettingsFileText(SettingsFileMsg::BrightnessRange, zh));
            }
            info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::DifferInfo, zh)));
            message(text);
        });
    if (started) {
        info->setText(Utf8(res::SettingsFileText(SettingsFileMsg::Restoring, zh)));
    } else {
        EnableSaveControls(true);
    }
}
