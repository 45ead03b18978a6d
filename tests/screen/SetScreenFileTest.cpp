// The screen settings dialog's "Save to file…" and "Load from file…" against the simulator's
// devices: a processor saved and another made the same with the dialog's values following, what
// could not be set listed, and refused files sending nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "FakeUi.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "link/Commands.h"
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

    auto d = Open(b);
    EXPECT_EQ(d->ControlAs<QLineEdit>(sids::kBrightness)->text(), "64");
    Click(*d, sids::kLoadFromFile);
    EXPECT_EQ(Info(*d), "Restored: every setting reads back as in the file");
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

TEST_F(SetScreenFile, ListsWhatDiffersAndSendsNothingFromARefusedFile) {
    testutil::SimSequenceLink a(1), b(1);
    a.device.Console("brightness 100");
    a.device.HandleFrame(devlink::BrightnessCommand(1, 80), 0);
    const fs::path file = Scratch("range.settings");
    ASSERT_FALSE(screen::SaveSettingsFile(file, *screen::ReadSettings(a)));

    auto d = Open(b, true);
    ui.chosenFile = file.string();
    Click(*d, sids::kLoadFromFile);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "恢复后以下设置与文件不一致：\n亮度：文件 80，处理器 64\n"
              "亮度范围：文件 0~100，处理器 0~64\n未发送：亮度超出本处理器的范围 0~64");
    EXPECT_EQ(ui.boxes[0].caption, "系统信息");
    EXPECT_EQ(Info(*d), "恢复后有设置与文件不一致");

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
        Click(*d, sids::kLoadFromFile);
        ASSERT_EQ(ui.boxes.size(), 1u) << name;
        EXPECT_NE(ui.boxes[0].text.find(message), std::string::npos) << ui.boxes[0].text;
        std::lock_guard hold(lock);
        EXPECT_EQ(b.sent.size(), sent) << name;
    }
}
