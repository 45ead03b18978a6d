// What the operator reads: section titles and coloured boxes stay readable under a dark palette
// (contrast ratio at least 4.5:1, measured on the pixels drawn) while a light palette keeps the
// template's colours; and nothing is clipped: the preview captions, the display-only digits, the
// plan list's last column, the custom resolution's text.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "app/MainDlg.h"
#include "resources/ControlIds.h"
#include "resources/MosaicIds.h"
#include "controls/Colours.h"
#include "link/Frame.h"
#include "mosaic/SimpleMosaic.h"
#include "schedule/InfoPlan.h"
#include "schedule/PlanPage.h"
#include "schedule/Program.h"
#include "resources/ProgramIds.h"
#include "screen/SetScreen.h"
#include "resources/SetScreenIds.h"
#include "screen/SetScreenParts.h"

namespace {

// The contrast of what is drawn in rect of image: its most common colour (the ground) against
// the colour that stands out most from it (the core of the glyphs).
double DrawnContrast(const QImage& image, const QRect& rect) {
    std::map<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QRgb ground = 0;
    int most = -1;
    for (const auto& [rgb, n] : counts) {
        if (n > most) {
            most = n;
            ground = rgb;
        }
    }
    double best = 1;
    for (const auto& [rgb, n] : counts) {
        best = std::max(best, ui::ContrastRatio(QColor(ground), QColor(rgb)));
    }
    return best;
}

QRect TitleRect(QGroupBox* g) {
    QStyleOptionGroupBox o;
    o.initFrom(g);
    o.text = g->title();
    o.subControls = QStyle::SC_GroupBoxLabel;
    o.textAlignment = g->alignment();
    return g->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, g) &
           g->rect();
}

QPalette DarkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(45, 45, 48));
    p.setColor(QPalette::WindowText, QColor(230, 230, 230));
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    p.setColor(QPalette::Button, QColor(60, 60, 64));
    p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(130, 130, 130));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(130, 130, 130));
    return p;
}

ui::SequenceRunner::LinkFactory SimLinks() {
    return [](platform::StopFlag&) { return std::make_unique<testutil::SimSequenceLink>(); };
}

class Readability : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    static bool IsDarkNow() {
        return QApplication::palette().color(QPalette::Window).lightness() < 128;
    }
    void TearDown() override { QApplication::setPalette(QApplication::style()->standardPalette()); }

    // The blue titles and the khaki and cyan boxes of the main window, the screen settings and
    // the fast mosaic, each measured where it is drawn.
    struct Measured {
        std::string what;
        double contrast;
        QColor fill;  // a box's ground; a title's ink
    };
    std::vector<Measured> Measure() {
        std::vector<Measured> out;
        QTemporaryDir dir;
        CORN302ControlDlg main;
        main.m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
        main.OnInitDialog();
        main.show();
        testutil::ProcessEvents();
        const auto title = [&](QWidget* window, int id, const std::string& what) {
            auto* g = qobject_cast<QGroupBox*>(
                window->findChild<QWidget*>(QStringLiteral("ctl%1").arg(id)));
            ASSERT_NE(g, nullptr) << what;
            const QImage img = g->grab().toImage();
            out.push_back({what, DrawnContrast(img, TitleRect(g)), QColor()});
        };
        const auto box = [&](QLineEdit* e, const QString& text, const std::string& what) {
            e->setText(text);
            testutil::ProcessEvents(10);
            const QImage img = e->grab().toImage();
            out.push_back({what, DrawnContrast(img, e->rect().adjusted(3, 3, -3, -3)),
                           QColor(img.pixel(4, e->height() / 2))});
        };
        title(&main, ids::kSourceGroup, "main Source title");
        title(&main, ids::kTimerGroup, "main Timer title");
        main.ControlAs<QAbstractButton>(ids::kTimerPanel)->click();
        box(main.ControlAs<QLineEdit>(ids::kCurrentValues[0]), "12:00:00", "main timer field");

        screen::OpeningValues v;
        CSetScreen set(nullptr, v, SimLinks());
        set.show();
        testutil::ProcessEvents();
        title(&set, sids::kBrightnessGroup, "settings Brightness title");
        title(&set, sids::kColourGroup, "settings Color title");
        box(set.ControlAs<QLineEdit>(sids::kBias), "50", "settings box, changed");
        box(set.ControlAs<QLineEdit>(sids::kKeyColours[0]), "128",
            "settings key colour (display only)");

        CSimpleMosaic mosaic(nullptr, false, SimLinks());
        mosaic.show();
        testutil::ProcessEvents();
        auto* adjusted = mosaic.ControlAs<QLineEdit>(1260);
        adjusted->setText("88");  // changed: cyan on a light palette
        testutil::ProcessEvents(10);
        QImage img = adjusted->grab().toImage();
        out.push_back({"mosaic Adjusted box, changed",
                       DrawnContrast(img, adjusted->rect().adjusted(3, 3, -3, -3)),
                       QColor(img.pixel(4, adjusted->height() / 2))});
        // With ORN312_SCREENSHOT_DIR set, the three windows in this palette, to look at.
        const QString shots = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            QDir().mkpath(shots);
            const QString tone = IsDarkNow() ? QStringLiteral("dark") : QStringLiteral("light");
            main.grab().save(QDir(shots).filePath("palette-" + tone + "-main.png"));
            set.grab().save(QDir(shots).filePath("palette-" + tone + "-setscreen.png"));
            mosaic.grab().save(QDir(shots).filePath("palette-" + tone + "-mosaic.png"));
        }
        return out;
    }
};

TEST_F(Readability, ADarkPaletteKeepsTitlesAndBoxesReadable) {
    // Light: the template's colours.
    for (const Measured& m : Measure()) {
        EXPECT_GE(m.contrast, 4.5) << m.what;
    }
    QApplication::setPalette(DarkPalette());
    for (const Measured& m : Measure()) {
        EXPECT_GE(m.contrast, 4.5) << "dark: " << m.what;
        if (m.fill.isValid()) {
            // A box one can type into looks like one: dark like the palette's, not pale.
            EXPECT_LT(m.fill.lightness(), 128) << "dark: " << m.what;
        }
    }
}

TEST_F(Readability, TheLightPaletteKeepsTheTemplateColours) {
    screen::OpeningValues v;
    CSetScreen set(nullptr, v, SimLinks());
    set.show();
    testutil::ProcessEvents();
    const QImage img = set.Control(sids::kBias)->grab().toImage();
    EXPECT_EQ(QColor(img.pixel(4, img.height() / 2)), QColor(205, 205, 180));
    auto* g = set.findChild<QGroupBox*>(QStringLiteral("ctl%1").arg(sids::kBrightnessGroup));
    const QImage t = g->grab().toImage();
    const QRect r = TitleRect(g);
    bool blue = false;
    for (int y = r.top(); y <= r.bottom() && !blue; ++y) {
        for (int x = r.left(); x <= r.right() && !blue; ++x) {
            blue = QColor(t.pixel(x, y)) == QColor(0, 0, 255);
        }
    }
    EXPECT_TRUE(blue);
}

TEST_F(Readability, NothingIsClipped) {
    testutil::FakeUi ui;
    // The MAIN caption shows even where the PBP rectangle covers the MAIN one.
    {
        screen::OpeningValues v;
        CSetScreen set(nullptr, v, SimLinks());
        set.show();
        testutil::ProcessEvents();
        QWidget* mainRect = set.Control(sids::kGeometry[screen::kMain].rect);
        QWidget* pipRect = set.Control(sids::kGeometry[screen::kPip].rect);
        mainRect->setGeometry(10, 10, 120, 80);
        pipRect->setGeometry(40, 30, 120, 80);  // over MAIN's middle
        testutil::ProcessEvents();
        QWidget* frame = mainRect->parentWidget();
        const QImage img = frame->grab().toImage();
        // Around MAIN's middle (70, 50), clear of PBP's own caption around (100, 70).
        int ink = 0;
        for (int y = 42; y < 58; ++y) {
            for (int x = 50; x < 88; ++x) {
                const QColor c(img.pixel(x, y));
                ink += c.red() < 90 && c.green() < 90 && c.blue() < 90;  // black caption
            }
        }
        EXPECT_GT(ink, 10) << "MAIN's caption is hidden under PBP";
        // The key colour digits of the disabled boxes are as dark as a working box's.
        auto* red = set.ControlAs<QLineEdit>(sids::kKeyColours[0]);
        ASSERT_FALSE(red->isEnabled());
        EXPECT_EQ(red->palette().color(QPalette::Disabled, QPalette::Text),
                  red->palette().color(QPalette::Active, QPalette::Text));
    }
    // The plan list with more rows than it shows: no horizontal scroll bar over the Signal column.
    {
        QTemporaryDir dir;
        const std::string path = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
        std::ofstream file(path, std::ios::binary);
        file << "[PLANCOUNT]\ndaytimecount=40\n[DAYTIME]\n";
        for (int n = 0; n < 40; ++n) {
            file << "Time" << n << "=" << (n / 2) << ":" << (n % 2) * 30 << ": 0,4\n";
        }
        file.close();
        CInfoPlan store(path);
        store.LoadPlanCounts();
        store.LoadAllPlans(false);
        CProgram program(nullptr, store, false, false);
        program.OnInitDialog();
        program.show();
        testutil::ProcessEvents();
        auto* list = qobject_cast<QTreeWidget*>(program.Page(0)->Control(progids::kPages[0].list));
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->topLevelItemCount(), 40);
        EXPECT_TRUE(list->verticalScrollBar()->isVisible());
        EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
        EXPECT_LE(list->header()->length(), list->viewport()->width());
    }
    // A custom resolution's text fits the fast mosaic's resolution list.
    {
        CSimpleMosaic mosaic(nullptr, false, SimLinks());
        mosaic.show();
        auto* list = mosaic.ControlAs<QComboBox>(mosaic::ids::kResolutionList);
        for (const char* text : {"1920x1200@50Hz(Custom)", "1920x1200@50Hz(自定义)"}) {
            list->setItemText(16, QString::fromUtf8(text));
            list->setCurrentIndex(16);
            QStyleOptionComboBox o;
            o.initFrom(list);
            o.currentText = list->currentText();
            const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &o,
                                                              QStyle::SC_ComboBoxEditField, list);
            EXPECT_GE(field.width(), list->fontMetrics().horizontalAdvance(list->currentText()))
                << text;
        }
    }
}

// Saves img as NAME-light.png or NAME-dark.png when ORN312_SCREENSHOT_DIR is set, to look at.
void Shot(const QImage& img, const QString& name, bool dark) {
    const QString shots = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QDir().mkpath(shots);
        img.save(QDir(shots).filePath(name + (dark ? "-dark.png" : "-light.png")));
    }
}

// The focus shows as a ring around the control, outside its edge, that stands out from the
// ground around it (contrast at least 3:1) on light and dark palettes: on buttons, radios, check
// boxes, lists, and on the khaki and cyan boxes, whose own colours hide the style's mark.
TEST_F(Readability, TheFocusRingShowsOnEveryGround) {
    for (bool dark : {false, true}) {
        QApplication::setPalette(dark ? DarkPalette() : QApplication::style()->standardPalette());
        QTemporaryDir dir;
        CORN302ControlDlg main;
        main.m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
        main.OnInitDialog();
        main.ControlAs<QAbstractButton>(ids::kTimerPanel)->click();  // the cyan timer fields
        screen::OpeningValues v;
        CSetScreen set(nullptr, v, SimLinks());
        auto* khaki = set.ControlAs<QLineEdit>(sids::kBias);
        auto* cyan = set.ControlAs<QLineEdit>(sids::kBrightness);
        cyan->setText("70");  // changed, not yet sent: cyan
        struct Control {
            QWidget* window;
            QWidget* w;
            const char* what;
        } controls[] = {
            {&main, main.Control(ids::kConnect), "push button"},
            {&main, main.Control(ids::kDay), "check box"},
            {&main, main.Control(ids::kEnglishRadio), "radio"},
            {&main, main.Control(ids::kDeviceIdCombo), "list"},
            {&main, main.Control(ids::kCurrentValues[0]), "cyan timer field"},
            {&set, khaki, "khaki box"},
            {&set, cyan, "cyan box"},
        };
        for (const Control& c : controls) {
            SCOPED_TRACE(std::string(dark ? "dark: " : "light: ") + c.what);
            c.window->show();
            c.window->activateWindow();
            c.window->setFocus();
            testutil::ProcessEvents();
            QWidget* parent = c.w->parentWidget();
            const QRect around = c.w->geometry().adjusted(-6, -6, 6, 6) & parent->rect();
            const QImage before = parent->grab(around).toImage();
            c.w->setFocus(Qt::TabFocusReason);
            testutil::ProcessEvents();
            ASSERT_TRUE(c.w->hasFocus());
            const QImage after = parent->grab(around).toImage();
            Shot(after,
                 QStringLiteral("focus-ring-%1").arg(QString::fromUtf8(c.what).replace(' ', '-')),
                 dark);
            // Just outside the left and the top edge, half way along.
            const QPoint origin = c.w->geometry().topLeft() - around.topLeft();
            const int gap = 2;
            for (const QPoint p : {origin + QPoint(-gap, c.w->height() / 2),
                                   origin + QPoint(c.w->width() / 2, -gap)}) {
                EXPECT_GE(ui::ContrastRatio(QColor(after.pixel(p)), QColor(before.pixel(p))), 3.0)
                    << p.x() << "," << p.y();
            }
        }
    }
}

devlink::Frame Status(uint8_t overlay, uint8_t functions, uint8_t sources, uint8_t mainSignal,
                      uint8_t secondSignal) {
    devlink::Frame f = {0x05,    0x01,       0xFE,         0x00, overlay, 0x00, functions,
                        sources, mainSignal, secondSignal, 0x00, 0x02,    0x00};
    for (int i = 0; i < 12; ++i) {
        f[12] ^= f[i];
    }
    return f;
}

// A source on air that loses its signal is said on the Info line, in the operator's language,
// until the signal is back; so is the pre-selected source in Pre+TAKE. While a source has no
// signal, or the processor does not answer, the line shows in the alarm colours (readable on
// light and dark palettes) and says "Alarm" to a screen reader.
TEST_F(Readability, TheInfoLineTellsOfALostSignalInTheAlarmColours) {
    struct Row {
        const char* what;
        devlink::Frame lost;
        devlink::Frame back;
        bool chinese;
        const char* text;
    } rows[] = {
        {"One Key, HDMI on air", Status(0, 0x00, 0x04, 0, 1), Status(0, 0x00, 0x04, 1, 1), false,
         "No signal on HDMI, which is on air"},
        {"One Key, HDMI on air, Chinese", Status(0, 0x00, 0x04, 0, 1), Status(0, 0x00, 0x04, 1, 1),
         true, "当前输出的 HDMI 无信号"},
        {"Pre+TAKE, DVI on air", Status(8, 0x10, 0x25, 0, 1), Status(8, 0x10, 0x25, 1, 1), false,
         "No signal on DVI, which is on air"},
        {"Pre+TAKE, DVI on air, Chinese", Status(7, 0x10, 0x05, 0, 1), Status(7, 0x10, 0x05, 1, 1),
         true, "当前输出的 DVI 无信号"},
        {"Pre+TAKE, VGA1 pre-selected", Status(8, 0x10, 0x25, 1, 0), Status(8, 0x10, 0x25, 1, 1),
         false, "No signal on VGA1, which is pre-selected"},
        {"Pre+TAKE, VGA1 pre-selected, Chinese", Status(8, 0x10, 0x25, 1, 0),
         Status(8, 0x10, 0x25, 1, 1), true, "预选的 VGA1 无信号"},
    };
    testutil::FakeUi fake;
    for (bool dark : {false, true}) {
        QApplication::setPalette(dark ? DarkPalette() : QApplication::style()->standardPalette());
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(dark ? "dark: " : "light: ") + r.what);
            QTemporaryDir dir;
            CORN302ControlDlg main;
            main.m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
            main.OnInitDialog();
            main.show();
            auto& worker = static_cast<app::ConnectionSink&>(main);
            auto* info = main.ControlAs<QLineEdit>(ids::kInfo);
            const QColor base = info->palette().color(QPalette::Base);
            const auto report = [&](const devlink::Frame& f) {
                worker.StatusReply(f);
                testutil::ProcessEvents(20);
            };
            const auto ground = [&] {  // beyond the end of the text
                const QImage img = info->grab().toImage();
                return QColor(img.pixel(img.width() - 5, img.height() / 2));
            };
            main.ControlAs<QAbstractButton>(r.chinese ? ids::kChineseRadio : ids::kEnglishRadio)
                ->click();
            worker.InfoText(app::LinkText::DeviceNormal);
            report(r.back);
            EXPECT_EQ(info->accessibleDescription(), "");
            report(r.lost);
            EXPECT_EQ(info->text().toStdString(), r.text);
            EXPECT_EQ(info->accessibleDescription(),
                      QString::fromUtf8(r.chinese ? "警报" : "Alarm"));
            const QImage img = info->grab().toImage();
            EXPECT_GE(DrawnContrast(img, info->rect().adjusted(3, 3, -3, -3)), 4.5);
            const QColor alarm = ground();
            EXPECT_GT(alarm.red(), alarm.green() + 80) << "red";
            if (std::string(r.what).find("HDMI") != std::string::npos) {
                Shot(main.grab().toImage(), r.chinese ? "info-alarm-zh" : "info-alarm", dark);
            }
            // The loss follows the language.
            main.ControlAs<QAbstractButton>(r.chinese ? ids::kEnglishRadio : ids::kChineseRadio)
                ->click();
            EXPECT_NE(info->text().toStdString(), r.text);
            main.ControlAs<QAbstractButton>(r.chinese ? ids::kChineseRadio : ids::kEnglishRadio)
                ->click();
            EXPECT_EQ(info->text().toStdString(), r.text) << "the language back and forth";
            // Another message keeps the line for a while; the colours stay.
            worker.InfoRaw("/dev/ttyUSB0");
            report(r.lost);
            EXPECT_EQ(info->text().toStdString(), "/dev/ttyUSB0");
            EXPECT_GT(ground().red(), ground().green() + 80);
            report(r.back);
            worker.InfoText(app::LinkText::DeviceNormal);
            testutil::ProcessEvents(20);
            report(r.lost);
            EXPECT_EQ(info->text().toStdString(), r.text);
            report(r.back);
            EXPECT_EQ(info->text().toStdString(), res::Text(res::Msg::DeviceNormal, r.chinese));
            EXPECT_EQ(info->accessibleDescription(), "");
            EXPECT_EQ(ground(), base);
        }
        // The processor not answering: alarm colours until it answers again.
        QTemporaryDir dir;
        CORN302ControlDlg main;
        main.m_profilePath = QDir(dir.path()).filePath("Planinfo.ini").toStdString();
        main.OnInitDialog();
        main.show();
        auto& worker = static_cast<app::ConnectionSink&>(main);
        auto* info = main.ControlAs<QLineEdit>(ids::kInfo);
        worker.InfoText(app::LinkText::DeviceSilent);
        worker.DeviceLost(false);
        testutil::ProcessEvents(20);
        EXPECT_EQ(info->accessibleDescription(), "Alarm");
        EXPECT_GE(DrawnContrast(info->grab().toImage(), info->rect().adjusted(3, 3, -3, -3)), 4.5);
        worker.DeviceBack();
        testutil::ProcessEvents(20);
        EXPECT_EQ(info->accessibleDescription(), "");
    }
}

}  // namespace