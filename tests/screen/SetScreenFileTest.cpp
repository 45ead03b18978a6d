// The screen settings dialog's "Save to file…" and "Load from file…" against the simulator's
// devices: a processor saved and another made the same with the dialog's values following, what
// could not be set listed, and refused files sending nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "FakeUi.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "controls/ChoiceBox.h"
#include "link/Commands.h"
#include "screen/RestoreDialog.h"
#include "screen/SetScreen.h"
#include "resources/SetScreenIds.h"
#include "screen/SettingsBackup.h"

namespace fs = std::filesystem;
using testutil::WaitUntil;

namespace {

// The runner's link to one simulated processor that outlives the dialog.
class DeviceLink : public app::SequenceLink {
public:
    DeviceLink(testutil::SimSequenceLink& sim, std::mutex& lock, platform::StopFlag& stop)
        : m_sim(sim), m_lock(lock), m_stop(stop) {}
    uint8_t DeviceId() const override { return m_sim.DeviceId(); }
    bool Send(const devlink::Frame& f, int ms) override {
        std::lock_guard hold(m_lock);
        return !m_stop.Requested() && m_sim.Send(f, ms);
    }
    int Query(const devlink::Frame& f, devlink::Frame& r, int ms) override {
        std::lock_guard hold(m_lock);
        return m_stop.Requested() ? 0 : m_sim.Query(f, r, ms);
    }
    bool Pause(int ms) override {
        std::lock_guard hold(m_lock);
        return m_sim.Pause(ms) && !m_stop.Requested();
    }
    bool Stopped() const override { return m_stop.Requested(); }

private:
    testutil::SimSequenceLink& m_sim;
    std::mutex& m_lock;
    platform::StopFlag& m_stop;
};

class SetScreenFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    std::unique_ptr<CSetScreen> Open(testutil::SimSequenceLink& device, bool chinese = false) {
        screen::OpeningValues v;
        v.connected = true;
        v.chinese = chinese;
        v.deviceId = device.DeviceId();
        auto d = std::make_unique<CSetScreen>(nullptr, v, [this, &device](platform::StopFlag& s) {
            return std::make_unique<DeviceLink>(device, lock, s);
        });
        d->show();
        EXPECT_TRUE(WaitUntil([&] { return !d->Busy(); }));
        return d;
    }
    void Click(CSetScreen& d, int id) {
        d.ControlAs<QPushButton>(id)->click();
        ASSERT_TRUE(WaitUntil([&] { return !d.Busy(); }, 15000));
        testutil::ProcessEvents();
    }
    // Load from file…: the processor read, the list answered by answer (which may tick boxes),
    // then the restore; returns when the Info line says how it ended.
    void Load(CSetScreen& d, std::function<int(CRestoreDialog&)> answer) {
        ui.answerDialog = [answer](platform::ModalDialog& m) -> std::optional<int> {
            auto* r = dynamic_cast<CRestoreDialog*>(&m);
            return r != nullptr ? std::optional<int>(answer(*r)) : std::nullopt;
        };
        d.ControlAs<QPushButton>(sids::kLoadFromFile)->click();
        ASSERT_TRUE(WaitUntil(
            [&] {
                const std::string info = Info(d);
                return !d.Busy() && info.find("please wait") == std::string::npos &&
                       info.find("请等待") == std::string::npos;
            },
            30000));
        testutil::ProcessEvents();
    }
    // The rows of the restore's list: setting, now, in the file.
    static std::vector<std::vector<std::string>> Rows(CRestoreDialog& r) {
        std::vector<std::vector<std::string>> rows;
        for (int row = 0; row < r.m_table->rowCount(); ++row) {
            rows.push_back({});
            for (int c = 0; c < 3; ++c) {
                rows.back().push_back(r.m_table->item(row, c)->text().toStdString());
            }
        }
        return rows;
    }
    std::string Info(CSetScreen& d) {
        return d.ControlAs<QLineEdit>(sids::kInfo)->text().toStdString();
    }
    fs::path Scratch(const char* name) {
        const fs::path dir =
            fs::path(testing::TempDir()) / ("orn312-setfile-" + std::to_string(getpid()));
        fs::create_directories(dir);
        return dir / name;
    }

    testutil::FakeUi ui;
    std::mutex lock;
};

}  // namespace

TEST_F(SetScreenFile, SavesOneProcessorAndMakesAnotherTheSame) {
    testutil::SimSequenceLink a(1), b(1);
    for (const devlink::Frame& f :
         {devlink::BrightnessCommand(1, 40), devlink::BiasCommand(1, 20),
          devlink::ResolutionCommand(1, 2),
          devlink::WindowGeometryCommand(1, devlink::kLayoutM3, true, 100, 400, 50, 300)}) {
        a.device.HandleFrame(f, 0);
    }
    const fs::path file = Scratch("a.settings");
    ui.chosenFile = file.string();
    {
        auto d = Open(a);
        Click(*d, sids::kSaveToFile);
        EXPECT_EQ(Info(*d), "Settings saved to " + file.string());
        EXPECT_EQ(ui.fileDialogs.back(), "save: Save to file…");
    }
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_NE(text.str().find("\nbrightness 40\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("\nm3-pip 400 300 100 50\n"), std::string::npos);

    EXPECT_NE(text.str().find("\ndevice-id 1  #"), std::string::npos);

    auto d = Open(b);
    EXPECT_EQ(d->ControlAs<QLineEdit>(sids::kBrightness)->text(), "64");
    // Cancel (or Escape) sends nothing.
    std::vector<std::vector<std::string>> listed;
    Load(*d, [&](CRestoreDialog& r) {
        listed = Rows(r);
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(Info(*d), "Cancelled; nothing was sent");
    EXPECT_EQ(d->ControlAs<QLineEdit>(sids::kBrightness)->text(), "64");
    // The list: every setting that would change, its value now and in the file; the same ID,
    // so the windows are ticked too.
    EXPECT_EQ(listed, (std::vector<std::vector<std::string>>{
                          {"output resolution", "6 (1920x1080@60Hz)", "2 (1280x1024@60Hz)"},
                          {"output window", "1920x1080 at 0,0", "1280x1024 at 0,0"},
                          {"M3 PIP window", "960x1080 at 960,0", "400x300 at 100,50"},
                          {"brightness", "64", "40"},
                          {"bias", "50", "20"}}));
    Load(*d, [](CRestoreDialog& r) {
        EXPECT_TRUE(r.m_groups[1]->isChecked());
        EXPECT_FALSE(r.m_note->isVisibleTo(&r));
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(Info(*d), "Device 1: 5 settings changed from a.settings");
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes.front().text;
    // The dialog shows what the processor now reports, the output size included.
    EXPECT_EQ(d->ControlAs<QLineEdit>(sids::kBrightness)->text(), "40");
    EXPECT_EQ(d->ControlAs<QLineEdit>(sids::kBias)->text(), "20");
    EXPECT_EQ(d->m_outputWidth, 1280);
    d.reset();
    std::lock_guard hold(lock);
    EXPECT_EQ(screen::SettingsFileText(*screen::ReadSettings(a)),
              screen::SettingsFileText(*screen::ReadSettings(b)));
}

// A wall's second processor: the windows of the first one's file are left out unless ticked.
TEST_F(SetScreenFile, AFileOfAnotherIdLeavesTheWindowsOutUnlessTicked) {
    testutil::SimSequenceLink a(1), b(2);
    a.device.HandleFrame(devlink::BrightnessCommand(1, 40), 0);
    a.device.HandleFrame(devlink::InputWindowCommand(1, 0, 960, 0, 540), 0);
    b.device.HandleFrame(devlink::InputWindowCommand(2, 960, 960, 0, 540), 0);
    auto saved = screen::ReadSettings(a);
    saved->deviceId = 1;
    const fs::path file = Scratch("one.settings");
    ASSERT_FALSE(screen::SaveSettingsFile(file, *saved));
    const auto input = [&] {
        std::lock_guard hold(lock);
        return screen::ReadSettings(b)->input;
    };

    auto d = Open(b);
    ui.chosenFile = file.string();
    Load(*d, [](CRestoreDialog& r) {
        EXPECT_FALSE(r.m_groups[1]->isChecked());  // windows and layouts
        EXPECT_TRUE(r.m_note->isVisibleTo(&r));
        EXPECT_EQ(r.m_note->text().toStdString(),
                  "The file was saved from device 1, not from device 2: its windows and layouts "
                  "are left out unless ticked.");
        EXPECT_EQ(r.Chosen(), 1);
        // Left out, the input window is listed last, greyed.
        EXPECT_EQ(Rows(r).back(),
                  (std::vector<std::string>{"input window", "960x540 at 960,0", "960x540 at 0,0"}));
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(Info(*d), "Device 2: 1 setting changed from one.settings");
    EXPECT_EQ(d->ControlAs<QLineEdit>(sids::kBrightness)->text(), "40");
    EXPECT_EQ(input(), (screen::WindowGeometry{960, 540, 960, 0}));  // the wall stays

    // Ticked, the windows go too; nothing ticked, the button is off.
    Load(*d, [](CRestoreDialog& r) {
        EXPECT_EQ(r.Chosen(), 0);
        EXPECT_FALSE(r.m_restore->isEnabled());
        r.m_groups[1]->click();
        EXPECT_TRUE(r.m_restore->isEnabled());
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(Info(*d), "Device 2: 1 setting changed from one.settings");
    EXPECT_EQ(input(), (screen::WindowGeometry{960, 540, 0, 0}));
}

// Save to file… with a value typed and not sent: send it and save it, leave it out (it stays
// typed), or cancel.
TEST_F(SetScreenFile, AValueTypedButNotSentIsSentLeftOutOrKept) {
    struct Case {
        int choice;
        bool written;
        std::string fileBrightness;  // in the file
        int deviceBrightness;
        std::string box;
        bool boxTyped;
    } cases[] = {
        {0, true, "10", 10, "10", false},
        {1, true, "64", 64, "10", true},
        {2, false, "", 64, "10", true},
    };
    for (const Case& c : cases) {
        testutil::SimSequenceLink a(1);
        auto d = Open(a);
        d->ControlAs<QLineEdit>(sids::kBrightness)->setText("10");
        ASSERT_TRUE(d->Modified(sids::kBrightness));
        const fs::path file = Scratch(("typed" + std::to_string(c.choice)).c_str());
        fs::remove(file.string() + ".settings");
        ui.chosenFile = file.string();  // typed without its extension
        std::string question;
        ui.answerDialog = [&](platform::ModalDialog& m) -> std::optional<int> {
            auto* box = dynamic_cast<ui::CChoiceBox*>(&m);
            question = box != nullptr ? box->text().toStdString() : "";
            return c.choice;
        };
        Click(*d, sids::kSaveToFile);
        ASSERT_TRUE(WaitUntil([&] { return !d->Busy(); }, 20000));
        testutil::ProcessEvents();
        EXPECT_NE(question.find("typed but not sent"), std::string::npos) << question;
        const fs::path written = file.string() + ".settings";
        EXPECT_EQ(fs::exists(written), c.written) << c.choice;
        if (c.written) {
            EXPECT_EQ(Info(*d), "Settings saved to " + written.string());
            std::stringstream text;
            text << std::ifstream(written).rdbuf();
            EXPECT_NE(text.str().find("\nbrightness " + c.fileBrightness + "\n"), std::string::npos)
                << c.choice;
        }
        EXPECT_EQ(d->ControlAs<QLineEdit>(sids::kBrightness)->text().toStdString(), c.box);
        EXPECT_EQ(d->Modified(sids::kBrightness), c.boxTyped) << c.choice;
        d.reset();
        std::lock_guard hold(lock);
        EXPECT_EQ(a.device.State().picture.brightness, c.deviceBrightness) << c.choice;
    }
}

TEST_F(SetScreenFile, ListsWhatDiffersAndSendsNothingFromARefusedFile) {
    testutil::SimSequenceLink a(1), b(1);
    a.device.Console("brightness 100");
    a.device.HandleFrame(devlink::BrightnessCommand(1, 80), 0);
    const fs::path file = Scratch("range.settings");
    ASSERT_FALSE(screen::SaveSettingsFile(file, *screen::ReadSettings(a)));

    auto d = Open(b, true);
    ui.chosenFile = file.string();
    Load(*d, [](CRestoreDialog& r) {
        // A file that does not say its device: the windows are left out (nothing differs there).
        EXPECT_FALSE(r.m_groups[1]->isChecked());
        EXPECT_EQ(Rows(r), (std::vector<std::vector<std::string>>{{"亮度", "64", "80"}}));
        return int(QDialog::Accepted);
    });
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "设备 1：已按 range.settings 更改 0 项设置\n"
              "恢复后以下设置与文件不一致：\n亮度：文件 80，处理器 64\n"
              "亮度范围：文件 0~100，处理器 0~64\n未发送：亮度超出本处理器的范围 0~64");
    EXPECT_EQ(ui.boxes[0].caption, "系统信息");
    EXPECT_EQ(Info(*d), "设备 1：已按 range.settings 更改 0 项设置；恢复后有设置与文件不一致");

    // Refused files: the message names the line, and not a frame goes out.
    std::ofstream(Scratch("v2.settings")) << "# settings\norn312-settings 2\n";
    std::ofstream(Scratch("junk.settings"), std::ios::binary) << "orn312-settings 1\n\xff\xfe";
    const std::pair<const char*, std::string> refused[] = {
        {"v2.settings", "第2行：处理器设置文件的版本为2，本程序只读取版本1"},
        {"junk.settings", "is not text"},
    };
    for (const auto& [name, message] : refused) {
        const size_t sent = [&] {
            std::lock_guard hold(lock);
            return b.sent.size();
        }();
        ui.boxes.clear();
        ui.chosenFile = Scratch(name).string();
        ui.answerDialog = nullptr;
        Click(*d, sids::kLoadFromFile);
        ASSERT_EQ(ui.boxes.size(), 1u) << name;
        EXPECT_NE(ui.boxes[0].text.find(message), std::string::npos) << ui.boxes[0].text;
        std::lock_guard hold(lock);
        EXPECT_EQ(b.sent.size(), sent) << name;
    }
}

// The restore's list in both languages, as a file of another device's shows it.
TEST_F(SetScreenFile, Screenshots) {
    const QString dir = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to write the pictures";
    }
    QDir().mkpath(dir);
    testutil::SimSequenceLink a(1), b(2);
    for (const devlink::Frame& f : {devlink::BrightnessCommand(1, 40), devlink::BiasCommand(1, 30),
                                    devlink::InputWindowCommand(1, 0, 640, 0, 360),
                                    devlink::AudioCommand(1, devlink::kHdmi, devlink::kDvi),
                                    devlink::ColourCommand(1, 70, devlink::kDp)}) {
        a.device.HandleFrame(f, 0);
    }
    b.device.HandleFrame(devlink::InputWindowCommand(2, 640, 640, 0, 360), 0);
    auto file = *screen::ReadSettings(a);
    file.deviceId = 1;
    const auto now = *screen::ReadSettings(b);
    for (bool chinese : {false, true}) {
        CRestoreDialog r(nullptr, chinese, 2, "dev1.settings", 1,
                         screen::PlanRestore(file, now, screen::kAllSettingGroups),
                         screen::DefaultSettingGroups(file, 2));
        r.show();
        testutil::ProcessEvents();
        EXPECT_TRUE(r.grab().save(
            QDir(dir).filePath(QString("restore-list-") + (chinese ? "zh" : "en") + ".png")));
    }
}
