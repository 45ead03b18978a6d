#include "screen/Advanced.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWheelEvent>
#include <atomic>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "resources/ControlIds.h"
#include "controls/Progress.h"
#include "link/Commands.h"
#include "screen/ResolutionSequences.h"

using testutil::FakeUi;
using testutil::WaitUntil;

namespace {

// The simulator's device behind every sequence the dialog runs. A stop of the dialog's runner
// ends the sequence. With holdWait set, the processor's ten-second wait lasts until release is
// set or the sequence is stopped (waiting tells that it has begun); with holdQueries, a query
// waits for the stop.
class DeviceLinks {
public:
    ui::SequenceRunner::LinkFactory Factory() {
        return [this](platform::StopFlag& stop) { return std::make_unique<Link>(*this, stop); };
    }
    // Bytes 2..11 of every frame sent so far, as hex text.
    std::vector<std::string> Sent() const {
        std::vector<std::string> out;
        for (const auto& s : sim.sent) {
            out.push_back(devlink::HexText(s.body.data(), 10));
        }
        return out;
    }

    testutil::SimSequenceLink sim{1};
    std::atomic<bool> holdWait{false};
    std::atomic<bool> holdQueries{false};
    std::atomic<bool> waiting{false};
    std::atomic<bool> release{false};

private:
    class Link : public app::SequenceLink {
    public:
        Link(DeviceLinks& d, platform::StopFlag& stop) : m_d(d), m_stop(stop) {}
        uint8_t DeviceId() const override { return m_d.sim.DeviceId(); }
        bool Send(const devlink::Frame& frame, int delayMs) override {
            return !m_stop.Requested() && m_d.sim.Send(frame, delayMs) && !m_stop.Requested();
        }
        int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override {
            while (m_d.holdQueries && !m_stop.WaitFor(5)) {
            }
            return m_stop.Requested() ? 0 : m_d.sim.Query(frame, reply, limitMs);
        }
        bool Pause(int ms) override {
            if (m_d.holdWait && ms >= screen::kResolutionWaitMs) {
                m_d.waiting = true;
                while (!m_d.release && !m_stop.WaitFor(5)) {
                }
                m_d.waiting = false;
            }
            return !m_stop.Requested() && m_d.sim.Pause(ms);
        }
        bool Stopped() const override { return m_stop.Requested(); }

    private:
        DeviceLinks& m_d;
        platform::StopFlag& m_stop;
    };
};

const char* const kResolutionQuery = "fe 03 00 00 00 00 00 00 00 00";
const char* const kCustomQuery = "fe 0f 00 00 00 00 00 00 00 00";

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

// Presses a button the way a screen reader does. The press is animated: the click comes
// a moment later, from the event loop.
void Press(QWidget* w) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->actionInterface(), nullptr);
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    auto* button = qobject_cast<QAbstractButton*>(w);
    EXPECT_TRUE(WaitUntil([&] { return !button->isDown(); }, 3000));
}

void Key(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
}

// Runs act on the UI thread once pred holds (looked at every 10 ms), while the test is blocked
// in a modal loop.
class When {
public:
    When(std::function<bool()> pred, std::function<void()> act) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, pred, act] {
            if (!m_done && pred()) {
                m_done = true;
                act();
            }
        });
        m_timer.start(10);
    }
    bool Done() const { return m_done; }

private:
    QTimer m_timer;
    bool m_done = false;
};

class AdvancedDlg : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    // The dialog after its opening readback.
    std::unique_ptr<CCAdvanced> Open(bool chinese = false) {
        auto d = std::make_unique<CCAdvanced>(nullptr, links.Factory(), chinese);
        d->OnInitDialog();
        d->show();
        EXPECT_TRUE(WaitUntil([&] { return !d->Busy(); }));
        return d;
    }
    // The device's output resolution is code 16 with this custom size.
    void DeviceAtCustom(int w, int h, int f) {
        links.sim.device.HandleFrame(devlink::CustomResolutionCommand(1, w, h, f), 0);
        links.sim.device.HandleFrame(devlink::ResolutionCommand(1, 16), 0);
    }

    static QComboBox* List(CCAdvanced& d) {
        return qobject_cast<QComboBox*>(d.Control(CCAdvanced::kList));
    }
    static QString Text(CCAdvanced& d, int id) { return ui::CaptionOf(d.Control(id)); }
    static std::vector<bool> CustomEnabled(CCAdvanced& d) {
        std::vector<bool> on;
        for (int id :
             {CCAdvanced::kWidth, CCAdvanced::kHeight, CCAdvanced::kRate, CCAdvanced::kSave}) {
            on.push_back(d.Control(id)->isEnabled());
        }
        return on;
    }
    static QString ProgressText(CCAdvanced& d) {
        return d.Progress()
            .findChild<QLabel*>(QStringLiteral("ctl%1").arg(ids::kProgressText))
            ->text();
    }
    static void SetCustom(CCAdvanced& d, const char* w, const char* h, const char* f) {
        qobject_cast<QLineEdit*>(d.Control(CCAdvanced::kWidth))->setText(w);
        qobject_cast<QLineEdit*>(d.Control(CCAdvanced::kHeight))->setText(h);
        qobject_cast<QLineEdit*>(d.Control(CCAdvanced::kRate))->setText(f);
    }

    const std::vector<bool> kAllOn = {true, true, true, true};
    const std::vector<bool> kAllOff = {false, false, false, false};
    DeviceLinks links;
    FakeUi ui;
};

}  // namespace

TEST_F(AdvancedDlg, OpeningShowsTheDevicesResolution) {
    struct Case {
        const char* name;
        int code;  // 16: custom 1280x720@50
        bool silent;
        int index;
        bool custom;
        const char* w;
    } cases[] = {
        {"preset", 6, false, 6, false, ""},
        {"custom", 16, false, 16, true, "1280"},
        {"no answer", 6, true, -1, false, ""},
    };
    for (const Case& c : cases) {
        links.sim = testutil::SimSequenceLink(1);
        links.sim.silent = c.silent;
        if (c.code == 16) {
            DeviceAtCustom(1280, 720, 50);
        }
        auto d = Open();
        EXPECT_EQ(List(*d)->currentIndex(), c.index) << c.name;
        EXPECT_EQ(CustomEnabled(*d), c.custom ? kAllOn : kAllOff) << c.name;
        EXPECT_EQ(Text(*d, CCAdvanced::kWidth), c.w) << c.name;
        if (c.custom) {
            EXPECT_EQ(Text(*d, CCAdvanced::kHeight), "720");
            EXPECT_EQ(Text(*d, CCAdvanced::kRate), "50");
            EXPECT_EQ(links.Sent(), (std::vector<std::string>{kResolutionQuery, kCustomQuery}));
        }
        EXPECT_TRUE(d->Control(CCAdvanced::kOk)->isEnabled());
        EXPECT_TRUE(ui.dialogs.empty()) << c.name;  // no progress, no message
        EXPECT_TRUE(ui.boxes.empty()) << c.name;
    }
}

TEST_F(AdvancedDlg, ChoosingAPresetSendsWaitsAndDisablesTheCustomBoxes) {
    for (bool chinese : {false, true}) {
        links.sim = testutil::SimSequenceLink(1);
        DeviceAtCustom(1280, 720, 50);
        auto d = Open(chinese);
        ASSERT_EQ(CustomEnabled(*d), kAllOn);
        testutil::Choose(List(*d), 7);  // "1366x768@60Hz" chosen from the list
        EXPECT_EQ(links.Sent(), (std::vector<std::string>{kResolutionQuery, kCustomQuery,
                                                          "0d 07 00 00 00 00 00 00 00 00"}));
        EXPECT_EQ(links.sim.sent.back().ms, 1000);
        EXPECT_EQ(links.sim.device.State().resolution, 7);
        EXPECT_GE(links.sim.pausedMs, 11000);  // the command's second and the ten-second wait
        EXPECT_EQ(ui.dialogs.back(), "CProgress");
        EXPECT_EQ(ui.hung, 0);
        EXPECT_FALSE(d->Progress().isVisible());
        EXPECT_EQ(ProgressText(*d), Utf8(chinese ? "正在修改分辨率" : "Changing resolution"));
        EXPECT_EQ(CustomEnabled(*d), kAllOff);
        EXPECT_FALSE(d->Busy());
        EXPECT_TRUE(List(*d)->isEnabled());
    }
}

TEST_F(AdvancedDlg, ChoosingCustomByKeyboardFillsTheBoxesFromTheDevice) {
    links.sim.device.HandleFrame(devlink::CustomResolutionCommand(1, 1600, 900, 50), 0);
    auto d = Open();
    ASSERT_EQ(List(*d)->currentIndex(), 6);
    // A wheel turned over the list without the focus switches nothing.
    d->Control(CCAdvanced::kOk)->setFocus();
    ASSERT_FALSE(List(*d)->hasFocus());
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(List(*d), &wheel);
    EXPECT_EQ(List(*d)->currentIndex(), 6);
    EXPECT_EQ(links.Sent(), std::vector<std::string>{kResolutionQuery});

    Key(List(*d), Qt::Key_End);  // the last entry, custom: shown, not yet chosen
    EXPECT_EQ(List(*d)->currentIndex(), 16);
    EXPECT_EQ(links.Sent(), std::vector<std::string>{kResolutionQuery});
    Key(List(*d), Qt::Key_Return);
    EXPECT_EQ(links.Sent(), (std::vector<std::string>{
                                kResolutionQuery, "0d 10 00 00 00 00 00 00 00 00", kCustomQuery}));
    EXPECT_EQ(CustomEnabled(*d), kAllOn);
    EXPECT_EQ(Text(*d, CCAdvanced::kWidth), "1600");
    EXPECT_EQ(Text(*d, CCAdvanced::kHeight), "900");
    EXPECT_EQ(Text(*d, CCAdvanced::kRate), "50");

    // No answer after the change: the boxes keep their text.
    SetCustom(*d, "1", "2", "3");
    links.sim.silent = true;
    Key(List(*d), Qt::Key_Up);
    Key(List(*d), Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return !d->Busy(); }));
    Key(List(*d), Qt::Key_Down);
    Key(List(*d), Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return !d->Busy(); }));
    EXPECT_EQ(List(*d)->currentIndex(), 16);
    EXPECT_EQ(Text(*d, CCAdvanced::kWidth), "1");
    EXPECT_EQ(CustomEnabled(*d), kAllOn);
}

TEST_F(AdvancedDlg, SaveChecksTheDotClockInTheOperatorsLanguage) {
    struct Case {
        bool chinese;
        const char *w, *h, *f;
        const char* sent;  // nullptr: refused with the message
    } cases[] = {
        {false, "1920", "1080", "60", "0f 00 07 80 04 38 3c 00 00 00"},
        {true, "800", "600", "60", "0f 00 03 20 02 58 3c 00 00 00"},
        {false, "640", "480", "60", nullptr},
        {true, "2560", "1600", "60", nullptr},
        {false, "1920", "1080", "sixty", nullptr},
    };
    for (const Case& c : cases) {
        links.sim = testutil::SimSequenceLink(1);
        DeviceAtCustom(1280, 720, 50);
        auto d = Open(c.chinese);
        ui.boxes.clear();
        ui.dialogs.clear();
        SetCustom(*d, c.w, c.h, c.f);
        Press(d->Control(CCAdvanced::kSave));
        const std::vector<std::string> opening = {kResolutionQuery, kCustomQuery};
        if (c.sent == nullptr) {
            ASSERT_EQ(ui.boxes.size(), 1u) << c.w;
            EXPECT_EQ(ui.boxes[0].text, c.chinese
                                            ? "超出点频范围，点频范围是25999001~164998999"
                                            : "Dotlock out of range，range is 25999001~164998999");
            EXPECT_EQ(ui.boxes[0].caption, c.chinese ? "系统消息" : "System information");
            EXPECT_EQ(ui.boxes[0].languageId, c.chinese ? 2052 : 1033);
            EXPECT_EQ(links.Sent(), opening);
            EXPECT_TRUE(ui.dialogs.empty());  // no wait shown
            continue;
        }
        EXPECT_TRUE(ui.boxes.empty());
        std::vector<std::string> want = opening;
        want.push_back(c.sent);
        EXPECT_EQ(links.Sent(), want);  // and nothing read back
        EXPECT_EQ(ui.dialogs, std::vector<std::string>{"CProgress"});
        EXPECT_EQ(ProgressText(*d), Utf8(c.chinese ? "正在修改点频" : "Changing dotlock"));
        EXPECT_EQ(CustomEnabled(*d), kAllOn);
        EXPECT_FALSE(d->Busy());
    }
}

TEST_F(AdvancedDlg, OkDuringTheWaitStopsItAndClosesBothDialogs) {
    auto d = Open();
    links.holdWait = true;
    When ok([&] { return links.waiting.load(); }, [&] { Press(d->Control(CCAdvanced::kOk)); });
    QElapsedTimer t;
    t.start();
    testutil::Choose(List(*d), 7);  // returns once the progress dialog is closed
    EXPECT_TRUE(ok.Done());
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(ui.hung, 0);
    EXPECT_FALSE(d->Progress().isVisible());
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_FALSE(d->Busy());
    EXPECT_EQ(links.Sent(),
              (std::vector<std::string>{kResolutionQuery, "0d 07 00 00 00 00 00 00 00 00"}));
}

TEST_F(AdvancedDlg, ProgressClosedEarlyLeavesTheDialogWorking) {
    auto d = Open();
    links.holdWait = true;
    When close([&] { return links.waiting.load(); }, [&] { d->Progress().done(0); });
    testutil::Choose(List(*d), 16);
    ASSERT_TRUE(close.Done());
    // The wait goes on: inputs held but the dialog responsive, OK usable.
    EXPECT_TRUE(d->Busy());
    EXPECT_FALSE(List(*d)->isEnabled());
    EXPECT_TRUE(d->Control(CCAdvanced::kOk)->isEnabled());
    links.release = true;
    ASSERT_TRUE(WaitUntil([&] { return !d->Busy(); }));
    EXPECT_EQ(CustomEnabled(*d), kAllOn);
    EXPECT_EQ(Text(*d, CCAdvanced::kWidth), "1920");
    EXPECT_TRUE(List(*d)->isEnabled());
    EXPECT_FALSE(d->Progress().isVisible());

    // The next change shows and closes the progress dialog as usual.
    links.holdWait = false;
    testutil::Choose(List(*d), 0);
    EXPECT_EQ(ui.hung, 0);
    EXPECT_EQ(ui.dialogs, (std::vector<std::string>{"CProgress", "CProgress"}));
    EXPECT_EQ(CustomEnabled(*d), kAllOff);
    EXPECT_EQ(links.sim.device.State().resolution, 0);
}

// The resolution's wait box (about 11 s) is no trap: Escape closes it early and harmlessly, the
// work going on to its end with the dialog's inputs held.
TEST_F(AdvancedDlg, EscapeClosesTheResolutionWaitEarly) {
    auto d = Open();
    ui.watchdogMs = 4000;
    links.holdWait = true;
    When escape([&] { return links.waiting.load() && d->Progress().isVisible(); },
                [&] {
                    QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                    QApplication::sendEvent(&d->Progress(), &key);
                });
    QElapsedTimer t;
    t.start();
    testutil::Choose(List(*d), 7);  // returns once the wait box has closed
    ASSERT_TRUE(escape.Done());
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_EQ(ui.hung, 0);
    EXPECT_FALSE(d->Progress().isVisible());
    EXPECT_TRUE(d->Busy());
    links.release = true;
    ASSERT_TRUE(WaitUntil([&] { return !d->Busy(); }));
    EXPECT_EQ(links.sim.device.State().resolution, 7);
}

TEST_F(AdvancedDlg, CaptionsNamesAndClosingInBothLanguages) {
    struct Case {
        bool chinese;
        const char *title, *group, *width, *height, *rate, *save, *ok;
        const char *nameList, *nameWidth, *nameRate, *nameSave;
    } cases[] = {
        {false, "Resolution", "Output_Resolution", "Width", "Height", "Hz", "Save", "OK",
         "Output resolution", "Custom width", "Custom field rate", "Save custom resolution"},
        {true, "分辨率", "输出分辨率", "宽", "高", "场频", "保存", "确定", "输出分辨率", "自定义宽",
         "自定义场频", "保存自定义分辨率"},
    };
    const auto name = [](QWidget* w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    };
    for (const Case& c : cases) {
        auto d = Open(c.chinese);
        EXPECT_EQ(d->windowTitle(), Utf8(c.title));
        EXPECT_EQ(Text(*d, CCAdvanced::kGroup), Utf8(c.group));
        EXPECT_EQ(Text(*d, CCAdvanced::kWidthLabel), Utf8(c.width));
        EXPECT_EQ(Text(*d, CCAdvanced::kHeightLabel), Utf8(c.height));
        EXPECT_EQ(Text(*d, CCAdvanced::kRateLabel), Utf8(c.rate));
        EXPECT_EQ(Text(*d, CCAdvanced::kSave), Utf8(c.save));
        EXPECT_EQ(Text(*d, CCAdvanced::kOk), Utf8(c.ok));
        // A list's name on Linux is its current entry; the group box labels it.
        EXPECT_EQ(d->Control(CCAdvanced::kList)->accessibleName(), Utf8(c.nameList));
        const auto labels = QAccessible::queryAccessibleInterface(d->Control(CCAdvanced::kList))
                                ->relations(QAccessible::Label);
        ASSERT_FALSE(labels.empty());
        EXPECT_EQ(labels[0].first->text(QAccessible::Name), Utf8(c.group));
        EXPECT_EQ(name(d->Control(CCAdvanced::kWidth)), Utf8(c.nameWidth));
        EXPECT_EQ(name(d->Control(CCAdvanced::kRate)), Utf8(c.nameRate));
        EXPECT_EQ(name(d->Control(CCAdvanced::kSave)), Utf8(c.nameSave));
        EXPECT_EQ(name(d->Control(CCAdvanced::kOk)), Utf8(c.ok));
        ASSERT_EQ(List(*d)->count(), 17);
        EXPECT_EQ(List(*d)->itemText(7), "1366x768@60Hz");
        EXPECT_EQ(List(*d)->itemText(16), Utf8("自定义分辨率(Custom resolution)"));
    }
    // Run modally, OK closes it, also while the opening readback is still going on.
    links.holdQueries = true;
    CCAdvanced d(nullptr, links.Factory(), false);
    bool pressed = false;
    QTimer::singleShot(50, [&] {
        pressed = d.Busy();
        Press(d.Control(CCAdvanced::kOk));
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { d.done(-1); });
    watchdog.start(5000);
    EXPECT_EQ(d.ExecModal(), QDialog::Accepted);
    EXPECT_TRUE(pressed);
}

// With ORN312_SCREENSHOT_DIR set, writes the dialog with the custom entry current in both
// languages, and the progress dialog's two waits.
TEST_F(AdvancedDlg, Screenshots) {
    const QString dir = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to write the pictures";
    }
    QDir().mkpath(dir);
    DeviceAtCustom(1280, 720, 50);
    for (bool chinese : {false, true}) {
        const QString lang = chinese ? "zh" : "en";
        auto d = Open(chinese);
        testutil::ProcessEvents();
        EXPECT_TRUE(d->grab().save(QDir(dir).filePath("advanced-" + lang + ".png")));
        for (int purpose : {2, 3}) {
            d->Progress().m_bChinese = chinese;
            d->Progress().m_purpose = purpose;
            d->Progress().show();
            testutil::ProcessEvents();
            EXPECT_TRUE(d->Progress().grab().save(QDir(dir).filePath(
                QStringLiteral("advanced-progress%1-%2.png").arg(purpose).arg(lang))));
            d->Progress().hide();
        }
    }
    links.sim = testutil::SimSequenceLink(1);
    auto d = Open();
    EXPECT_TRUE(d->grab().save(QDir(dir).filePath("advanced-preset-en.png")));
}
