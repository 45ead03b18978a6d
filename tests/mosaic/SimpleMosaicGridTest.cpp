// The fast mosaic dialog's grid and layout offscreen: specifications, the grid's cells and their
// pixel places, the fitted sizes, selection, the lower panel that follows the bottom edge, the
// value boxes, and every control through its accessibility action.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <memory>
#include <string>

#include "FakeUi.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "controls/ColorButton.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"

namespace ids = mosaic::ids;

namespace {

// The grid needs no device: a simulator's link that no test here uses.
std::unique_ptr<CSimpleMosaic> NewMosaic(bool chinese) {
    return std::make_unique<CSimpleMosaic>(nullptr, chinese, [](platform::StopFlag&) {
        return std::make_unique<testutil::SimSequenceLink>();
    });
}

class MosaicGrid : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override { dlg = NewMosaic(false); }

    // In the dialog's client area (the grid's cells lie in its scrolled area).
    QRect Geometry(int id) const {
        QWidget* w = dlg->Control(id);
        return QRect(w->mapTo(dlg.get(), QPoint(0, 0)), w->size());
    }
    QRect Box() const { return Geometry(ids::kEffectsShow); }
    QLineEdit* Edit(int id) const { return dlg->ControlAs<QLineEdit>(id); }
    QString Text(int id) const { return ui::CaptionOf(dlg->Control(id)); }
    void Preset(const char* caption) {
        for (int id : ids::kPresets) {
            if (Text(id) == caption) {
                dlg->ControlAs<QAbstractButton>(id)->click();
                return;
            }
        }
        FAIL() << caption;
    }
    void Custom(int rows, int cols) {
        Edit(ids::kRowBox)->setText(QString::number(rows));
        Edit(ids::kColumnBox)->setText(QString::number(cols));
        dlg->ControlAs<QAbstractButton>(ids::kSpecOk)->click();
    }
    int Cells() const {
        int n = 0;
        while (dlg->Control(ids::kNumberButtonBase + n) != nullptr) {
            ++n;
        }
        return n;
    }
    static void DoAction(QWidget* w, const QString& action) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_TRUE(a && a->actionInterface()) << w->objectName().toStdString();
        ASSERT_TRUE(a->actionInterface()->actionNames().contains(action))
            << a->actionInterface()->actionNames().join(',').toStdString();
        a->actionInterface()->doAction(action);
        // A press is an animated click: it lands a moment later.
        QEventLoop wait;
        QTimer::singleShot(300, &wait, &QEventLoop::quit);
        wait.exec();
    }

    QToolButton* Arrow(int id, const char* which) const {
        return dlg->Control(id)->findChild<QToolButton*>(which);
    }

    testutil::FakeUi ui;
    std::unique_ptr<CSimpleMosaic> dlg;
};

}  // namespace

TEST_F(MosaicGrid, GridCellsAndFittedSizesFollowTheSpecification) {
    // A preset by its caption, a custom specification when there is none ("" at opening).
    struct Step {
        const char* preset;
        int rows, cols;
        QSize dialog, box;
    };
    const Step steps[] = {
        {"", 1, 1, {660, 620}, {640, 184}},        {"4X3", 4, 3, {660, 802}, {640, 366}},
        {nullptr, 6, 8, {1188, 984}, {1168, 548}}, {"2X2", 2, 2, {660, 620}, {640, 184}},
        {nullptr, 2, 4, {660, 620}, {640, 184}},   {nullptr, 3, 5, {792, 711}, {772, 275}},
        {"4X1", 4, 1, {660, 802}, {640, 366}},
    };
    const QPoint boxCorner = Box().topLeft();
    for (const Step& s : steps) {
        if (s.preset == nullptr) {
            Custom(s.rows, s.cols);
        } else if (*s.preset != 0) {
            Preset(s.preset);
        }
        EXPECT_EQ(dlg->size(), s.dialog) << s.rows << "x" << s.cols;
        EXPECT_EQ(Box().size(), s.box) << s.rows << "x" << s.cols;
        EXPECT_EQ(Box().topLeft(), boxCorner) << s.rows << "x" << s.cols;
        ASSERT_EQ(Cells(), s.rows * s.cols) << s.rows << "x" << s.cols;
        EXPECT_EQ(dlg->m_screenCount, s.rows * s.cols) << s.rows << "x" << s.cols;
        EXPECT_EQ(dlg->m_selected, 0) << s.rows << "x" << s.cols;
        for (int n = 0; n < s.rows * s.cols; ++n) {
            const int i = n / s.cols, j = n % s.cols;
            const QPoint corner = boxCorner + QPoint(10 + 132 * j, 10 + 81 * i);
            ASSERT_EQ(Geometry(ids::kCellFrameBase + n), QRect(corner, QSize(122, 81)))
                << s.rows << "x" << s.cols << " screen " << n;
            EXPECT_EQ(Geometry(ids::kNumberButtonBase + n),
                      QRect(corner + QPoint(47, 31), QSize(67, 45)));
            EXPECT_EQ(Geometry(ids::kHeightLabelBase + n),
                      QRect(corner + QPoint(3, 35), QSize(42, 15)));
            EXPECT_EQ(Geometry(ids::kHeightBoxBase + n),
                      QRect(corner + QPoint(3, 52), QSize(42, 20)));
            EXPECT_EQ(Geometry(ids::kWidthLabelBase + n),
                      QRect(corner + QPoint(10, 12), QSize(45, 15)));
            EXPECT_EQ(Geometry(ids::kWidthBoxBase + n),
                      QRect(corner + QPoint(56, 10), QSize(42, 20)));
            EXPECT_EQ(Text(ids::kNumberButtonBase + n), QString::asprintf("%.3d", n));
            EXPECT_EQ(Edit(ids::kWidthBoxBase + n)->text(), "1024");
            EXPECT_EQ(Edit(ids::kHeightBoxBase + n)->text(), "768");
            EXPECT_EQ(dlg->m_cells[n].widthBoxId, ids::kWidthBoxBase + n);
            EXPECT_EQ(dlg->m_cells[n].heightBoxId, ids::kHeightBoxBase + n);
        }
        // The lower panel keeps its distance from the bottom edge.
        EXPECT_EQ(dlg->height() - Geometry(ids::kExit).bottom(), 620 - 613)
            << s.rows << "x" << s.cols;
        EXPECT_GT(Geometry(ids::kConnectGroup).top(), Box().bottom()) << s.rows << "x" << s.cols;
    }
}

TEST_F(MosaicGrid, CustomSpecificationsOutsideTheRangeAreRefused) {
    Preset("2X3");
    const struct {
        int rows, cols;
        const char* text;
        const char* caption;
    } cases[] = {
        {7, 1, "Sorry, Does not support the splicing Specifications (6 X 8)", "System information"},
        {1, 9, "Sorry, Does not support the splicing Specifications (6 X 8)", "System information"},
        {0, 3, "Sorry, does not support the splice specifications of less than (1 X 1)",
         "System information"},
    };
    for (const auto& c : cases) {
        ui.boxes.clear();
        Custom(c.rows, c.cols);
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, c.text);
        EXPECT_EQ(ui.boxes[0].caption, c.caption);
        EXPECT_EQ(ui.boxes[0].languageId, 1033);
        EXPECT_EQ(Cells(), 6);  // the old grid stays
        EXPECT_EQ(dlg->size(), QSize(660, 620));
    }
    // In Chinese, with the caption of its own for the (1 X 1) message.
    const auto zh = NewMosaic(true);
    for (const auto& [rows, caption] : {std::pair{9, "系统消息"}, std::pair{0, "系统消磁"}}) {
        zh->ControlAs<QLineEdit>(ids::kRowBox)->setText(QString::number(rows));
        zh->ControlAs<QAbstractButton>(ids::kSpecOk)->click();
        EXPECT_EQ(ui.boxes.back().caption, caption);
        EXPECT_EQ(ui.boxes.back().languageId, 2052);
    }
    // The digits-only boxes take no sign.
    Edit(ids::kRowBox)->clear();
    Edit(ids::kRowBox)->insert("-3");
    EXPECT_EQ(Edit(ids::kRowBox)->text(), "");
}

TEST_F(MosaicGrid, ANumberButtonSelectsItsScreen) {
    Preset("2X2");
    dlg->AutoCalculate();  // enables the Set controls
    ASSERT_TRUE(dlg->Control(ids::kSetInput)->isEnabled());
    dlg->ControlAs<QAbstractButton>(2003)->click();
    EXPECT_EQ(dlg->m_selected, 3);
    EXPECT_EQ(Text(ids::kInputGroup), QString::fromUtf8("Input（WindowID：003）"));
    EXPECT_EQ(Text(ids::kOutputGroup), QString::fromUtf8("Output（WindowID：003）"));
    for (int n = 0; n < 4; ++n) {
        auto* b = dlg->ControlAs<CColorButton>(ids::kNumberButtonBase + n);
        EXPECT_EQ(b->m_faceColour, n == 3 ? QColor(0, 255, 0) : QColor(169, 169, 169)) << n;
        EXPECT_EQ(b->m_textColour, QColor(255, 255, 255));
    }
    for (int id : {ids::kSetInput, ids::kSetOutput, ids::kNoSyncMosaic, ids::kSyncMosaic}) {
        EXPECT_FALSE(dlg->Control(id)->isEnabled()) << id;
    }
    // Through its accessibility action as well.
    DoAction(dlg->Control(2001), QAccessibleActionInterface::pressAction());
    EXPECT_EQ(dlg->m_selected, 1);
    EXPECT_EQ(dlg->Control(2001)->accessibleDescription(), "selected");
    EXPECT_EQ(dlg->Control(2003)->accessibleDescription(), "");
}

TEST_F(MosaicGrid, TheLowerPanelFollowsTheBottomEdge) {
    Preset("3X3");
    const QRect spec = Geometry(ids::kSpecGroup), box = Box(),
                cell = Geometry(ids::kCellFrameBase + 8);
    const QRect exit = Geometry(ids::kExit), setOut = Geometry(ids::kSetOutput),
                arrows = Geometry(ids::kOutputArrows[3]);
    const QSize fitted = dlg->size();
    dlg->show();
    dlg->resize(fitted + QSize(300, 250));  // as when maximised
    ASSERT_TRUE(testutil::WaitUntil([&] { return dlg->size() == fitted + QSize(300, 250); }));
    EXPECT_EQ(Geometry(ids::kExit), exit.translated(0, 250));
    EXPECT_EQ(Geometry(ids::kSetOutput), setOut.translated(0, 250));
    EXPECT_EQ(Geometry(ids::kOutputArrows[3]), arrows.translated(0, 250));
    EXPECT_EQ(Geometry(ids::kSpecGroup), spec);
    EXPECT_EQ(Box(), box);
    EXPECT_EQ(Geometry(ids::kCellFrameBase + 8), cell);
    dlg->resize(fitted);
    ASSERT_TRUE(testutil::WaitUntil([&] { return dlg->size() == fitted; }));
    EXPECT_EQ(Geometry(ids::kExit), exit);
    // A new specification is fitted from the last fitted size, not from the enlarged one.
    dlg->resize(fitted + QSize(300, 250));
    Preset("4X3");
    EXPECT_EQ(dlg->size(), QSize(660, 802));
}

TEST_F(MosaicGrid, AutoCalculateFillsAndColoursTheValueBoxes) {
    const QColor cyan(0, 255, 255), khaki(205, 205, 180);
    const auto base = [&](int id) {
        return dlg->Control(id)->palette().color(QPalette::Disabled, QPalette::Base);
    };
    for (int id = 1256; id <= 1271; ++id) {
        EXPECT_EQ(Edit(id)->text(), "0") << id;
        EXPECT_FALSE(dlg->Changed(id)) << id;
        EXPECT_EQ(base(id), khaki) << id;
        EXPECT_FALSE(dlg->Control(id)->isEnabled()) << id;
    }
    dlg->m_outWidth = 1920;
    dlg->m_outHeight = 1080;
    Preset("1X3");  // refills the boxes with the output size
    dlg->ControlAs<QAbstractButton>(2001)->click();
    dlg->ControlAs<QAbstractButton>(ids::kAutoCalculate)->click();
    EXPECT_TRUE(ui.boxes.empty());
    const std::pair<int, const char*> values[] = {
        {1257, "640"},  {1256, "1080"}, {1258, "640"}, {1259, "0"},
        {1265, "1920"}, {1264, "1080"}, {1266, "0"},   {1267, "0"},
    };
    for (const auto& [id, text] : values) {
        EXPECT_EQ(Edit(id)->text(), text) << id;
    }
    for (int id = 1256; id <= 1271; ++id) {
        EXPECT_TRUE(dlg->Changed(id)) << id;
        EXPECT_EQ(base(id), cyan) << id;
    }

    // The arrows step the Adjusted boxes; the send checks reset or keep them.
    ui.boxes.clear();
    Arrow(ids::kOutputArrows[0], "up")->click();
    EXPECT_EQ(Edit(1268)->text(), "1");
    EXPECT_FALSE(dlg->ComposeWindow(true));  // 1921 wide
    EXPECT_EQ(Edit(1268)->text(), "0");
    Arrow(ids::kInputArrows[2], "up")->click();
    EXPECT_FALSE(dlg->ComposeWindow(false));  // starts at 641
    EXPECT_EQ(Edit(1262)->text(), "1");
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Data out of range");
    EXPECT_EQ(ui.boxes[1].text, "The input value must be even, and can not be odd");
    EXPECT_EQ(ui.boxes[1].caption, "System information");
    DoAction(Arrow(ids::kInputArrows[2], "down"), QAccessibleActionInterface::pressAction());
    EXPECT_EQ(Edit(1262)->text(), "0");
    EXPECT_EQ(dlg->ComposeWindow(false), (mosaic::WindowValues{640, 1080, 640, 0}));
}

TEST_F(MosaicGrid, AutoCalculateMessagesRefillTheBoxThatFailed) {
    Preset("2X2");
    dlg->ControlAs<QAbstractButton>(2003)->click();
    Edit(ids::kWidthBoxBase + 2)->clear();         // the selected row
    Edit(ids::kHeightBoxBase + 2)->setText("63");  // the first column
    dlg->AutoCalculate();
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Sorry, please complete horizontal data, or can not be calculated");
    EXPECT_EQ(ui.boxes[0].caption, "System Information");
    EXPECT_EQ(ui.boxes[1].text, "Sorry, data out of range");
    EXPECT_EQ(Edit(ids::kWidthBoxBase + 2)->text(), "1024");
    EXPECT_EQ(Edit(ids::kHeightBoxBase + 2)->text(), "768");
    EXPECT_EQ(Edit(1257)->text(), "0");  // nothing calculated
    EXPECT_TRUE(dlg->Control(ids::kSetInput)->isEnabled());

    const auto zh = NewMosaic(true);
    zh->ControlAs<QLineEdit>(ids::kHeightBoxBase)->clear();
    zh->AutoCalculate();
    EXPECT_EQ(ui.boxes.back().text, "对不起，请将纵向数据填写完整,否则无法进行拼接计算");
    EXPECT_EQ(ui.boxes.back().caption, "系统消息");
}

TEST_F(MosaicGrid, PresetsAndRadiosWorkThroughTheirAccessibilityActions) {
    DoAction(dlg->Control(ids::kPresets[4]), QAccessibleActionInterface::toggleAction());  // 2X2
    EXPECT_EQ(Cells(), 4);
    EXPECT_EQ(Edit(ids::kRowBox)->text(), "2");
    EXPECT_EQ(Edit(ids::kColumnBox)->text(), "2");
    // After a custom specification the preset it matches shows, or none; any preset works again.
    dlg->AutoCalculate();
    ASSERT_TRUE(dlg->Control(ids::kSetInput)->isEnabled());
    Custom(5, 5);
    EXPECT_FALSE(dlg->Control(ids::kSetInput)->isEnabled());  // the old values are not sent
    EXPECT_EQ(Cells(), 25);
    for (int id : ids::kPresets) {
        EXPECT_FALSE(dlg->ControlAs<QAbstractButton>(id)->isChecked()) << id;
    }
    DoAction(dlg->Control(ids::kPresets[4]), QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(Cells(), 4);
    Custom(1, 3);
    EXPECT_TRUE(dlg->ControlAs<QAbstractButton>(ids::kPresets[2])->isChecked());
}

TEST_F(MosaicGrid, EveryControlHasANameAPersonWouldSay) {
    Preset("1X2");
    const std::pair<int, const char*> names[] = {
        {1257, "InputWidth Calculated"},
        {1262, "Input HorizontalStart Adjusted"},
        {1270, "Output HorizontalStart Adjusted"},
        {ids::kWidthBoxBase + 1, "Screen 001 Width"},
        {ids::kHeightBoxBase + 0, "Screen 000 Height"},
        {ids::kIdRadios[8], "Device ID 9"},
        {ids::kIdList, "Device ID"},
        {ids::kResolutionList, "Resolution"},
        {ids::kRowBox, "Row"},
        {ids::kSetOutput, "Output Set"},
    };
    for (const auto& [id, name] : names) {
        EXPECT_EQ(dlg->Control(id)->accessibleName(), name) << id;
    }
    EXPECT_EQ(Arrow(ids::kInputArrows[0], "up")->accessibleName(), "InputWidth Adjusted up");
    for (QWidget* w : dlg->findChildren<QWidget*>()) {
        const bool input = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                           qobject_cast<QComboBox*>(w);
        if (!input || w->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_TRUE(a);
        EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
            << w->objectName().toStdString();
    }
}

// With ORN312_SCREENSHOT_DIR set, writes the dialog with a 1 × 1 grid as it opens, and with a
// 4 × 3 and a 6 × 8 grid once connected to a simulator's device, in both languages.
TEST_F(MosaicGrid, Screenshots) {
    const QString dir = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to write the pictures";
    }
    QDir().mkpath(dir);
    for (bool chinese : {false, true}) {
        const auto mosaic = NewMosaic(chinese);
        CSimpleMosaic& d = *mosaic;
        d.show();
        const auto save = [&](const QString& name) {
            testutil::ProcessEvents();
            const QString file =
                QStringLiteral("mosaic-%1-%2.png").arg(chinese ? "zh" : "en", name);
            EXPECT_TRUE(d.grab().save(QDir(dir).filePath(file))) << file.toStdString();
        };
        save("1x1");
        // Connected to a simulator's device: its resolution, mode and signal shown.
        d.ControlAs<QAbstractButton>(ids::kConnect)->click();
        ASSERT_TRUE(testutil::WaitUntil([&] { return d.m_bDeviceReady == 1; }));
        d.ApplySpecification(4, 3);
        d.ControlAs<QAbstractButton>(2004)->click();
        d.AutoCalculate();
        save("4x3");
        d.ApplySpecification(6, 8);
        save("6x8");
    }
}
