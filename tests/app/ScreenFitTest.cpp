// Every window on a laptop's 1366 × 768 screen: its frame lies within the screen's available area
// with room for a title bar above it, and its closing buttons (Exit, OK, Cancel) can be seen, in
// both languages and with the mosaic grid at 1 × 1, 4X3 and 6 × 8. With ORN312_SCREENSHOT_DIR set,
// each is also saved as a picture ("laptop-*.png").
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <functional>
#include <memory>
#include <string>

#include "QtApp.h"
#include "SimSequenceLink.h"
#include "TestUtil.h"
#include "app/AboutDlg.h"
#include "app/MainDlg.h"
#include "controls/Progress.h"
#include "resources/ControlIds.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"
#include "mosaic/WallDialog.h"
#include "schedule/AddPlan.h"
#include "schedule/InfoPlan.h"
#include "schedule/Program.h"
#include "screen/Advanced.h"
#include "screen/SetScreen.h"

namespace {

// Room a window manager takes around a window: its title bar above, its frame around.
constexpr int kTitleBarRoom = 32;
constexpr int kFrameRoom = 4;

ui::SequenceRunner::LinkFactory SimLinks() {
    return [](platform::StopFlag&) { return std::make_unique<testutil::SimSequenceLink>(); };
}

class ScreenFit : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override {
        laptop = testutil::LaptopScreen();
        if (laptop == nullptr) {
            GTEST_SKIP() << "needs the offscreen platform's virtual laptop screen";
        }
        main = std::make_unique<CORN302ControlDlg>();
        main->m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
        main->OnInitDialog();
        main->move(laptop->availableGeometry().topLeft() + QPoint(200, 100));
        main->show();
        QCoreApplication::processEvents();
    }

    // window, shown over the main window: on the laptop's screen, inside its available area with
    // a title bar's room above, its closing buttons wholly in sight.
    void Check(QWidget* window, const std::string& what) {
        SCOPED_TRACE(what);
        window->show();
        QCoreApplication::processEvents();
        const QRect area = laptop->availableGeometry();
        const QRect client = window->geometry();
        const QRect framed = client.adjusted(-kFrameRoom, -kTitleBarRoom, kFrameRoom, kFrameRoom);
        EXPECT_TRUE(area.contains(framed) && area.contains(window->frameGeometry()))
            << "client " << client.x() << "," << client.y() << " " << client.width() << "x"
            << client.height() << " on " << window->windowHandle()->screen()->name().toStdString();
        int closers = 0;
        for (const char* name : {"ctl1", "ctl2"}) {
            auto* b = window->findChild<QAbstractButton*>(QString::fromLatin1(name));
            if (b == nullptr || b->window() != window) {
                continue;
            }
            ++closers;
            EXPECT_TRUE(b->isVisible()) << name;
            EXPECT_EQ(b->visibleRegion().boundingRect(), b->rect()) << name;
            EXPECT_TRUE(window->rect().contains(QRect(b->mapTo(window, QPoint(0, 0)), b->size())))
                << name;
        }
        if (!qobject_cast<CProgress*>(window)) {
            EXPECT_GT(closers, 0);
        }
        const QString shots = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            QDir().mkpath(shots);
            window->grab().save(
                QDir(shots).filePath(QString::fromStdString("laptop-" + what) + ".png"));
        }
    }

    QScreen* laptop = nullptr;
    QTemporaryDir dir;
    std::unique_ptr<CORN302ControlDlg> main;
};

TEST_F(ScreenFit, EveryWindowFitsALaptopScreenInBothLanguages) {
    for (bool chinese : {false, true}) {
        const std::string lang = chinese ? "zh" : "en";
        main->ControlAs<QAbstractButton>(chinese ? ids::kChineseRadio : ids::kEnglishRadio)
            ->click();
        Check(main.get(), "main-" + lang);
        // The timer panel widens the window toward the screen's right edge: it stays on it.
        const QRect area = laptop->availableGeometry();
        main->move(area.right() - main->width() - 20, area.top() + 60);
        QCoreApplication::processEvents();
        main->ControlAs<QAbstractButton>(ids::kTimerPanel)->click();
        Check(main.get(), "main-" + lang + "-panel");
        main->ControlAs<QAbstractButton>(ids::kTimerPanel)->click();

        {
            screen::OpeningValues v;
            v.chinese = chinese;
            CSetScreen d(main.get(), v, SimLinks());
            Check(&d, "setscreen-" + lang);
        }
        {
            CCAdvanced d(main.get(), SimLinks(), chinese);
            d.OnInitDialog();
            Check(&d, "advanced-" + lang);
        }
        {
            CInfoPlan store(main->m_profilePath);
            store.LoadPlanCounts();
            store.LoadAllPlans(chinese);
            CProgram d(main.get(), store, chinese, false);
            d.OnInitDialog();
            Check(&d, "program-" + lang);
        }
        {
            CAddPlan d(main.get(), chinese, false);
            d.OnInitDialog();
            Check(&d, "addplan-" + lang);
        }
        {
            CAboutDlg d(main.get());
            Check(&d, "about-" + lang);
        }
        {
            CProgress d(main.get());
            d.m_bChinese = chinese;
            Check(&d, "progress-" + lang);
        }
        {
            CSimpleMosaic d(main.get(), chinese, SimLinks());
            Check(&d, "mosaic-" + lang + "-1x1");
            for (int id : mosaic::ids::kPresets) {
                if (d.ControlAs<QAbstractButton>(id)->text() == QLatin1String("4X3")) {
                    d.ControlAs<QAbstractButton>(id)->click();
                }
            }
            Check(&d, "mosaic-" + lang + "-4x3");
            d.ControlAs<QLineEdit>(mosaic::ids::kRowBox)->setText("6");
            d.ControlAs<QLineEdit>(mosaic::ids::kColumnBox)->setText("8");
            d.ControlAs<QAbstractButton>(mosaic::ids::kSpecOk)->click();
            Check(&d, "mosaic-" + lang + "-6x8");
            // Every screen of the grid can be scrolled to.
            QWidget* last = d.Control(mosaic::ids::kNumberButtonBase + 47);
            ASSERT_NE(last, nullptr);
            auto* area = last->parentWidget();
            EXPECT_GE(area->height(), last->geometry().bottom());
            // The whole wall window of that wall: its 48 screens scroll inside its table.
            CWallDialog* wall = CWallDialog::Of(&d);
            wall->Sync();
            Check(wall, "wall-" + lang + "-6x8");
        }
    }
}

}  // namespace
