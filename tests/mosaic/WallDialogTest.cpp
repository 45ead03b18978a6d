// The fast mosaic's whole wall window against the simulator's devices on one line: a laid-out
// 3 × 4 wall set with one press, a screen that does not answer and its retry, Stop in the middle
// with the window answering throughout, IDs changed per screen, and the wall file saved, loaded
// and refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "FakeUi.h"
#include "QtApp.h"
#include "controls/ControlRegistry.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"
#include "mosaic/WallDialog.h"
#include "mosaic/WallFile.h"
#include "mosaic/WallTestLink.h"

namespace fs = std::filesystem;
namespace ids = mosaic::ids;
using mosaic::ScreenResult;
using testutil::WaitUntil;

namespace {

// The runner's link: every step goes to the devices of one WallSimLink (one sequence at a time, so
// one thread at a time), pauses take ms / kSpeedUp of real time and a stop cuts them short.
class WallForwardLink : public app::SequenceLink {
public:
    static constexpr int kSpeedUp = 20;
    WallForwardLink(testutil::WallSimLink& line, std::mutex& lock, platform::StopFlag& stop)
        : m_line(line), m_lock(lock), m_stop(stop) {}
    uint8_t DeviceId() const override { return 1; }
    bool Send(const devlink::Frame& frame, int delayMs) override {
        if (Stopped()) {
            return false;
        }
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_line.Send(frame, 0);
        }
        return Pause(delayMs);
    }
    int Query(const devlink::Frame& frame, devlink::Frame& reply, int limitMs) override {
        if (Stopped()) {
            return 0;
        }
        int r = 0;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            r = m_line.Query(frame, reply, limitMs);
        }
        return Pause(r == 13 ? 200 : limitMs) ? r : 0;
    }
    bool Pause(int ms) override { return !m_stop.WaitFor(ms / kSpeedUp); }
    bool Stopped() const override { return m_stop.Requested(); }

private:
    testutil::WallSimLink& m_line;
    std::mutex& m_lock;
    platform::StopFlag& m_stop;
};

const int kColumnWidths[4] = {640, 320, 640, 320};
const int kRowHeights[3] = {360, 540, 180};

class WallDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    void Open(bool chinese = false) {
        mosaic =
            std::make_unique<CSimpleMosaic>(nullptr, chinese, [this](platform::StopFlag& stop) {
                return std::make_unique<WallForwardLink>(line, lock, stop);
            });
        mosaic->show();
    }
    // The wall laid out as a person does it: the specification, then every screen's size; the
    // output size as a Connect would have read it. Then the whole wall window is opened (open)
    // or the wall set with its one press.
    void LayOut(bool open = true) {
        mosaic->m_outWidth = 1920;
        mosaic->m_outHeight = 1080;
        mosaic->ControlAs<QLineEdit>(ids::kRowBox)->setText("3");
        mosaic->ControlAs<QLineEdit>(ids::kColumnBox)->setText("4");
        mosaic->ControlAs<QAbstractButton>(ids::kSpecOk)->click();
        for (int n = 0; n < 12; ++n) {
            mosaic->m_cells[n].widthBox->setText(QString::number(kColumnWidths[n % 4]));
            mosaic->m_cells[n].heightBox->setText(QString::number(kRowHeights[n / 4]));
            mosaic->m_cells[n].widthBox->setModified(true);  // typed
        }
        CWallBar* bar = CWallBar::Of(mosaic.get());
        (open ? bar->openWall : bar->setWall)->click();  // the window is recorded, not run
        wall = CWallDialog::Of(mosaic.get());
        wall->show();
    }
    void Settle() {
        ASSERT_TRUE(WaitUntil([&] { return !wall->m_runner->Busy(); }, 20000));
        testutil::ProcessEvents();
    }
    std::vector<ScreenResult> Results() const {
        std::vector<ScreenResult> r;
        for (const auto& o : wall->m_outcomes) {
            r.push_back(o.result);
        }
        return r;
    }
    std::string ResultCell(int n) const { return wall->m_table->item(n, 6)->text().toStdString(); }
    mosaic::WindowValues InputHeld(int id) {
        std::lock_guard<std::mutex> hold(lock);
        const sim::Window& w = line.devices.at(static_cast<uint8_t>(id)).State().input;
        return {w.w, w.h, w.hs, w.vs};
    }

    testutil::FakeUi ui;
    testutil::WallSimLink line{1, 12};
    std::mutex lock;
    std::unique_ptr<CSimpleMosaic> mosaic;
    CWallDialog* wall = nullptr;
};

}  // namespace

TEST_F(WallDialog, ALaidOutWallIsSetWithOnePressAndEveryScreenVerified) {
    Open();
    // The window keeps turning while the wall is set.
    QElapsedTimer since;
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longest = std::max(longest, since.restart()); });
    since.start();
    tick.start(10);
    LayOut(false);  // ends with the one press of the fast mosaic's "Set whole wall"
    EXPECT_EQ(ui.dialogs.back(), "CWallDialog");
    ASSERT_EQ(wall->m_table->rowCount(), 12);
    EXPECT_EQ(wall->m_table->item(5, 1)->text(), "6");  // first ID 1 + 5
    EXPECT_EQ(wall->m_table->item(5, 2)->text(), "320");
    EXPECT_TRUE(wall->m_stop->isEnabled());
    EXPECT_TRUE(WaitUntil([&] { return wall->m_progress->value() >= 1; }));
    EXPECT_NE(wall->m_progress->format().toStdString().find(" of 12 ("), std::string::npos)
        << wall->m_progress->format().toStdString();
    Settle();
    tick.stop();
    EXPECT_LT(longest, 500);

    EXPECT_EQ(Results(), std::vector<ScreenResult>(12, ScreenResult::kVerified));
    EXPECT_EQ(wall->m_summary->toPlainText(), "12 of 12 screens set and verified.");
    EXPECT_EQ(ResultCell(11), "set and verified");
    EXPECT_FALSE(wall->m_retry->isEnabled());
    EXPECT_FALSE(wall->m_stop->isEnabled());
    EXPECT_EQ(InputHeld(6), (mosaic::WindowValues{320, 540, 640, 360}));
    EXPECT_EQ(InputHeld(12), (mosaic::WindowValues{320, 180, 1600, 900}));
}

TEST_F(WallDialog, AScreenNotAnsweringIsReportedAndItsRetrySetsItAlone) {
    line.devices.erase(6);
    Open(true);
    LayOut();
    wall->m_set->click();
    Settle();
    std::vector<ScreenResult> want(12, ScreenResult::kVerified);
    want[5] = ScreenResult::kNotAnswering;
    EXPECT_EQ(Results(), want);
    EXPECT_EQ(wall->m_summary->toPlainText().toStdString(),
              "12 块屏幕中 11 块已设置并核对。\n屏幕 005（ID 6）：无应答");
    EXPECT_EQ(ResultCell(5), "无应答");
    ASSERT_TRUE(wall->m_retry->isEnabled());

    // The screen's processor had another ID: changed in its row, then retried alone.
    const size_t before = [&] {
        std::lock_guard<std::mutex> hold(lock);
        line.Add(30);
        return line.log.size();
    }();
    QTableWidgetItem* id = wall->m_table->item(5, 1);
    id->setText("30");
    EXPECT_EQ(wall->Plan().screens[5].deviceId, 30);
    wall->m_retry->click();
    Settle();
    EXPECT_EQ(Results(), std::vector<ScreenResult>(12, ScreenResult::kVerified));
    {
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_EQ(line.log.size() - before, 5u);  // two Sets and three questions, for ID 30 only
    }
    EXPECT_EQ(InputHeld(30), (mosaic::WindowValues{320, 540, 640, 360}));
    EXPECT_FALSE(wall->m_retry->isEnabled());

    // A wrong ID typed in is refused and the row keeps its ID.
    id->setText("300");
    EXPECT_EQ(id->text(), "30");
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().text, "屏幕 005：设备ID 300 超出 1..255");
    // The first ID (in the fast mosaic's row, or here) moves every ID not set by hand.
    CWallBar::Of(mosaic.get())->firstId->setValue(101);
    EXPECT_EQ(wall->m_firstId->value(), 101);
    EXPECT_EQ(wall->m_table->item(0, 1)->text(), "101");
    EXPECT_EQ(wall->m_table->item(5, 1)->text(), "30");
    EXPECT_EQ(wall->m_table->item(11, 1)->text(), "112");
}

TEST_F(WallDialog, StopEndsTheWallAfterTheFrameInFlightAndKeepsWhatItDid) {
    Open();
    LayOut();
    wall->m_set->click();
    ASSERT_TRUE(WaitUntil([&] { return wall->m_progress->value() >= 3; }));
    wall->m_stop->click();
    EXPECT_FALSE(wall->m_runner->Busy());  // at once
    const size_t sent = [&] {
        std::lock_guard<std::mutex> hold(lock);
        return line.log.size();
    }();
    testutil::ProcessEvents(300);
    {
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_EQ(line.log.size(), sent);  // nothing after the stop
    }
    const std::vector<ScreenResult> r = Results();
    const auto verified = std::count(r.begin(), r.end(), ScreenResult::kVerified);
    EXPECT_GE(verified, 3);
    EXPECT_LT(verified, 12);
    EXPECT_EQ(std::count(r.begin(), r.end(), ScreenResult::kNotDone) +
                  std::count(r.begin(), r.end(), ScreenResult::kStopped),
              12 - verified);
    EXPECT_FALSE(wall->m_stop->isEnabled());
    EXPECT_TRUE(wall->m_retry->isEnabled());
    EXPECT_NE(wall->m_summary->toPlainText().toStdString().find(std::to_string(verified) +
                                                                " of 12 screens set and verified."),
              std::string::npos);
    EXPECT_NE(wall->m_summary->toPlainText().toStdString().find("Screen 011 (ID 12): not set"),
              std::string::npos);

    // The rest, by a retry.
    wall->m_retry->click();
    Settle();
    EXPECT_EQ(Results(), std::vector<ScreenResult>(12, ScreenResult::kVerified));
}

TEST_F(WallDialog, ClosingTheWindowsWhileAWallIsSetEndsItAtOnce) {
    Open();
    LayOut(false);
    ASSERT_TRUE(WaitUntil([&] { return wall->m_progress->value() >= 1; }));
    wall->reject();  // Close, Escape or the close box
    EXPECT_FALSE(wall->m_runner->Busy());
    EXPECT_NE(wall->m_summary->toPlainText().toStdString().find(" of 12 screens set and verified."),
              std::string::npos);

    wall->m_set->click();
    ASSERT_TRUE(WaitUntil([&] { return wall->m_progress->value() >= 1; }));
    QElapsedTimer t;
    t.start();
    mosaic.reset();  // the fast mosaic goes, and the wall window with it
    EXPECT_LT(t.elapsed(), 1000);
    const size_t sent = [&] {
        std::lock_guard<std::mutex> hold(lock);
        return line.log.size();
    }();
    testutil::ProcessEvents(300);
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(line.log.size(), sent);
}

TEST_F(WallDialog, AScreensSetKeepsItsAdjustmentsForTheWholeWall) {
    Open();
    LayOut();
    mosaic->m_bDeviceReady = 1;
    mosaic->SelectScreen(5);
    mosaic->AutoCalculate();
    mosaic->StepAdjusted(ids::kInputArrows[2], -1);  // horizontal start, up twice
    mosaic->StepAdjusted(ids::kInputArrows[2], -1);
    mosaic->ControlAs<QAbstractButton>(ids::kSetInput)->click();
    ASSERT_TRUE(WaitUntil([&] { return !mosaic->m_runner->Busy(); }));
    testutil::ProcessEvents();
    EXPECT_EQ(wall->Plan().screens[5].inputAdjust, (mosaic::WindowValues{0, 0, 2, 0}));
    EXPECT_EQ(wall->Plan().screens[4].inputAdjust, mosaic::WindowValues{});
    EXPECT_EQ(wall->m_table->item(5, 4)->text(), "0,0,2,0");
}

TEST_F(WallDialog, EveryControlHasANameAPersonWouldSay) {
    Open(true);
    LayOut();
    for (QWidget* top :
         {static_cast<QWidget*>(wall), static_cast<QWidget*>(CWallBar::Of(mosaic.get()))}) {
        for (QWidget* w : top->findChildren<QWidget*>()) {
            if (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(top)) {
                continue;
            }
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            ASSERT_TRUE(a);
            EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
                << w->metaObject()->className() << " " << w->objectName().toStdString();
        }
    }
    EXPECT_EQ(wall->m_firstId->accessibleName().toStdString(), "起始ID");
    EXPECT_EQ(wall->m_progress->accessibleName().toStdString(), "整墙设置进度");
}

TEST_F(WallDialog, TheWallFileIsSavedLoadedAndRefusedWithItsLine) {
    Open();
    LayOut();
    wall->m_firstId->setValue(7);
    wall->m_table->item(2, 4)->setText("2,0,-2,0");
    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-walldlg-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "wall.wall";
    fs::remove(file);
    ui.chosenFile = (dir / "wall").string();  // typed without its extension
    wall->m_save->click();
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(fs::exists(dir / "wall"));
    ui.chosenFile = file.string();
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_NE(text.str().find("specification 3x4\noutput 1920x1080\n"), std::string::npos);
    EXPECT_NE(text.str().find("screen 002 id=9 width=640 height=360 input-adjust=2,0,-2,0\n"),
              std::string::npos)
        << text.str();

    // Another wall on screen, then the file brings this one back, grid and all.
    mosaic->ControlAs<QLineEdit>(ids::kRowBox)->setText("1");
    mosaic->ControlAs<QLineEdit>(ids::kColumnBox)->setText("1");
    mosaic->ControlAs<QAbstractButton>(ids::kSpecOk)->click();
    mosaic->m_outWidth = 1024;
    wall->m_load->click();
    EXPECT_EQ(mosaic->m_rows, 3);
    EXPECT_EQ(mosaic->m_cols, 4);
    EXPECT_EQ(mosaic->m_outWidth, 1920);
    EXPECT_EQ(mosaic->m_cells[5].widthBox->text(), "320");
    EXPECT_EQ(wall->m_firstId->value(), 7);
    EXPECT_EQ(CWallBar::Of(mosaic.get())->firstId->value(), 7);
    EXPECT_EQ(wall->m_table->item(2, 4)->text(), "2,0,-2,0");
    EXPECT_EQ(mosaic::WallFileText(wall->Plan()), text.str());

    // A damaged file: refused with its line, nothing on screen changes.
    std::ofstream(dir / "bad.wall") << "orn312-wall 1\nspecification 3x4\noutput 1920x1080\n"
                                       "screen 000 id=1 width=640 height=3600\n";
    ui.chosenFile = (dir / "bad.wall").string();
    ui.boxes.clear();
    wall->m_load->click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, (dir / "bad.wall").string() +
                                    ": line 4: screen 000 height 3600 is out of range 64..1080");
    EXPECT_EQ(wall->m_table->item(2, 4)->text(), "2,0,-2,0");
    EXPECT_EQ(wall->m_firstId->value(), 7);

    // A grid box that cannot be saved says so, and no file dialog opens.
    mosaic->m_cells[3].widthBox->setText("");
    ui.fileDialogs.clear();
    ui.boxes.clear();
    wall->m_save->click();
    EXPECT_TRUE(ui.fileDialogs.empty());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "screen 003 width 0 is out of range 64..1920");
}

// The fast mosaic keeps the last wall laid out in the plan file, beside its other sections, and
// shows it again when it opens for the same processor; a wall that cannot be kept is said so.
TEST_F(WallDialog, TheLastWallIsShownAgainForTheSameProcessor) {
    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-lastwall-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string planFile = (dir / "Planinfo.ini").string();
    const std::string others =
        "[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=5000\n\n[DAYTIME]\nTime0= 8: 0: 0,0\n"
        "[PLANCOUNT]\ndaytimecount=1\n[DAYTIME]\nTime0=20:30: 0,4\n";
    std::ofstream(planFile) << others;
    const auto fileText = [&] {
        std::stringstream text;
        text << std::ifstream(planFile).rdbuf();
        return text.str();
    };
    const std::string here = "network 127.0.0.1:5000, device ID 1";
    const auto reopen = [&](const std::string& processor) {
        if (mosaic) {
            mosaic->ControlAs<QAbstractButton>(ids::kExit)->click();
        }
        Open();
        mosaic->KeepWallIn(planFile, processor);
        wall = CWallDialog::Of(mosaic.get());
    };

    reopen(here);
    EXPECT_EQ(mosaic->m_rows * mosaic->m_cols, 1);  // nothing kept yet
    LayOut();
    wall->m_firstId->setValue(7);
    wall->m_table->item(2, 1)->setText("40");
    wall->m_table->item(2, 4)->setText("2,0,-2,0");
    const mosaic::WallPlan laid = wall->Plan();
    reopen(here);
    EXPECT_TRUE(ui.boxes.empty());
    const std::string kept = fileText();
    // The other sections stay as they were, the twin too; the wall has a section of its own.
    EXPECT_EQ(kept.substr(0, others.size()), others);
    EXPECT_NE(kept.find("[LASTWALL]\nProcessor=" + here +
                        "\nFirstID=7\nSpecification=3x4\n"
                        "Output=1920x1080\nScreen000=id=7 width=640 height=360\n"),
              std::string::npos)
        << kept;
    EXPECT_NE(kept.find("\nScreen002=id=40 width=640 height=360 input-adjust=2,0,-2,0\n"),
              std::string::npos);
    // Shown again: specification, output, sizes, first ID, changed IDs and adjustments.
    EXPECT_EQ(mosaic->m_rows, 3);
    EXPECT_EQ(mosaic->m_cols, 4);
    EXPECT_EQ(mosaic->m_outHeight, 1080);
    EXPECT_EQ(mosaic->m_cells[5].widthBox->text(), "320");
    EXPECT_NE(ui::CaptionOf(mosaic->Control(ids::kEffectsShow)).indexOf("Width<=1920"), -1);
    EXPECT_EQ(CWallBar::Of(mosaic.get())->firstId->value(), 7);
    EXPECT_EQ(wall->FirstId(), 7);
    EXPECT_EQ(wall->Plan(), laid);

    // Another processor starts afresh; closed untouched, the file keeps the wall.
    reopen("network 127.0.0.1:5000, device ID 2");
    EXPECT_EQ(mosaic->m_rows * mosaic->m_cols, 1);
    EXPECT_EQ(mosaic->m_outWidth, 1024);
    reopen(here);
    EXPECT_EQ(fileText(), kept);
    EXPECT_EQ(wall->Plan(), laid);

    // A box that no wall can have is said so at closing, and the kept wall stays.
    mosaic->m_cells[3].widthBox->setText("");
    reopen(here);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "The wall is not kept for the next opening:\n"
              "screen 003 width 0 is out of range 64..1920");
    EXPECT_EQ(fileText(), kept);

    // A plan file locked by its mode is left alone, and that is said too.
    fs::permissions(planFile, fs::perms::owner_read | fs::perms::group_read);
    mosaic->m_cells[3].widthBox->setText("480");
    ui.boxes.clear();
    mosaic->ControlAs<QAbstractButton>(ids::kExit)->click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "The wall could not be kept in the plan file; the next opening will not show it");
    EXPECT_EQ(fileText(), kept);
    fs::remove_all(dir);
}

// A kept wall is shown only when it reads whole and names the processor asked for.
TEST(KeptWall, OnlyAWholeWallOfTheSameProcessorIsTaken) {
    const fs::path file =
        fs::path(testing::TempDir()) / ("orn312-keptwall-" + std::to_string(getpid()) + ".ini");
    const std::string head = "[LASTWALL]\nProcessor=serial /dev/ttyUSB0, device ID 3\n";
    const struct {
        const char* what;
        std::string section;
        bool taken;
    } cases[] = {
        {"whole",
         head + "FirstID=5\nspecification=1x2\nOutput=1920x1080\n"
                "Screen000=id=5 width=960 height=1080\nScreen001=id=9 width=960 height=1080\n",
         true},
        {"another processor",
         "[LASTWALL]\nProcessor=serial /dev/ttyUSB0, device ID 4\nFirstID=5\nSpecification=1x1\n"
         "Output=1920x1080\nScreen000=id=5 width=960 height=1080\n",
         false},
        {"a screen missing",
         head + "FirstID=5\nSpecification=1x2\nOutput=1920x1080\nScreen000=id=5 width=960 "
                "height=1080\n",
         false},
        {"no first ID",
         head + "Specification=1x1\nOutput=1920x1080\nScreen000=id=5 width=960 height=1080\n",
         false},
        {"a size out of range",
         head + "FirstID=5\nSpecification=1x1\nOutput=1920x1080\nScreen000=id=5 width=9600 "
                "height=1080\n",
         false},
        {"none", "[CONNECT]\nSerialTcp=1\n", false},
    };
    for (const auto& c : cases) {
        std::ofstream(file) << c.section;
        const auto kept = mosaic::LoadKeptWall(file.string(), "serial /dev/ttyUSB0, device ID 3");
        EXPECT_EQ(kept.has_value(), c.taken) << c.what;
        if (kept) {
            EXPECT_EQ(kept->firstId, 5);
            EXPECT_EQ(kept->plan.cols, 2);
            EXPECT_EQ(kept->plan.screens[1].deviceId, 9);
            // Kept again, it reads back the same.
            ASSERT_TRUE(mosaic::KeepWall(file.string(), *kept));
            EXPECT_EQ(mosaic::LoadKeptWall(file.string(), kept->processor), kept);
        }
    }
    fs::remove(file);
}

// With ORN312_SCREENSHOT_DIR set, writes the fast mosaic with its whole wall button and the whole
// wall window after a run with a screen not answering, in both languages.
// "Set whole wall" right after Connect, before any layout: what would be set is shown and asked.
TEST_F(WallDialog, AWallNobodyLaidOutIsShownAndAskedAboutFirst) {
    Open();
    mosaic->m_outWidth = 1920;
    mosaic->m_outHeight = 1080;
    CWallBar* bar = CWallBar::Of(mosaic.get());
    ui.answer = false;
    bar->setWall->click();
    wall = CWallDialog::Of(mosaic.get());
    ASSERT_EQ(ui.boxes.size(), 1u);
    const std::string& asked = ui.boxes[0].text;
    EXPECT_EQ(asked.substr(0, asked.find('\n')),
              "The wall has not been laid out (by Auto Calculate, the wall screens table or a "
              "wall file). This is what would be set:");
    EXPECT_NE(asked.find("\nSpecification "), std::string::npos) << asked;
    EXPECT_NE(asked.find(", output 1920 x 1080\n"), std::string::npos) << asked;
    EXPECT_NE(asked.find("(ID"), std::string::npos) << asked;
    EXPECT_EQ(asked.substr(asked.rfind('\n')), "\nSet it?");
    testutil::ProcessEvents();
    EXPECT_FALSE(wall->m_runner->Busy());
    EXPECT_TRUE(line.log.empty());  // No: nothing sent

    // Auto Calculate lays it out: the next press sets the wall without asking.
    ui.boxes.clear();
    ui.answer = true;
    mosaic->ControlAs<QAbstractButton>(ids::kAutoCalculate)->click();
    const size_t before = ui.boxes.size();
    wall->m_set->click();
    EXPECT_EQ(ui.boxes.size(), before);
    EXPECT_TRUE(wall->m_runner->Busy() || !line.log.empty());
    wall->m_stop->click();
    Settle();
}

TEST_F(WallDialog, Screenshots) {
    const QString dir = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to write the pictures";
    }
    QDir().mkpath(dir);
    line.devices.erase(6);
    for (bool chinese : {false, true}) {
        Open(chinese);
        LayOut();
        wall->m_set->click();
        Settle();
        testutil::ProcessEvents();
        const QString lang = chinese ? "zh" : "en";
        EXPECT_TRUE(mosaic->grab().save(QDir(dir).filePath("wall-mosaic-" + lang + ".png")));
        EXPECT_TRUE(wall->grab().save(QDir(dir).filePath("wall-" + lang + ".png")));
        mosaic.reset();
    }
}
