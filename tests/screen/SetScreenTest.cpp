#include "screen/SetScreen.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <map>
#include <mutex>
#include <set>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "link/Commands.h"
#include "resources/SetScreenIds.h"

using screen::g_windowGeometry;
using screen::OpeningValues;
using testutil::FakeUi;
using testutil::WaitUntil;

namespace {

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

using Body = std::vector<uint8_t>;

// The dialog's sequences run on the runner's thread against one simulated device that outlives
// them, so that a test sees everything sent. A query may take real time (a slow or silent
// device), cut short by Exit; a sub-code may be answered with a crafted reply.
struct SharedDevice {
    testutil::SimSequenceLink sim;
    std::mutex mutex;
    int queryMs = 0;
    std::map<uint8_t, devlink::Frame> crafted;

    // Bytes 2..11 of every frame sent, cut after the last non-zero byte, with its delay or limit.
    std::vector<std::pair<Body, int>> Sent() {
        std::lock_guard lock(mutex);
        std::vector<std::pair<Body, int>> out;
        for (const auto& s : sim.sent) {
            Body b = s.body;
            while (!b.empty() && b.back() == 0) {
                b.pop_back();
            }
            out.emplace_back(b, s.ms);
        }
        return out;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        sim.sent.clear();
    }
};

class RunnerLink : public app::SequenceLink {
public:
    RunnerLink(SharedDevice& device, platform::StopFlag& stop) : m_d(device), m_stop(stop) {}
    uint8_t DeviceId() const override { return m_d.sim.DeviceId(); }
    bool Send(const devlink::Frame& frame, int delayMs) override {
        if (m_stop.Requested()) {
            return false;
        }
        std::lock_guard lock(m_d.mutex);
        m_d.sim.Send(frame, delayMs);
        return !m_stop.Requested();
    }
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override {
        if (m_stop.Requested() || (m_d.queryMs > 0 && m_stop.WaitFor(m_d.queryMs))) {
            return 0;
        }
        std::lock_guard lock(m_d.mutex);
        const auto c = m_d.crafted.find(frame[3]);
        const int got = m_d.sim.Query(frame, reply, limitMs);
        if (got == 13 && c != m_d.crafted.end()) {
            reply = c->second;
        }
        return got;
    }
    bool Pause(int ms) override {
        std::lock_guard lock(m_d.mutex);
        m_d.sim.Pause(ms);
        return !m_stop.Requested();
    }
    bool Stopped() const override { return m_stop.Requested(); }

private:
    SharedDevice& m_d;
    platform::StopFlag& m_stop;
};

OpeningValues Connected(bool chinese = false) {
    OpeningValues v;
    v.chinese = chinese;
    v.connected = true;
    return v;
}

class SetScreenTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override { g_windowGeometry = {}; }

    // The dialog as Setup opens it, its readback done.
    std::unique_ptr<CSetScreen> Open(OpeningValues v = Connected()) {
        auto d = std::make_unique<CSetScreen>(nullptr, v, [this](platform::StopFlag& stop) {
            return std::make_unique<RunnerLink>(device, stop);
        });
        d->show();
        EXPECT_TRUE(WaitUntil([&] { return !d->Busy(); }));
        return d;
    }

    static QString Text(const CSetScreen& d, int id) { return ui::CaptionOf(d.Control(id)); }
    static bool Enabled(const CSetScreen& d, int id) { return d.Control(id)->isEnabled(); }
    static bool Checked(const CSetScreen& d, int id) {
        return d.ControlAs<QAbstractButton>(id)->isChecked();
    }
    // Types into a box as the operator does.
    static void Type(CSetScreen& d, int id, const QString& text) {
        d.ControlAs<QLineEdit>(id)->setText(text);
    }
    // Presses a button and waits for what it sends.
    static void Press(CSetScreen& d, int id) {
        d.ControlAs<QAbstractButton>(id)->click();
        WaitUntil([&] { return !d.Busy(); });
    }

    SharedDevice device;
    FakeUi ui;
};

}  // namespace

TEST_F(SetScreenTest, OpeningFillsEveryFieldFromTheDevice) {
    const auto put = [&](const devlink::Frame& f) { device.sim.device.HandleFrame(f, 0); };
    put(devlink::ResolutionCommand(1, 2));  // 1280x1024, output window the whole of it
    put(devlink::WindowGeometryCommand(1, devlink::kLayoutM2, false, 2, 1000, 4, 700));
    put(devlink::WindowGeometryCommand(1, devlink::kLayoutM2, true, 10, 300, 20, 200));
    put(devlink::InputWindowCommand(1, 8, 800, 6, 600));
    put(devlink::SyncModeCommand(1, true));
    put(devlink::BrightnessCommand(1, 40));
    put(devlink::BiasCommand(1, 30));
    put(devlink::SharpnessCommand(1, true));
    put(devlink::AudioCommand(1, devlink::kYPbPr, devlink::kHdmi));
    put(devlink::HotSpareCommand(1, true, false, true));
    put(devlink::TextKeyCommand(1, true, 16, 32, 48));
    const uint8_t colours[7] = {11, 12, 14, 15, 16, 17, 18};
    for (int row = 0; row < 7; ++row) {
        put(devlink::ColourCommand(1, colours[row], sids::kColourRows[row].code));
    }
    device.sim.device.Console("brightness 100");

    OpeningValues v = Connected();
    v.pipOpen = true;
    v.pipPreset = 1;  // M2: the readback asks M2's windows
    auto d = Open(v);
    EXPECT_TRUE(Checked(*d, sids::kLayoutRadios[1]));
    EXPECT_EQ(d->m_layoutCode, 0x2B);

    const std::map<int, int> boxes = {
        {1037, 1280}, {1038, 0},  {1039, 1024}, {1040, 0},  {1024, 1000}, {1025, 2},
        {1026, 700},  {1027, 4},  {1033, 300},  {1034, 10}, {1158, 200},  {1159, 20},
        {1028, 800},  {1029, 8},  {1030, 600},  {1031, 6},  {1051, 40},   {1063, 30},
        {1055, 11},   {1060, 12}, {1066, 14},   {1068, 15}, {1070, 16},   {1076, 17},
        {1081, 18},   {1048, 16}, {1046, 32},   {1056, 48},
    };
    ASSERT_EQ(boxes.size(), 28u);
    for (const auto& [id, value] : boxes) {
        EXPECT_EQ(Text(*d, id), QString::number(value)) << id;
        EXPECT_FALSE(d->Modified(id)) << id;
        EXPECT_EQ(d->Control(id)->palette().color(QPalette::Base), QColor(205, 205, 180)) << id;
    }
    EXPECT_EQ(g_windowGeometry[screen::kMain], (screen::WindowGeometry{1000, 700, 2, 4}));
    EXPECT_EQ(g_windowGeometry[screen::kInput], (screen::WindowGeometry{800, 600, 8, 6}));
    for (int id : {1167, 1168, 1169}) {
        EXPECT_EQ(Text(*d, id), "(1280,1024)");
    }
    // The PIP rectangle: 300 x 200 at 10,20 of 1280 x 1024, in the 192 x 128 frame.
    EXPECT_EQ(d->Control(1163)->geometry(), QRect(1, 2, 45, 25));
    EXPECT_EQ(d->Control(1166)->geometry(), QRect(0, 0, 192, 128));
    EXPECT_TRUE(Checked(*d, sids::kSyncMosaic));
    EXPECT_FALSE(Checked(*d, sids::kNoSyncMosaic));
    EXPECT_TRUE(Checked(*d, sids::kSharp));
    EXPECT_TRUE(Checked(*d, sids::kThresholdRadios[1]));
    EXPECT_EQ(d->ControlAs<QComboBox>(sids::kAudio1)->currentText(), "V2/YPbPr");
    EXPECT_EQ(d->ControlAs<QComboBox>(sids::kAudio2)->currentText(), "HDMI");
    EXPECT_TRUE(Checked(*d, 1078));
    EXPECT_FALSE(Checked(*d, 1061));
    EXPECT_TRUE(Checked(*d, 1062));
    EXPECT_EQ(d->m_bBrightness100, 1);
    EXPECT_EQ(Text(*d, sids::kBrightnessRange), "(0~100)");
    EXPECT_EQ(Text(*d, sids::kInfo), "");  // the reading notice is gone
    EXPECT_TRUE(ui.boxes.empty());
    // Filling the dialog sent nothing but questions.
    for (const auto& [body, ms] : device.Sent()) {
        EXPECT_EQ(body.at(0), 0xFE);
    }

    // Refresh reads the device again: a changed brightness shows, the marking goes.
    Type(*d, sids::kBrightness, "8");
    EXPECT_TRUE(d->Modified(sids::kBrightness));
    EXPECT_EQ(d->Control(sids::kBrightness)->palette().color(QPalette::Base), QColor(0, 255, 255));
    put(devlink::BrightnessCommand(1, 42));
    Press(*d, sids::kRefresh);
    EXPECT_EQ(Text(*d, sids::kBrightness), "42");
    EXPECT_FALSE(d->Modified(sids::kBrightness));
}

TEST_F(SetScreenTest, OpeningEnablesWhatTheMainWindowsStateAllows) {
    struct Case {
        const char* what;
        OpeningValues v;
        std::set<int> enabled, disabled;
    };
    const auto with = [](auto change) {
        OpeningValues v = Connected();
        change(v);
        return v;
    };
    const Case cases[] = {
        {"nothing open",
         Connected(),
         {1051, 1044, 1045, 1125, 1314, 1012, 1043},
         {1000, 1008, 1020, 1021, 1022, 1004}},
        {"PIP open",
         with([](OpeningValues& v) { v.pipOpen = true; }),
         {1000, 1008, 1020, 1021, 1022, 1051},
         {1125, 1314, 1004}},
        {"PIP open with MOSAIC on a DVI main",
         with([](OpeningValues& v) { v.pipOpen = v.mosaic = v.dviMain = true; }),
         {1008, 1004},
         {1000}},
        {"BYPASS keeps the input Save off",
         with([](OpeningValues& v) { v.mosaic = v.dviMain = v.bypass = true; }),
         {},
         {1004}},
        // The readback's busy lock gives the brightness Save back, not the box or Reset.
        {"TEXT open",
         with([](OpeningValues& v) { v.textOpen = true; }),
         {1043, 1058, 1044},
         {1051, 1045, 1125, 1314, 1000}},
    };
    for (const Case& c : cases) {
        auto d = Open(c.v);
        for (int id : c.enabled) {
            EXPECT_TRUE(Enabled(*d, id)) << c.what << " " << id;
        }
        for (int id : c.disabled) {
            EXPECT_FALSE(Enabled(*d, id)) << c.what << " " << id;
        }
    }
    // The layout radio follows the PIP preset, the V2/YPbPr radios the V2 input; nothing sent.
    OpeningValues v = Connected();
    v.pipPreset = 2;
    v.v2IsYPbPr = true;
    device.Clear();
    auto d = Open(v);
    EXPECT_TRUE(Checked(*d, sids::kLayoutRadios[2]));
    EXPECT_EQ(d->m_layoutCode, 0x2C);
    EXPECT_TRUE(Checked(*d, sids::kYPbPrRadio));
    EXPECT_EQ(device.Sent().at(1).first, (Body{0xFE, 0x0B}));  // M3's main window
    // Not connected: no readback at all.
    device.Clear();
    auto offline = Open(OpeningValues{});
    EXPECT_TRUE(device.Sent().empty());
    EXPECT_EQ(Text(*offline, 1167), "(1024,768)");
}

TEST_F(SetScreenTest, GeometrySavesCheckThenSendAndStore) {
    device.sim.device.HandleFrame(devlink::ResolutionCommand(1, 0), 0);  // 1024 x 768
    struct Case {
        const char* what;
        screen::Window which;
        QStringList values;   // width, horizontal start, height, vertical start
        const char* message;  // nullptr: none
        int changedBox;       // the box emptied (out of range) or marked (odd)
        Body sent;            // empty: nothing
    } cases[] = {
        {"width 1024 + start 2",
         screen::kMain,
         {"1024", "2", "100", "0"},
         "Value out  of range",
         1024,
         {}},
        {"height 50", screen::kMain, {"100", "0", "50", "0"}, "Value out  of range", 1026, {}},
        {"width 101, odd vertical start",
         screen::kMain,
         {"101", "0", "100", "3"},
         "he input value must be even, and can not be odd",
         1024,
         {}},
        {"odd vertical start only",
         screen::kPip,
         {"100", "0", "100", "3"},
         "he input value must be even, and can not be odd",
         1159,
         {}},
        {"empty width", screen::kOutput, {"", "0", "100", "0"}, "Value out  of range", 1037, {}},
        {"main of M1",
         screen::kMain,
         {"400", "2", "300", "4"},
         nullptr,
         0,
         {0x2A, 0x00, 0x00, 0x02, 0x01, 0x90, 0x00, 0x04, 0x01, 0x2C}},
        {"PIP",
         screen::kPip,
         {"512", "512", "384", "384"},
         nullptr,
         0,
         {0x2A, 0x01, 0x02, 0x00, 0x02, 0x00, 0x01, 0x80, 0x01, 0x80}},
        {"input",
         screen::kInput,
         {"1024", "0", "768", "0"},
         nullptr,
         0,
         {0x23, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x03}},
        {"output",
         screen::kOutput,
         {"64", "960", "64", "704"},
         nullptr,
         0,
         {0x0E, 0x00, 0x03, 0xC0, 0x00, 0x40, 0x02, 0xC0, 0x00, 0x40}},
    };
    for (const Case& c : cases) {
        OpeningValues v = Connected();
        v.pipOpen = v.mosaic = v.dviMain = true;  // every Save but the main one usable...
        v.mosaic = c.which == screen::kInput;     // ...and the main one while MOSAIC is off
        auto d = Open(v);
        ui.boxes.clear();
        device.Clear();
        g_windowGeometry = {};
        const sids::GeometryIds& ids = sids::kGeometry[c.which];
        const int boxes[4] = {ids.w, ids.hs, ids.h, ids.vs};
        for (int f = 0; f < 4; ++f) {
            Type(*d, boxes[f], c.values[f]);
        }
        d->m_modified.fill(false);  // as if read from the device
        ASSERT_TRUE(Enabled(*d, ids.save)) << c.what;
        Press(*d, ids.save);
        if (c.message != nullptr) {
            ASSERT_EQ(ui.boxes.size(), 1u) << c.what;
            EXPECT_EQ(ui.boxes[0].text, c.message) << c.what;
            EXPECT_EQ(ui.boxes[0].caption,
                      c.message[0] == 'V' ? "System Information" : "System information")
                << c.what;
            EXPECT_EQ(ui.boxes[0].languageId, 1033);
            for (int id : boxes) {
                EXPECT_EQ(d->Modified(id), id == c.changedBox) << c.what << " " << id;
            }
            const bool emptied = c.message[0] == 'V';
            EXPECT_EQ(Text(*d, c.changedBox).isEmpty(), emptied) << c.what;
            EXPECT_EQ(g_windowGeometry[c.which], screen::WindowGeometry{}) << c.what;
            EXPECT_EQ(Text(*d, sids::kInfo), "") << c.what;
        } else {
            EXPECT_TRUE(ui.boxes.empty()) << c.what;
            EXPECT_EQ(Text(*d, sids::kInfo), "Set successfully") << c.what;
            EXPECT_EQ(g_windowGeometry[c.which].w, c.values[0].toInt()) << c.what;
            EXPECT_EQ(g_windowGeometry[c.which].vs, c.values[3].toInt()) << c.what;
            const screen::Rect r =
                screen::PreviewRect(192, 128, {1024, 768}, g_windowGeometry[c.which]);
            EXPECT_EQ(d->Control(ids.rect)->geometry(), QRect(r.left, r.top, r.width, r.height))
                << c.what;
        }
        const auto sent = device.Sent();
        if (c.sent.empty()) {
            EXPECT_TRUE(sent.empty()) << c.what;
        } else {
            ASSERT_EQ(sent.size(), 1u) << c.what;
            EXPECT_EQ(sent[0].first, c.sent) << c.what;
            EXPECT_EQ(sent[0].second, 1000) << c.what;
        }
        EXPECT_TRUE(Enabled(*d, sids::kOutputSave)) << c.what;  // the busy lock is off again
    }

    // Link down: stored and previewed, nothing sent, the Info line as it was.
    device.Clear();
    auto offline = Open(OpeningValues{});
    Type(*offline, 1037, "512");
    Type(*offline, 1038, "0");
    Type(*offline, 1039, "384");
    Type(*offline, 1040, "0");
    Press(*offline, sids::kOutputSave);
    EXPECT_TRUE(device.Sent().empty());
    EXPECT_EQ(g_windowGeometry[screen::kOutput], (screen::WindowGeometry{512, 384, 0, 0}));
    EXPECT_EQ(offline->Control(1166)->geometry(), QRect(0, 0, 96, 64));
    EXPECT_EQ(Text(*offline, sids::kInfo), "");
    EXPECT_FALSE(offline->Modified(1037));
    // The geometry is kept for the next opening's previews.
    auto again = Open(OpeningValues{});
    EXPECT_EQ(again->Control(1166)->geometry(), QRect(0, 0, 96, 64));
}

TEST_F(SetScreenTest, TheReportedResolutionSetsLabelsAndLimits) {
    const auto put = [&](const devlink::Frame& f) { device.sim.device.HandleFrame(f, 0); };
    put(devlink::CustomResolutionCommand(1, 1280, 720, 60));
    put(devlink::ResolutionCommand(1, 16));
    auto d = Open();
    EXPECT_EQ(d->m_outputWidth, 1280);
    EXPECT_EQ(d->m_outputHeight, 720);
    for (int id : {1167, 1168, 1169}) {
        EXPECT_EQ(Text(*d, id), "(1280,720)");
    }
    Type(*d, 1039, "722");
    Press(*d, sids::kOutputSave);
    EXPECT_EQ(Text(*d, 1039), "");
    Type(*d, 1039, "720");
    Press(*d, sids::kOutputSave);
    EXPECT_EQ(Text(*d, sids::kInfo), "Set successfully");

    // Code 17 is no resolution: the size stays; the output window is still shown.
    devlink::Frame odd = devlink::ResolutionReply{17, {2, 800, 4, 600}}.Encode(1);
    device.crafted[devlink::kResolutionSub] = odd;
    auto other = Open();
    EXPECT_EQ(other->m_outputWidth, 1024);
    EXPECT_EQ(other->m_outputHeight, 768);
    EXPECT_EQ(Text(*other, 1169), "(1024,768)");
    EXPECT_EQ(Text(*other, 1037), "800");

    // A custom size of 0 scales no preview and divides nothing.
    device.crafted.clear();
    put(devlink::CustomResolutionCommand(1, 0, 0, 60));
    put(devlink::ResolutionCommand(1, 16));
    auto empty = Open();
    EXPECT_EQ(Text(*empty, 1169), "(0,0)");
    EXPECT_EQ(empty->Control(1166)->geometry().size(), QSize(0, 0));
}

TEST_F(SetScreenTest, LayoutRadiosReadTheLayoutThenSwitchIt) {
    OpeningValues v = Connected();
    v.pipOpen = true;
    auto d = Open(v);
    device.Clear();
    Type(*d, 1024, "64");  // marked, then replaced by the device's M2 main window
    // The accessibility action selects the radio as a click does.
    QAccessibleInterface* m2 = QAccessible::queryAccessibleInterface(d->Control(1021));
    m2->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(WaitUntil([&] { return !d->Busy(); }));
    const auto sent = device.Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (std::pair<Body, int>{{0xFE, 0x09}, 1000}));
    EXPECT_EQ(sent[1], (std::pair<Body, int>{{0xFE, 0x0A}, 1000}));
    EXPECT_EQ(sent[2], (std::pair<Body, int>{{0x24, 0x01}, 500}));
    EXPECT_EQ(d->m_layoutCode, 0x2B);
    EXPECT_TRUE(Checked(*d, 1021));
    EXPECT_FALSE(Checked(*d, 1020));
    EXPECT_EQ(Text(*d, 1033), "960");  // M2's PIP: the upper left quarter
    EXPECT_EQ(Text(*d, 1034), "0");
    EXPECT_FALSE(d->Modified(1024));
    EXPECT_EQ(Text(*d, sids::kInfo), "");
    EXPECT_EQ(device.sim.device.State().pipPreset, 1);

    // A main Save now goes to M2.
    device.Clear();
    Type(*d, 1024, "1920");
    Press(*d, sids::kMainSave);
    ASSERT_EQ(device.Sent().size(), 1u);
    EXPECT_EQ(device.Sent()[0].first.at(0), 0x2B);
}

TEST_F(SetScreenTest, ValueSavesCheckSendAndReset) {
    struct Case {
        const char* what;
        bool range100;
        std::function<void(CSetScreen&)> act;
        const char* message;  // nullptr: none
        int box;              // the box looked at afterwards
        const char* boxText;
        Body sent;  // empty: nothing
    };
    const auto type = [](int id, const char* text, int button) {
        return [id, text, button](CSetScreen& d) {
            Type(d, id, text);
            Press(d, button);
        };
    };
    const auto press = [](int button) { return [button](CSetScreen& d) { Press(d, button); }; };
    const char* range = "Value out  of range";
    const char* odd = "he input value must be even, and can not be odd";
    const Case cases[] = {
        {"brightness 66 of 0..64", false, type(1051, "66", 1044), range, 1051, "0", {}},
        {"brightness 66 of 0..100",
         true,
         type(1051, "66", 1044),
         nullptr,
         1051,
         "66",
         {0x16, 0x42}},
        {"brightness 33", true, type(1051, "33", 1044), odd, 1051, "33", {}},
        {"brightness reset, 0..64", false, press(1045), nullptr, 1051, "64", {0x16, 0x40}},
        {"brightness reset, 0..100", true, press(1045), nullptr, 1051, "50", {0x16, 0x32}},
        {"bias 101", false, type(1063, "101", 1058), range, 1063, "0", {}},
        {"bias 100", false, type(1063, "100", 1058), nullptr, 1063, "100", {0x2D, 0x64}},
        {"bias reset", false, press(1049), nullptr, 1063, "50", {0x2D, 0x32}},
        {"DP colour 70", false, type(1070, "70", 1071), nullptr, 1070, "70", {0x18, 0x46, 0x06}},
        {"EXT colour 101", false, type(1076, "101", 1079), range, 1076, "0", {}},
        {"YPbPr colour reset", false, press(1083), nullptr, 1081, "50", {0x18, 0x32, 0x08}},
        {"text key >Threshold 16 32 48",
         false,
         [](CSetScreen& d) {
             d.ControlAs<QAbstractButton>(1041)->click();
             Type(d, 1048, "16");
             Type(d, 1046, "32");
             Type(d, 1056, "48");
             Press(d, 1043);
         },
         nullptr,
         1046,
         "32",
         {0x15, 0x01, 0x10, 0x20, 0x30}},
        {"text key green 300",
         false,
         [](CSetScreen& d) {
             Type(d, 1046, "300");
             Press(d, 1043);
         },
         range,
         1046,
         "0",
         {}},
        {"hot spare V1>>V2 and VGA1>>VGA2",
         false,
         [](CSetScreen& d) {
             d.ControlAs<QAbstractButton>(1078)->click();
             d.ControlAs<QAbstractButton>(1062)->click();
             Press(d, 1077);
         },
         nullptr,
         0,
         "",
         {0x13, 0x01, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        device.sim.device.Console(c.range100 ? "brightness 100" : "brightness 64");
        auto d = Open();
        device.Clear();
        ui.boxes.clear();
        c.act(*d);
        if (c.message != nullptr) {
            ASSERT_EQ(ui.boxes.size(), 1u) << c.what;
            EXPECT_EQ(ui.boxes[0].text, c.message) << c.what;
            EXPECT_EQ(ui.boxes[0].languageId, 1033) << c.what;
            EXPECT_TRUE(d->Modified(c.box)) << c.what;
            EXPECT_EQ(Text(*d, sids::kInfo), "") << c.what;
        } else {
            EXPECT_TRUE(ui.boxes.empty()) << c.what;
            EXPECT_EQ(Text(*d, sids::kInfo), "Set successfully") << c.what;
        }
        if (c.box != 0) {
            EXPECT_EQ(d->Modified(c.box), c.message != nullptr) << c.what;
            EXPECT_EQ(Text(*d, c.box), c.boxText) << c.what;
        }
        const auto sent = device.Sent();
        if (c.sent.empty()) {
            EXPECT_TRUE(sent.empty()) << c.what;
        } else {
            ASSERT_EQ(sent.size(), 1u) << c.what;
            EXPECT_EQ(sent[0], (std::pair<Body, int>{c.sent, 1000})) << c.what;
        }
        EXPECT_TRUE(Enabled(*d, 1044)) << c.what;  // the busy lock is off again
    }
}

TEST_F(SetScreenTest, KeyColourArrowsStepThroughTheirAccessibilityActions) {
    auto d = Open(Connected(true));
    // An arrow is found by its name among the arrows' accessible children and pressed by its
    // action.
    const auto arrow = [&](int colour, bool up) {
        const QString name =
            d->Control(sids::kKeyColours[colour])->accessibleName() + Utf8(up ? " 上" : " 下");
        QAccessibleInterface* arrows =
            QAccessible::queryAccessibleInterface(d->Control(sids::kKeyArrows[colour]));
        for (int i = 0; i < arrows->childCount(); ++i) {
            if (arrows->child(i)->text(QAccessible::Name) == name) {
                arrows->child(i)->actionInterface()->doAction(
                    QAccessibleActionInterface::pressAction());
                return;
            }
        }
        ADD_FAILURE() << "no arrow " << name.toStdString();
    };
    enum { Red, Green, Blue };
    struct Case {
        int colour;
        const char* from;
        bool up;
        const char* to;
        const char* message;  // nullptr: none
    } cases[] = {
        {Red, "0", true, "8", nullptr},
        {Green, "0", true, "4", nullptr},
        {Blue, "248", true, "248", "数值无法再向上调节"},
        {Green, "252", true, "252", "数值无法再向上调节"},
        {Green, "4", false, "0", nullptr},
        {Red, "0", false, "0", "数值无法再向下调节"},
    };
    for (const Case& c : cases) {
        ui.boxes.clear();
        const int box = sids::kKeyColours[c.colour];
        Type(*d, box, c.from);
        d->m_modified.fill(false);
        arrow(c.colour, c.up);
        EXPECT_EQ(Text(*d, box), c.to) << c.colour << " " << c.from;
        EXPECT_TRUE(d->Modified(box));  // written back, even when it stays
        if (c.message != nullptr) {
            ASSERT_EQ(ui.boxes.size(), 1u);
            EXPECT_EQ(ui.boxes[0].text, c.message);
            EXPECT_EQ(ui.boxes[0].caption, "系统消息");
            EXPECT_EQ(ui.boxes[0].languageId, 1033);
        } else {
            EXPECT_TRUE(ui.boxes.empty());
        }
    }
    // Green from 0 reaches 252 by the arrows, red 248.
    Type(*d, 1046, "0");
    Type(*d, 1048, "0");
    for (int i = 0; i < 70; ++i) {
        arrow(Green, true);
        arrow(Red, true);
    }
    EXPECT_EQ(Text(*d, 1046), "252");
    EXPECT_EQ(Text(*d, 1048), "248");
    EXPECT_EQ(device.Sent().size(), 7u);  // only the readback's questions
}

TEST_F(SetScreenTest, AudioNeverUsesOneChannelTwice) {
    device.sim.device.HandleFrame(devlink::AudioCommand(1, devlink::kV1, devlink::kHdmi), 0);
    OpeningValues v = Connected();
    v.v2IsYPbPr = true;
    auto d = Open(v);
    auto* ad1 = d->ControlAs<QComboBox>(sids::kAudio1);
    auto* ad2 = d->ControlAs<QComboBox>(sids::kAudio2);
    ad1->setCurrentIndex(4);  // HDMI, which AD2 shows
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Sorry, audio1 and audio2 can't use the same channel");
    EXPECT_EQ(ui.boxes[0].caption, "System information");
    EXPECT_EQ(ad1->currentText(), "V1");
    ad2->setCurrentIndex(0);  // V1 at index 0: the changed list moves to entry 1
    EXPECT_EQ(ad2->currentText(), "V2/YPbPr");
    EXPECT_EQ(ui.boxes.size(), 2u);

    device.Clear();
    ad2->setCurrentIndex(5);
    ad1->setCurrentIndex(1);
    Press(*d, sids::kAudioSave);
    ASSERT_EQ(device.Sent().size(), 1u);
    EXPECT_EQ(device.Sent()[0].first, (Body{0x19, 0x08, 0x05}));  // V2 input in YPbPr mode
    EXPECT_EQ(device.sim.device.State().picture.audio1, 8);

    // Without a readback the lists have no selection: sent as FF.
    device.Clear();
    auto offline = Open(OpeningValues{});
    Press(*offline, sids::kAudioSave);
    ASSERT_EQ(device.Sent().size(), 1u);
    EXPECT_EQ(device.Sent()[0].first, (Body{0x19, 0xFF, 0xFF}));

    // A code without an entry selects nothing: audio source 9, text key threshold 2.
    auto odd = Open();
    ASSERT_TRUE(Checked(*odd, sids::kThresholdRadios[0]));
    device.crafted[devlink::kPictureAudioSub] =
        devlink::PictureAudioReply{64, 50, 0, 9, 4, 0, 0}.Encode(1);
    device.crafted[devlink::kTextKeySub] = devlink::TextKeyReply{2, 1, 2, 3}.Encode(1);
    Press(*odd, sids::kRefresh);
    EXPECT_EQ(odd->ControlAs<QComboBox>(sids::kAudio1)->currentIndex(), -1);
    EXPECT_EQ(odd->ControlAs<QComboBox>(sids::kAudio2)->currentText(), "HDMI");
    EXPECT_FALSE(Checked(*odd, sids::kThresholdRadios[0]));
    EXPECT_FALSE(Checked(*odd, sids::kThresholdRadios[1]));
    EXPECT_EQ(Text(*odd, 1056), "3");
}

// A radio that sends, sends on every click, key and accessibility action, also when it is checked
// already (the setting shown can be sent again); a check the dialog sets itself sends nothing.
TEST_F(SetScreenTest, CheckedRadiosSendAgainEveryWay) {
    OpeningValues v = Connected();
    v.pipOpen = true;
    v.pipPreset = 1;  // opens on M2
    auto d = Open(v);
    struct Case {
        int radio;
        std::vector<Body> sent;
    } cases[] = {
        {sids::kSharp, {{0x17, 0x01}}},
        {sids::kNormal, {{0x17}}},
        {sids::kSyncMosaic, {{0x22, 0x01}}},
        {sids::kNoSyncMosaic, {{0x22}}},
        {sids::kLayoutRadios[1], {{0xFE, 0x09}, {0xFE, 0x0A}, {0x24, 0x01}}},
    };
    for (const Case& c : cases) {
        auto* radio = d->ControlAs<QAbstractButton>(c.radio);
        device.Clear();
        radio->setChecked(true);  // as the readback does
        testutil::ProcessEvents();
        EXPECT_TRUE(device.Sent().empty()) << c.radio;
        for (testutil::Way way :
             {testutil::Way::Mouse, testutil::Way::Keyboard, testutil::Way::Accessibility}) {
            SCOPED_TRACE(std::to_string(c.radio) + " " + testutil::WayName(way));
            device.Clear();
            ASSERT_TRUE(radio->isChecked());
            ASSERT_TRUE(testutil::Operate(radio, way));
            EXPECT_TRUE(WaitUntil([&] { return !d->Busy() && device.Sent().size() == c.sent.size(); }));
            std::vector<Body> bodies;
            for (const auto& [body, ms] : device.Sent()) {
                bodies.push_back(body);
            }
            EXPECT_EQ(bodies, c.sent);
        }
    }
    // V2/YPbPr (open only while no PIP and no TEXT).
    auto plain = Open(Connected());
    auto* v2 = plain->ControlAs<QAbstractButton>(sids::kV2Radio);
    ASSERT_TRUE(v2->isChecked());
    for (testutil::Way way :
         {testutil::Way::Mouse, testutil::Way::Keyboard, testutil::Way::Accessibility}) {
        SCOPED_TRACE(testutil::WayName(way));
        device.Clear();
        ASSERT_TRUE(testutil::Operate(v2, way));
        EXPECT_TRUE(WaitUntil([&] { return !plain->Busy() && device.Sent().size() == 1; }));
        ASSERT_EQ(device.Sent().size(), 1u);
        EXPECT_EQ(device.Sent()[0].first, (Body{0x1A}));
    }
}

TEST_F(SetScreenTest, ModeRadiosSendWhatTheyBecome) {
    auto d = Open();
    struct Case {
        int radio;
        Body sent;
        const char* info;
    } cases[] = {
        {sids::kSharp, {0x17, 0x01}, "Set successfully"},
        {sids::kNormal, {0x17}, "Set successfully"},
        {sids::kSyncMosaic, {0x22, 0x01}, "Set successfully"},
        {sids::kNoSyncMosaic, {0x22}, "Set successfully"},
        {sids::kYPbPrRadio, {0x1A, 0x01}, ""},
        {sids::kV2Radio, {0x1A}, ""},
    };
    for (const Case& c : cases) {
        device.Clear();
        d->ControlAs<QLineEdit>(sids::kInfo)->clear();
        QAccessibleInterface* r = QAccessible::queryAccessibleInterface(d->Control(c.radio));
        r->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_TRUE(WaitUntil([&] { return !d->Busy(); }));
        EXPECT_TRUE(Checked(*d, c.radio)) << c.radio;
        ASSERT_EQ(device.Sent().size(), 1u) << c.radio;
        EXPECT_EQ(device.Sent()[0], (std::pair<Body, int>{c.sent, 1000})) << c.radio;
        EXPECT_EQ(Text(*d, sids::kInfo), c.info) << c.radio;
    }
    EXPECT_EQ(device.sim.device.State().functions & devlink::kV2YPbPrBit, 0);
}

TEST_F(SetScreenTest, AReadbackKeepsTheWindowAnsweringAndExitEndsIt) {
    device.queryMs = 400;  // a slow device: the readback takes seconds
    OpeningValues v = Connected();
    v.pipOpen = true;
    auto d = std::make_unique<CSetScreen>(nullptr, v, [this](platform::StopFlag& stop) {
        return std::make_unique<RunnerLink>(device, stop);
    });
    d->show();
    EXPECT_TRUE(d->Busy());
    EXPECT_EQ(Text(*d, sids::kInfo), "Reading the settings from the device, please wait");
    // The UI thread keeps turning: a timer's worst lateness while the readback runs.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    WaitUntil([&] { return !Text(*d, 1037).isEmpty(); }, 3000);  // shown as it comes
    EXPECT_EQ(Text(*d, 1037), "1920");
    EXPECT_TRUE(d->Busy());
    EXPECT_LT(worst, 200);
    for (int id : {1000, 1016, 1024, 1044, 1072, 1020}) {
        EXPECT_FALSE(Enabled(*d, id)) << id;
    }
    ASSERT_TRUE(Enabled(*d, sids::kExit));

    // Exit during the readback: the dialog closes at once, nothing more is asked, the
    // controls the readback held are given back.
    QElapsedTimer exit;
    exit.start();
    d->ControlAs<QAbstractButton>(sids::kExit)->click();
    EXPECT_LT(exit.elapsed(), 300);
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(d->Busy());
    const size_t asked = device.Sent().size();
    EXPECT_LT(asked, 8u);
    WaitUntil([] { return false; }, 600);
    EXPECT_EQ(device.Sent().size(), asked);
}

TEST_F(SetScreenTest, CaptionsNamesAndReachInBothLanguages) {
    for (bool chinese : {false, true}) {
        auto d = Open(Connected(chinese));
        EXPECT_EQ(d->windowTitle(), Utf8(chinese ? "屏幕参数" : "Screen Program"));
        for (const res::Caption& c : res::SetScreenCaptions()) {
            if (c.id != res::kWindowTitle) {
                EXPECT_EQ(Text(*d, c.id), Utf8(chinese ? c.zh : c.en)) << c.id;
            }
        }
        // Template texts stay in both languages.
        EXPECT_EQ(Text(*d, 1078), "V1  >>  V2");
        EXPECT_EQ(Text(*d, 1020), "M1");
        EXPECT_EQ(Text(*d, 1164), "MAIN");
        EXPECT_EQ(Text(*d, 1200), "(0,0)");
        for (const res::Caption& n : res::SetScreenNames()) {
            EXPECT_EQ(d->Control(n.id)->accessibleName(), Utf8(chinese ? n.zh : n.en)) << n.id;
        }
        // The audio lists are named by the labels before them ("AD1", "AD2"): on Linux a
        // list's accessible name is its current entry.
        for (const auto& [list, caption] :
             {std::pair{sids::kAudio1, "AD1"}, {sids::kAudio2, "AD2"}}) {
            const auto labels = QAccessible::queryAccessibleInterface(d->Control(list))
                                    ->relations(QAccessible::Label);
            EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](const auto& l) {
                return l.first->text(QAccessible::Name) == caption;
            })) << caption;
        }
        EXPECT_EQ(d->Control(1024)->accessibleName(), Utf8(chinese ? "主窗口 宽度" : "Main Width"));
        EXPECT_EQ(d->Control(1025)->toolTip(), ">=0");
        EXPECT_EQ(d->Control(1158)->toolTip(), ">=48");

        // Every control is on the accessibility tree, and every one a person can use has a
        // name of its own.
        std::set<QObject*> reached;
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
            for (int i = 0; i < iface->childCount(); ++i) {
                if (QAccessibleInterface* child = iface->child(i)) {
                    reached.insert(child->object());
                    walk(child);
                }
            }
        };
        walk(QAccessible::queryAccessibleInterface(d.get()));
        std::set<QString> names;
        for (QWidget* w : d->findChildren<QWidget*>()) {
            if (!w->property("controlId").isValid()) {
                continue;
            }
            EXPECT_TRUE(reached.count(w)) << w->objectName().toStdString();
            if (w->focusPolicy() != Qt::NoFocus && !qobject_cast<QComboBox*>(w)) {
                const QString name =
                    QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
                EXPECT_FALSE(name.isEmpty()) << w->objectName().toStdString();
                EXPECT_TRUE(names.insert(name).second) << name.toStdString();
            }
        }
    }
}

// With ORN312_SCREENSHOT_DIR set, saves the dialog after its readback in both languages, and
// during a readback from a slow device.
TEST_F(SetScreenTest, Screenshots) {
    const QString out = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (out.isEmpty()) {
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to save screenshots";
    }
    OpeningValues v = Connected();
    v.pipOpen = true;
    v.pipPreset = 0;
    for (bool chinese : {false, true}) {
        v.chinese = chinese;
        auto d = Open(v);
        Type(*d, 1024, "1000");  // one modified box
        d->show();
        WaitUntil([] { return false; }, 300);
        d->grab().save(out + (chinese ? "/setscreen-zh.png" : "/setscreen-en.png"));
    }
    device.queryMs = 400;
    v.chinese = false;
    auto d = std::make_unique<CSetScreen>(nullptr, v, [this](platform::StopFlag& stop) {
        return std::make_unique<RunnerLink>(device, stop);
    });
    d->show();
    WaitUntil([] { return false; }, 1500);
    d->grab().save(out + "/setscreen-reading.png");
}
