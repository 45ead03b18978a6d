// End to end: the main window connected to the simulator process opens the fast mosaic from its
// "Mosaic" button; the operator connects to the processor, lays out a 3 × 4 wall and sends every
// screen's windows; the window keeps running throughout; afterwards the simulator holds the last
// screen's windows and the main window is idle.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "FakeUi.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "app/MainDlg.h"
#include "controls/Progress.h"
#include "resources/ControlIds.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"

namespace fs = std::filesystem;
using testutil::WaitUntil;

namespace {

// The longest time the event loop went without turning, while it runs.
class LoopWatch {
public:
    LoopWatch() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_since.restart()); });
        m_since.start();
        m_timer.start();
    }
    qint64 Longest() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

}  // namespace

TEST(MosaicFlow, AWallIsLaidOutAndSentFromTheMainWindow) {
    testutil::TestApp();
    testutil::FakeUi ui;
    ui.run = {"CProgress", "CSimpleMosaic"};
    ui.watchdogMs = 110000;
    testutil::SimProcess sim({"--tcp", "0"});
    ASSERT_TRUE(sim.Started());
    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-mosaic-" + std::to_string(getpid()));
    fs::create_directories(dir);

    CORN302ControlDlg main;
    main.m_profilePath = (dir / "Planinfo.ini").string();
    main.OnInitDialog();
    main.ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
    main.ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
    main.ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(sim.tcpPort));
    main.ControlAs<QAbstractButton>(ids::kConnect)->click();
    ASSERT_TRUE(WaitUntil([&] { return main.Control(ids::kDisconnect)->isEnabled(); }));
    main.ControlAs<QAbstractButton>(ids::kChineseRadio)->click();

    // Columns 640, 320, 640, 320 wide; rows 360, 540, 180 high.
    const int widths[4] = {640, 320, 640, 320};
    const int heights[3] = {360, 540, 180};
    qint64 longestStall = -1;
    bool scriptDone = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = main.findChild<CSimpleMosaic*>();
        ASSERT_NE(dlg, nullptr);
        const auto button = [dlg](int id) { return dlg->ControlAs<QAbstractButton>(id); };
        const auto settle = [dlg] {
            return WaitUntil([dlg] { return !dlg->m_runner->Busy(); }, 20000);
        };
        const std::function<void()> script = [&] {
            EXPECT_EQ(dlg->windowTitle().toStdString(), "快速拼接");
            LoopWatch watch;
            button(mosaic::ids::kConnect)->click();  // returns when the wait dialog has gone
            ASSERT_TRUE(settle());
            ASSERT_TRUE(WaitUntil([dlg] { return dlg->m_bDeviceReady == 1; }));
            EXPECT_EQ(dlg->m_outWidth, 1920);
            EXPECT_TRUE(dlg->Control(mosaic::ids::kSetInput)->isEnabled());  // after the recovery

            dlg->ControlAs<QLineEdit>(mosaic::ids::kRowBox)->setText("3");
            dlg->ControlAs<QLineEdit>(mosaic::ids::kColumnBox)->setText("4");
            button(mosaic::ids::kSpecOk)->click();
            for (int n = 0; n < 12; ++n) {
                dlg->ControlAs<QLineEdit>(mosaic::ids::kWidthBoxBase + n)
                    ->setText(QString::number(widths[n % 4]));
                dlg->ControlAs<QLineEdit>(mosaic::ids::kHeightBoxBase + n)
                    ->setText(QString::number(heights[n / 4]));
            }
            for (int n = 0; n < 12; ++n) {
                button(mosaic::ids::kNumberButtonBase + n)->click();
                button(mosaic::ids::kAutoCalculate)->click();
                button(mosaic::ids::kSetInput)->click();
                ASSERT_TRUE(settle()) << n;
                button(mosaic::ids::kSetOutput)->click();
                ASSERT_TRUE(settle()) << n;
            }
            longestStall = watch.Longest();
            scriptDone = true;
        };
        script();
        button(mosaic::ids::kExit)->click();
    });
    main.ControlAs<QAbstractButton>(ids::kMosaicDlg)->click();

    EXPECT_TRUE(scriptDone);
    EXPECT_EQ(ui.hung, 0);
    EXPECT_TRUE(ui.boxes.empty()) << (ui.boxes.empty() ? "" : ui.boxes[0].text);
    // The window never stood still for long, through the connect sequence, its DVI recovery
    // (seconds of pauses) and every Set.
    EXPECT_GE(longestStall, 0);
    EXPECT_LT(longestStall, 500);

    // Every screen's windows reached the processor.
    for (int n = 0; n < 12; ++n) {
        int x = 0, y = 0;
        for (int k = 0; k < n % 4; ++k) {
            x += widths[k];
        }
        for (int k = 0; k < n / 4; ++k) {
            y += heights[k];
        }
        EXPECT_TRUE(sim.WaitForOutput("(input window " + std::to_string(widths[n % 4]) + "x" +
                                          std::to_string(heights[n / 4]) + " at " +
                                          std::to_string(x) + "," + std::to_string(y) + ")",
                                      2000))
            << n;
    }
    const std::string log = sim.Output();
    size_t outputs = 0;
    for (size_t at = log.find("M3 main window"); at != std::string::npos;
         at = log.find("M3 main window", at + 1)) {
        ++outputs;
    }
    EXPECT_EQ(outputs, 12u);
    // Read back: the processor holds the last screen's windows.
    sim.Command("state");
    EXPECT_TRUE(sim.WaitForOutput("input window 320x180 at 1600,900", 3000));
    EXPECT_TRUE(sim.WaitForOutput("state M3 main 320x180 at 0,0", 3000));

    // The operator connects again afterwards.
    EXPECT_EQ(main.m_conn.m_linkMode, 0);
    EXPECT_TRUE(main.Control(ids::kConnect)->isEnabled());
    EXPECT_FALSE(main.Control(ids::kDisconnect)->isEnabled());

    // Connected again and opened again, the fast mosaic shows the wall it was left with.
    main.ControlAs<QAbstractButton>(ids::kConnect)->click();
    ASSERT_TRUE(WaitUntil([&] { return main.Control(ids::kDisconnect)->isEnabled(); }));
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = main.findChild<CSimpleMosaic*>();
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->m_rows, 3);
        EXPECT_EQ(dlg->m_cols, 4);
        EXPECT_EQ(dlg->m_outWidth, 1920);
        ASSERT_EQ(dlg->m_cells.size(), 12u);
        EXPECT_EQ(dlg->m_cells[11].widthBox->text().toInt(), widths[3]);
        EXPECT_EQ(dlg->m_cells[11].heightBox->text().toInt(), heights[2]);
        shown = true;
        dlg->ControlAs<QAbstractButton>(mosaic::ids::kExit)->click();
    });
    main.ControlAs<QAbstractButton>(ids::kMosaicDlg)->click();
    EXPECT_TRUE(shown);
    fs::remove_all(dir);
}
