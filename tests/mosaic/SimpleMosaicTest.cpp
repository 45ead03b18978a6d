// The fast mosaic dialog talking to the simulator's device through its sequence runner: the
// connect sequence behind the wait dialog, the device ID choice, Detect, the two Sets, the mosaic
// mode, Exit during a sequence, and a whole 3 × 4 wall in both languages.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <memory>
#include <string>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "controls/ColorButton.h"
#include "controls/Progress.h"
#include "link/Replies.h"
#include "resources/MosaicIds.h"
#include "mosaic/MosaicTestLinks.h"
#include "mosaic/SimpleMosaic.h"

namespace ids = mosaic::ids;
using testutil::Body;
using testutil::TimelineLink;
using testutil::WaitUntil;

namespace {

std::string Utf8(const QString& s) {
    return s.toStdString();
}

class MosaicDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    // A dialog over the simulator's device deviceId; the main window's device ID is mainId.
    void Open(bool chinese, uint8_t deviceId = 1, uint8_t mainId = 1, bool realPauses = false) {
        dlg.reset();
        device = std::make_unique<TimelineLink>(deviceId);
        TimelineLink* target = device.get();
        dlg = std::make_unique<CSimpleMosaic>(
            nullptr, chinese, [target, mainId, realPauses](platform::StopFlag& stop) {
                return std::make_unique<testutil::ForwardLink>(*target, mainId, stop, realPauses);
            });
    }

    QAbstractButton* Button(int id) const { return dlg->ControlAs<QAbstractButton>(id); }
    QLineEdit* Edit(int id) const { return dlg->ControlAs<QLineEdit>(id); }
    QComboBox* List(int id) const { return dlg->ControlAs<QComboBox>(id); }
    bool Enabled(int id) const { return dlg->Control(id)->isEnabled(); }
    bool SetControlsEnabled() const {
        return Enabled(ids::kSetInput) && Enabled(ids::kSetOutput) && Enabled(ids::kNoSyncMosaic) &&
               Enabled(ids::kSyncMosaic);
    }
    bool SetControlsDisabled() const {
        return !Enabled(ids::kSetInput) && !Enabled(ids::kSetOutput) &&
               !Enabled(ids::kNoSyncMosaic) && !Enabled(ids::kSyncMosaic);
    }
    // Waits for the sequence started by the last action and for what it queued after itself.
    void Settle() {
        ASSERT_TRUE(WaitUntil([&] { return !dlg->m_runner->Busy(); }));
        testutil::ProcessEvents();
    }
    void Connect() {
        Button(ids::kConnect)->click();
        Settle();
    }
    void Custom(int rows, int cols) {
        Edit(ids::kRowBox)->setText(QString::number(rows));
        Edit(ids::kColumnBox)->setText(QString::number(cols));
        Button(ids::kSpecOk)->click();
    }
    static void DoAction(QWidget* w, const QString& action) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_TRUE(a && a->actionInterface());
        a->actionInterface()->doAction(action);
    }
    std::vector<std::string> Sent() const {
        std::vector<std::string> bodies;
        for (const devlink::Frame& f : device->frames) {
            bodies.push_back(Body(f));
        }
        return bodies;
    }

    testutil::FakeUi ui;
    std::unique_ptr<TimelineLink> device;
    std::unique_ptr<CSimpleMosaic> dlg;
};

}  // namespace

TEST_F(MosaicDialog, ConnectShowsWhatTheDeviceReports) {
    struct Case {
        const char* what;
        std::function<void(TimelineLink&)> setup;
        int listIndex;
        const char* listText;  // of the selected entry
        int width, height;     // in the Effects-show caption
        bool setEnabled;
        int ready;
        const char* message[2];  // English, Chinese ("" none)
        const char* caption[2];
    };
    const auto ext = [](TimelineLink& l) {
        l.Apply(devlink::SourceSwitch(1, 0, devlink::kExt));
        l.Apply(devlink::MosaicCommand(1, true));
    };
    const Case cases[] = {
        {"index 6, recovered",
         [](TimelineLink&) {},
         6,
         "1920x1080@60Hz",
         1920,
         1080,
         true,
         1,
         {"", ""},
         {"", ""}},
        {"custom 1920x1080@60",
         [&](TimelineLink& l) {
             l.Apply(devlink::ResolutionCommand(1, 16));
             ext(l);
         },
         16,
         "1920x1080@60Hz(Custom)|1920x1080@60Hz(自定义)",
         1920,
         1080,
         true,
         1,
         {"", ""},
         {"", ""}},
        {"index 20",
         [&](TimelineLink& l) {
             l.patches[0x03] = [](devlink::Frame& r) { return r[3] = 20, true; };
             ext(l);
         },
         -1,
         "",
         1024,
         768,
         true,
         1,
         {"", ""},
         {"", ""}},
        {"silent device",
         [](TimelineLink& l) { l.silent = true; },
         -1,
         "",
         1024,
         768,
         false,
         1,
         {"", ""},
         {"", ""}},
        {"status unanswered",
         [](TimelineLink& l) { l.patches[0x00] = [](devlink::Frame&) { return false; }; },
         6,
         "1920x1080@60Hz",
         1920,
         1080,
         false,
         0,
         {"Can not connect to the device, detection device address",
          "无法连接到设备，请检测设备地址"},
         {"System infomation", "系统消息"}},
        {"DVI without a picture",
         [](TimelineLink& l) {
             l.Apply(devlink::ResolutionCommand(1, 0));
             l.Apply(devlink::SourceSwitch(1, 0, devlink::kDvi));
             l.device.SetSignal(devlink::kDvi, false);
         },
         0,
         "1024X768@60Hz",
         1024,
         768,
         false,
         1,
         {"Please detection DVI channel signal", "请检测DVI通道是否有信号"},
         {"System infomation", "系统消磁"}},
    };
    for (int zh = 0; zh < 2; ++zh) {
        for (const Case& c : cases) {
            const std::string what = std::string(c.what) + (zh ? " zh" : " en");
            Open(zh != 0);
            c.setup(*device);
            ui.boxes.clear();
            ui.dialogs.clear();
            Connect();
            EXPECT_EQ(ui.dialogs, std::vector<std::string>{"CProgress"}) << what;
            EXPECT_EQ(ui.hung, 0) << what;
            EXPECT_FALSE(dlg->m_progress->isVisible()) << what;
            EXPECT_EQ(dlg->m_progress->m_purpose, 1);
            EXPECT_EQ(dlg->m_progress->m_bChinese, zh != 0);
            EXPECT_EQ(List(ids::kResolutionList)->currentIndex(), c.listIndex) << what;
            const QStringList texts = QString::fromUtf8(c.listText).split(u'|');
            EXPECT_EQ(List(ids::kResolutionList)->currentText(),
                      texts.size() > 1 ? texts[zh] : texts[0])
                << what;
            const QString caption = ui::CaptionOf(dlg->Control(ids::kEffectsShow));
            EXPECT_TRUE(caption.contains(QStringLiteral("<=%1").arg(c.width)) &&
                        caption.contains(QStringLiteral("<=%1）").arg(c.height)))
                << what << ": " << Utf8(caption);
            EXPECT_EQ(SetControlsEnabled(), c.setEnabled) << what;
            EXPECT_EQ(dlg->m_bDeviceReady, c.ready) << what;
            if (*c.message[zh] != 0) {
                ASSERT_EQ(ui.boxes.size(), 1u) << what;
                EXPECT_EQ(ui.boxes[0].text, c.message[zh]) << what;
                EXPECT_EQ(ui.boxes[0].caption, c.caption[zh]) << what;
                EXPECT_EQ(ui.boxes[0].languageId, zh ? 2052 : 1033) << what;
            } else {
                EXPECT_TRUE(ui.boxes.empty()) << what;
            }
        }
    }
}

TEST_F(MosaicDialog, ConnectChecksTheMosaicModeTheDeviceReports) {
    for (bool sync : {true, false}) {
        Open(false);
        device->Apply(devlink::SyncModeCommand(1, sync));
        Connect();
        EXPECT_EQ(Button(ids::kSyncMosaic)->isChecked(), sync);
        EXPECT_EQ(Button(ids::kNoSyncMosaic)->isChecked(), !sync);
        // Showing the mode sends nothing.
        for (const std::string& body : Sent()) {
            EXPECT_NE(body.substr(0, 2), "22");
        }
    }
}

TEST_F(MosaicDialog, TheDeviceIdComesFromTheRadiosOrTheList) {
    Open(false);
    ui.answer = false;
    DoAction(dlg->Control(ids::kIdRadios[2]), QAccessibleActionInterface::toggleAction());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Please connect the serial port");
    EXPECT_EQ(ui.boxes[0].caption, "System infomation");
    EXPECT_EQ(dlg->m_mosaicId, 1);
    EXPECT_EQ(List(ids::kIdList)->currentText(), "1");
    EXPECT_TRUE(Button(ids::kIdRadios[0])->isChecked());  // shows the device ID in use

    ui.answer = true;
    Button(ids::kIdRadios[2])->click();
    EXPECT_EQ(dlg->m_mosaicId, 3);
    EXPECT_EQ(List(ids::kIdList)->currentText(), "3");
    EXPECT_TRUE(Button(ids::kIdRadios[2])->isChecked());

    ui.boxes.clear();
    testutil::Choose(List(ids::kIdList), 11);
    EXPECT_EQ(dlg->m_mosaicId, 12);
    for (int id : ids::kIdRadios) {
        EXPECT_FALSE(Button(id)->isChecked()) << id;
    }
    testutil::Choose(List(ids::kIdList), 8);
    EXPECT_EQ(dlg->m_mosaicId, 9);
    EXPECT_TRUE(Button(ids::kIdRadios[8])->isChecked());
    EXPECT_TRUE(ui.boxes.empty());  // the list asks nothing
    EXPECT_EQ(List(ids::kIdList)->count(), 255);

    Open(true);
    Button(ids::kIdRadios[1])->click();
    EXPECT_EQ(ui.boxes.back().text, "请连接好串口");
    EXPECT_EQ(ui.boxes.back().caption, "系统提示 ");
}

TEST_F(MosaicDialog, SetsSendTheSelectedScreensWindowsToTheDialogsDevice) {
    Open(false, 3, 1);
    // Before a connect sequence nothing is sent.
    dlg->AutoCalculate();
    Button(ids::kSetInput)->click();
    Settle();
    EXPECT_TRUE(device->frames.empty());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(SetControlsEnabled());

    testutil::Choose(List(ids::kIdList), 2);  // device 3
    Connect();
    ASSERT_EQ(dlg->m_outWidth, 1920);
    Button(ids::kPresets[2])->click();  // 1X3
    Button(ids::kNumberButtonBase + 1)->click();
    Button(ids::kAutoCalculate)->click();
    device->frames.clear();
    Button(ids::kSetInput)->click();
    EXPECT_TRUE(SetControlsDisabled());  // while it is sent
    Settle();
    ASSERT_EQ(device->frames.size(), 1u);
    EXPECT_EQ(devlink::HexText(device->frames[0].data(), 13),
              "05 03 23 00 02 80 02 80 00 00 04 38 19");
    EXPECT_TRUE(SetControlsEnabled());
    for (int id = 1256; id <= 1263; ++id) {
        EXPECT_FALSE(dlg->Changed(id)) << id;
    }
    for (int id = 1264; id <= 1271; ++id) {
        EXPECT_TRUE(dlg->Changed(id)) << id;
    }
    Button(ids::kSetOutput)->click();
    Settle();
    ASSERT_EQ(device->frames.size(), 2u);
    EXPECT_EQ(Body(device->frames[1]), "2c 00 00 00 07 80 00 00 04 38");
    EXPECT_EQ(device->frames[1][1], 3);
    for (int id = 1264; id <= 1271; ++id) {
        EXPECT_FALSE(dlg->Changed(id)) << id;
    }
    const auto& s = device->device.State();
    EXPECT_EQ((std::vector<int>{s.input.hs, s.input.w, s.input.vs, s.input.h}),
              (std::vector<int>{640, 640, 0, 1080}));

    // An odd start: the message, its Adjusted box marked, nothing sent.
    dlg->Control(ids::kInputArrows[2])->findChild<QToolButton*>("up")->click();
    for (int id = 1256; id <= 1263; ++id) {
        if (id != 1262) {
            ASSERT_FALSE(dlg->Changed(id)) << id;
        }
    }
    Button(ids::kSetInput)->click();
    Settle();
    EXPECT_EQ(device->frames.size(), 2u);
    EXPECT_EQ(ui.boxes.back().text, "The input value must be even, and can not be odd");
    EXPECT_TRUE(dlg->Changed(1262));
    EXPECT_EQ(Edit(1262)->text(), "1");
    EXPECT_TRUE(SetControlsEnabled());
}

TEST_F(MosaicDialog, MosaicModeGoesToTheMainWindowsDevice) {
    Open(false, 3, 1);
    testutil::Choose(List(ids::kIdList), 2);
    Connect();
    ASSERT_TRUE(SetControlsEnabled());
    device->frames.clear();
    ui.boxes.clear();
    DoAction(dlg->Control(ids::kSyncMosaic), QAccessibleActionInterface::toggleAction());
    Settle();
    ASSERT_EQ(device->frames.size(), 1u);
    EXPECT_EQ(device->frames[0][1], 1);
    EXPECT_EQ(Body(device->frames[0]), "22 01");
    EXPECT_EQ(device->timeline.back(), "S 22 01/3000");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Set up successfully");
    EXPECT_EQ(ui.boxes[0].caption, "System information");
    Button(ids::kNoSyncMosaic)->click();
    Settle();
    EXPECT_EQ(Body(device->frames.back()), "22 00");
}

// The mode radio shows this dialog's device's mode; its command goes to the main window's device:
// a click, a key or the accessibility action sends again the mode shown, every time.
TEST_F(MosaicDialog, ACheckedModeRadioSendsAgainEveryWay) {
    Open(false);
    Connect();
    ASSERT_TRUE(SetControlsEnabled());
    for (int id : {ids::kSyncMosaic, ids::kNoSyncMosaic}) {
        Button(id)->setChecked(true);  // as the connect sequence does
        device->frames.clear();
        ui.boxes.clear();
        testutil::ProcessEvents();
        EXPECT_TRUE(device->frames.empty());
        for (testutil::Way way :
             {testutil::Way::Mouse, testutil::Way::Keyboard, testutil::Way::Accessibility}) {
            SCOPED_TRACE(std::to_string(id) + " " + testutil::WayName(way));
            device->frames.clear();
            ASSERT_TRUE(Button(id)->isChecked());
            ASSERT_TRUE(testutil::Operate(Button(id), way));
            Settle();
            ASSERT_EQ(device->frames.size(), 1u);
            EXPECT_EQ(Body(device->frames[0]), id == ids::kSyncMosaic ? "22 01" : "22 00");
        }
        EXPECT_EQ(ui.boxes.size(), 3u);
    }
}

// While a Set holds the dialog's input, the grid keeps its look (the selected screen green, its
// digits plain) and takes no click, key or accessibility action.
TEST_F(MosaicDialog, TheGridKeepsItsLookWhileInputIsHeld) {
    Open(false, 1, 1, /*realPauses=*/true);
    dlg->show();
    Custom(2, 2);
    dlg->m_bDeviceReady = 1;
    Button(ids::kNumberButtonBase + 1)->click();
    dlg->AutoCalculate();
    Button(ids::kSetInput)->click();  // a frame, then 1000 ms
    ASSERT_TRUE(dlg->m_runner->Busy());
    EXPECT_FALSE(Enabled(ids::kAutoCalculate));
    for (int n = 0; n < 4; ++n) {
        auto* b = dlg->ControlAs<CColorButton>(ids::kNumberButtonBase + n);
        EXPECT_TRUE(b->isEnabled()) << n;
        EXPECT_EQ(b->ItemState() & CColorButton::kDisabled, 0u) << n;
        EXPECT_EQ(b->m_faceColour, n == 1 ? QColor(0, 255, 0) : QColor(169, 169, 169)) << n;
    }
    const QImage look = dlg->Control(ids::kNumberButtonBase + 1)->grab().toImage();
    EXPECT_EQ(look.pixelColor(look.width() / 2, 6), QColor(0, 255, 0));
    for (testutil::Way way :
         {testutil::Way::Mouse, testutil::Way::Keyboard, testutil::Way::Accessibility}) {
        testutil::Operate(Button(ids::kNumberButtonBase + 2), way);
        testutil::ProcessEvents(150);  // an accessibility press lands after 100 ms
        EXPECT_EQ(dlg->m_selected, 1) << testutil::WayName(way);
    }
    Settle();
    Button(ids::kNumberButtonBase + 2)->click();
    EXPECT_EQ(dlg->m_selected, 2);  // free again
}

TEST_F(MosaicDialog, DetectJudgesTheSignal) {
    Open(false);
    device->Apply(devlink::SourceSwitch(1, 0, devlink::kDvi));
    device->Apply(devlink::MosaicCommand(1, true));
    Button(ids::kDetect)->click();
    Settle();
    EXPECT_TRUE(SetControlsEnabled());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(dlg->m_bDeviceReady, 0);  // Detect is no connect sequence

    device->Apply(devlink::SourceSwitch(1, 0, devlink::kHdmi));
    Button(ids::kDetect)->click();
    Settle();
    EXPECT_TRUE(SetControlsDisabled());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Please detection DVI channel signal");
    EXPECT_EQ(ui.boxes[0].caption, "System information");

    device->silent = true;
    dlg->AutoCalculate();
    Button(ids::kDetect)->click();
    Settle();
    EXPECT_TRUE(SetControlsEnabled());  // no answer: nothing changes
    EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(MosaicDialog, ExitStopsASequenceAndTheWindowKeepsRunningMeanwhile) {
    Open(false, 1, 1, /*realPauses=*/true);
    dlg->show();
    dlg->m_bDeviceReady = 1;
    dlg->AutoCalculate();
    Button(ids::kSetInput)->click();  // a frame, then 1000 ms
    ASSERT_TRUE(dlg->m_runner->Busy());
    EXPECT_TRUE(Enabled(ids::kExit));
    EXPECT_FALSE(Enabled(ids::kAutoCalculate));
    // The event loop keeps turning while the frame's pause runs.
    QElapsedTimer t;
    t.start();
    int turns = 0;
    while (t.elapsed() < 300) {
        testutil::ProcessEvents(10);
        ++turns;
    }
    EXPECT_GT(turns, 5);
    t.restart();
    Button(ids::kExit)->click();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_FALSE(dlg->m_runner->Busy());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

// However the dialog is closed during the connect wait, the wait box goes with it and the
// program takes input again.
TEST_F(MosaicDialog, ClosingDuringTheConnectWaitClosesTheWaitBox) {
    const struct {
        const char* way;
        std::function<void(CSimpleMosaic&)> close;
    } ways[] = {
        {"Exit clicked",
         [](CSimpleMosaic& d) { d.ControlAs<QAbstractButton>(ids::kExit)->click(); }},
        {"Exit's accessibility action",
         [](CSimpleMosaic& d) {
             DoAction(d.Control(ids::kExit), QAccessibleActionInterface::pressAction());
         }},
        {"Escape",
         [](CSimpleMosaic& d) {
             QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&d, &key);
         }},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.way);
        Open(false, 1, 1, /*realPauses=*/true);
        device->queryMs = 3000;  // the device answers slowly: the wait lasts
        dlg->show();
        ui.hung = 0;
        ui.watchdogMs = 5000;
        bool closedDuringWait = false;
        QTimer act;
        QObject::connect(&act, &QTimer::timeout, [&] {
            if (!closedDuringWait && dlg->m_progress->isVisible() && dlg->m_runner->Busy()) {
                closedDuringWait = true;
                w.close(*dlg);
            }
        });
        act.start(20);
        QElapsedTimer t;
        t.start();
        Button(ids::kConnect)->click();  // returns when the wait box has closed
        act.stop();
        EXPECT_TRUE(closedDuringWait);
        EXPECT_EQ(ui.hung, 0);
        EXPECT_LT(t.elapsed(), 4000);
        EXPECT_FALSE(dlg->m_progress->isVisible());
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_FALSE(dlg->m_runner->Busy());
    }
}

TEST_F(MosaicDialog, AThreeByFourWallIsLaidOutAndSentInBothLanguages) {
    // Columns 640, 320, 640, 320 wide; rows 360, 540, 180 high: a 1920 × 1080 picture.
    const int widths[4] = {640, 320, 640, 320};
    const int heights[3] = {360, 540, 180};
    for (bool chinese : {false, true}) {
        Open(chinese);
        ui.boxes.clear();
        Connect();
        ASSERT_TRUE(SetControlsEnabled());
        Custom(3, 4);
        ASSERT_EQ(dlg->m_screenCount, 12);
        for (int n = 0; n < 12; ++n) {
            Edit(ids::kWidthBoxBase + n)->setText(QString::number(widths[n % 4]));
            Edit(ids::kHeightBoxBase + n)->setText(QString::number(heights[n / 4]));
        }
        for (int n = 0; n < 12; ++n) {
            const int i = n / 4, j = n % 4;
            int x = 0, y = 0;
            for (int k = 0; k < j; ++k) {
                x += widths[k];
            }
            for (int k = 0; k < i; ++k) {
                y += heights[k];
            }
            Button(ids::kNumberButtonBase + n)->click();
            EXPECT_EQ(ui::CaptionOf(dlg->Control(ids::kInputGroup)),
                      QString::fromUtf8(chinese ? "输入（窗口号：%1）" : "Input（WindowID：%1）")
                          .arg(n, 3, 10, QChar(u'0')));
            Button(ids::kAutoCalculate)->click();
            device->frames.clear();
            Button(ids::kSetInput)->click();
            Settle();
            Button(ids::kSetOutput)->click();
            Settle();
            ASSERT_EQ(device->frames.size(), 2u) << n;
            EXPECT_EQ(device->frames[0],
                      devlink::InputWindowCommand(1, x, widths[j], y, heights[i]))
                << n;
            EXPECT_EQ(device->frames[1],
                      devlink::WindowGeometryCommand(1, devlink::kLayoutM3, false, 0, widths[j], 0,
                                                     heights[i]))
                << n;
            // Read back from the device.
            devlink::Frame reply{};
            ASSERT_EQ(device->Query(devlink::MosaicModeQuery(1), reply, 6000), 13);
            const auto input = devlink::MosaicModeReply::Decode(reply.data()).input;
            EXPECT_EQ((std::vector<int>{input.hs, input.w, input.vs, input.h}),
                      (std::vector<int>{x, widths[j], y, heights[i]}))
                << n;
            ASSERT_EQ(
                device->Query(devlink::LayoutGeometryQuery(1, devlink::LayoutGeometrySub(2, false)),
                              reply, 6000),
                13);
            const auto output = devlink::WindowReply::Decode(reply.data());
            EXPECT_EQ((std::vector<int>{output.hs, output.w, output.vs, output.h}),
                      (std::vector<int>{0, widths[j], 0, heights[i]}))
                << n;
        }
        EXPECT_TRUE(ui.boxes.empty()) << (ui.boxes.empty() ? "" : ui.boxes[0].text);
    }
}
