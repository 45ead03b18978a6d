// The main window's controls, captions, languages, timer panel and accessibility; the progress
// dialog's close race; the message box seam; the sub-dialog placeholders. Offscreen windows.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FakeUi.h"
#include "QtApp.h"
#include "SimSequenceLink.h"
#include "app/AboutDlg.h"
#include "app/MainDlg.h"
#include "app/QtUiSeam.h"
#include "controls/ControlRegistry.h"
#include "controls/Progress.h"
#include "link/Frame.h"
#include "mosaic/SimpleMosaic.h"
#include "resources/Captions.h"
#include "resources/ControlIds.h"
#include "resources/PlanTexts.h"
#include "schedule/InfoPlan.h"
#include "schedule/Program.h"
#include "screen/SetScreen.h"

namespace {

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

// Every control of the main window with its template caption ("" where it has none).
const struct {
    int id;
    const char* caption;
} kTemplate[] = {
    {1218, "Serial/Network"},
    {1303, "Serial"},
    {1304, "Network"},
    {1187, "Rs232_Com_Port:"},
    {1018, ""},
    {1305, ""},
    {1306, ""},
    {1186, "Device_ID"},
    {1111, "1"},
    {1024, "2"},
    {1025, "3"},
    {1026, "4"},
    {1027, "5"},
    {1028, "6"},
    {1065, ""},
    {1066, "Connect"},
    {1072, "Disconnect"},
    {1290, "AutoConnect"},
    {1291, "StartTimer"},
    {1193, "CH/EN"},
    {1124, ""},
    {1242, ""},
    {1037, ""},
    {1243, ""},
    {1188, "Source"},
    {1114, "V1"},
    {1115, "V2"},
    {1120, "VGA1"},
    {1121, "VGA2"},
    {1119, "HDMI"},
    {1118, "DVI"},
    {1311, "DP"},
    {1122, "EXT."},
    {1132, "AUTO"},
    {1073, ""},
    {1074, ""},
    {1075, ""},
    {1076, ""},
    {1077, ""},
    {1078, ""},
    {1079, ""},
    {1080, ""},
    {1210, "Pre: V1"},
    {1195, "EXT."},
    {1036, "NULL"},
    {1029, "SDI"},
    {1040, "VGA"},
    {1030, "DVI"},
    {1041, "VIDEO"},
    {1194, "Cut/Fade"},
    {1020, "Cut"},
    {1022, "0.5S"},
    {1038, "1.0S"},
    {1039, "1.5S"},
    {1205, "Switch Mode"},
    {1042, "One Key Switch"},
    {1043, "Pre + TAKE Switch"},
    {1192, "PIP"},
    {1127, "PIP/PBP"},
    {1031, "M1"},
    {1032, "M2"},
    {1033, "M3"},
    {1191, "Function"},
    {1128, "TEXT"},
    {1129, "BYPASS"},
    {1131, "FREEZE"},
    {1130, "MOSAIC"},
    {1083, ""},
    {1084, ""},
    {1085, ""},
    {1086, ""},
    {1087, ""},
    {1089, ""},
    {1090, ""},
    {1091, ""},
    {1019, "Setup"},
    {1023, "Mosaic"},
    {1034, "Resolution"},
    {1021, "Program"},
    {1190, "Timer"},
    {1067, "Day"},
    {1068, "Week"},
    {1069, "Month"},
    {1070, "Once"},
    {1071, "All"},
    {1016, "Start"},
    {1017, "Stop"},
    {1000, "Timer>>"},
    {1197, "Current Timer"},
    {1198, "Next Timer"},
    {1201, "Time:"},
    {1202, "Signal:"},
    {1203, "Status:"},
    {1204, "Result:"},
    {1206, "Time:"},
    {1207, "Signal:"},
    {1208, "Status:"},
    {1209, "Result:"},
    {1299, ""},
    {1300, ""},
    {1301, ""},
    {1302, ""},
    {1307, ""},
    {1308, ""},
    {1309, ""},
    {1310, ""},
    {1189, "Info"},
    {1035, ""},
    {2, "Exit"},
};

const struct {
    int id;
    const char* name;
} kLampNames[] = {
    {1073, "V1 lamp"},     {1074, "V2 lamp"},   {1075, "VGA1 lamp"},   {1076, "VGA2 lamp"},
    {1077, "HDMI lamp"},   {1078, "DVI lamp"},  {1079, "DP lamp"},     {1080, "EXT. lamp"},
    {1083, "PIP lamp"},    {1084, "TEXT lamp"}, {1085, "BYPASS lamp"}, {1086, "FREEZE lamp"},
    {1087, "MOSAIC lamp"}, {1089, "M1 lamp"},   {1090, "M2 lamp"},     {1091, "M3 lamp"},
};

QString AccessibleText(QObject* o, QAccessible::Text which) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(o);
    return iface != nullptr ? iface->text(which) : QString();
}

bool Interactive(const QWidget* w) {
    return qobject_cast<const QAbstractButton*>(w) != nullptr ||
           qobject_cast<const QComboBox*>(w) != nullptr ||
           qobject_cast<const QLineEdit*>(w) != nullptr;
}

// Does the control show its whole caption? Buttons, radios, boxes, labels and group titles.
bool ShowsWholeCaption(const QWidget* w) {
    const QString text = ui::CaptionOf(w);
    if (text.isEmpty() || qobject_cast<const QLineEdit*>(w) != nullptr) {
        return true;
    }
    const int textWidth = w->fontMetrics().horizontalAdvance(QString(text).remove(u'&'));
    if (qobject_cast<const QPushButton*>(w) != nullptr || qobject_cast<const QGroupBox*>(w)) {
        return textWidth + 8 <= w->width();
    }
    return w->sizeHint().width() <= w->width() && w->sizeHint().height() <= w->height();
}

// Ends a dialog's modal loop if the code under test never does.
class Watchdog {
public:
    Watchdog(QDialog& dialog, int ms) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &dialog, [this, &dialog] {
            fired = true;
            dialog.done(-1);
        });
        m_timer.start(ms);
    }
    bool fired = false;

private:
    QTimer m_timer;
};

// Opens the seam's file chooser (a file to read, in folder), hands the dialog to look once it
// shows, then cancels it.
void WithSeamFileDialog(const QString& folder, const std::function<void(QFileDialog&)>& look) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            seen = true;
            look(*dialog);
        }
        if (modal != nullptr) {
            modal->close();
        }
    });
    QtUiSeam seam;
    EXPECT_EQ(seam.ChooseFile(false, "Load wall", "Wall files (*.wall);;All files (*)",
                              folder.toStdString()),
              "");
    EXPECT_TRUE(seen) << "no file dialog came up";
}

class MainDlgLayout : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override { dlg = std::make_unique<CORN302ControlDlg>(); }

    QAbstractButton* Button(int id) const { return dlg->ControlAs<QAbstractButton>(id); }
    QString Caption(int id) const { return ui::CaptionOf(dlg->Control(id)); }
    // Every control that carries an identifier.
    std::vector<QWidget*> Registered() const {
        std::vector<QWidget*> all;
        for (QWidget* w : dlg->findChildren<QWidget*>()) {
            if (w->property("controlId").isValid() && w->window() == dlg.get()) {
                all.push_back(w);
            }
        }
        return all;
    }
    bool PanelShown() const {
        return dlg->Control(ids::kCurrentTimerGroup)->isVisibleTo(dlg.get());
    }

    std::unique_ptr<CORN302ControlDlg> dlg;
};

TEST_F(MainDlgLayout, EveryControlHasItsIdentifierAndTemplateCaption) {
    EXPECT_EQ(dlg->windowTitle(), Utf8("QUOLAN ORN312 Processor Controller(V1.13)"));
    std::set<int> listed;
    for (const auto& c : kTemplate) {
        SCOPED_TRACE(c.id);
        listed.insert(c.id);
        QWidget* w = dlg->Control(c.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(dlg->findChild<QWidget*>(QStringLiteral("ctl%1").arg(c.id)), w);
        EXPECT_EQ(w->property("controlId").toInt(), c.id);
        EXPECT_EQ(ui::CaptionOf(w), Utf8(c.caption));
    }
    std::set<int> registered;
    for (QWidget* w : Registered()) {
        registered.insert(w->property("controlId").toInt());
    }
    EXPECT_EQ(registered, listed);

    // Lamps start hidden; the EXT. input radios only show; M1..M3 wait for PIP.
    for (const auto& lamp : kLampNames) {
        EXPECT_TRUE(dlg->Control(lamp.id)->isHidden()) << lamp.id;
    }
    for (int id : ids::kExtRadios) {
        EXPECT_FALSE(dlg->Control(id)->isEnabled()) << id;
    }
    for (int id : {ids::kM1, ids::kM2, ids::kM3}) {
        EXPECT_FALSE(dlg->Control(id)->isEnabled()) << id;
    }
    // The Info line shows text but takes none, and is not greyed out.
    auto* info = dlg->ControlAs<QLineEdit>(ids::kInfo);
    EXPECT_TRUE(info->isReadOnly());
    EXPECT_TRUE(info->isEnabled());
}

// What the window shows at start-up is its caption set's start caption, English but for the
// template's "PIP": one table gives both.
TEST_F(MainDlgLayout, StartCaptionsComeFromTheCaptionSet) {
    const std::span<const res::Caption> set(res::kMainCaptions,
                                            static_cast<size_t>(res::kMainCaptionCount));
    for (const res::Caption& c : set) {
        const QString shown = c.id == res::kWindowTitle ? dlg->windowTitle() : Caption(c.id);
        EXPECT_EQ(shown, Utf8(res::StartCaption(set, c.id))) << c.id;
    }
    EXPECT_EQ(Caption(ids::kPipGroup), Utf8("PIP"));
    EXPECT_STREQ(res::StartCaption(set, ids::kPortLabel), "Rs232_Com_Port:");

    // The captions that read the same in both languages come from their own table, and a
    // language round trip leaves them as they were.
    const std::span<const res::FixedCaption> fixed(res::kMainFixedCaptions,
                                                   size_t(res::kMainFixedCaptionCount));
    for (bool chinese : {false, true, false}) {
        Button(chinese ? ids::kChineseRadio : ids::kEnglishRadio)->click();
        for (const res::FixedCaption& c : fixed) {
            EXPECT_EQ(Caption(c.id), Utf8(c.text)) << c.id;
        }
    }
    // No button or group box shows a text that neither table holds.
    QStringList known{Utf8(res::PanelButtonCaption(true, false)),
                      Utf8(res::PanelButtonCaption(false, false)), QString()};
    for (const res::Caption& c : set) {
        known << Utf8(res::StartCaption(set, c.id)) << Utf8(c.en);
    }
    for (const res::FixedCaption& c : fixed) {
        known << Utf8(c.text);
    }
    for (const QAbstractButton* b : dlg->findChildren<QAbstractButton*>()) {
        EXPECT_TRUE(known.contains(b->text())) << b->text().toStdString();
    }
    for (const QGroupBox* g : dlg->findChildren<QGroupBox*>()) {
        EXPECT_TRUE(known.contains(g->title())) << g->title().toStdString();
    }
}

TEST_F(MainDlgLayout, InputFieldsAcceptOnlyTheirForm) {
    const struct {
        int id;
        const char* text;
        bool acceptable;
    } cases[] = {
        {ids::kIpAddress, "192.168.1.10", true}, {ids::kIpAddress, "256.1.1.1", false},
        {ids::kIpAddress, "10.0.0", false},      {ids::kIpAddress, "host.local", false},
        {ids::kPortEdit, "5000", true},          {ids::kPortEdit, "70000", true},
        {ids::kPortEdit, "50a", false},
    };
    for (const auto& c : cases) {
        auto* edit = dlg->ControlAs<QLineEdit>(c.id);
        QString text = Utf8(c.text);
        int pos = 0;
        EXPECT_EQ(edit->validator()->validate(text, pos) == QValidator::Acceptable, c.acceptable)
            << c.id << " " << c.text;
    }
    EXPECT_TRUE(dlg->ControlAs<QComboBox>(ids::kPortCombo)->isEditable());
}

TEST_F(MainDlgLayout, LanguageRoundTripSetsEveryCaption) {
    const std::span<const res::Caption> set(res::kMainCaptions,
                                            static_cast<size_t>(res::kMainCaptionCount));
    for (bool chinese : {true, false}) {
        Button(chinese ? ids::kChineseRadio : ids::kEnglishRadio)->click();
        EXPECT_EQ(dlg->m_bChinese, chinese ? 1 : 0);
        for (const res::Caption& c : set) {
            const QString want = Utf8(chinese ? c.zh : c.en);
            const QString got = c.id == res::kWindowTitle ? dlg->windowTitle() : Caption(c.id);
            EXPECT_EQ(got, want) << c.id;
        }
    }
    // English after Chinese is the English set, not the template: "PIP" became "PIP_Mode".
    EXPECT_EQ(Caption(ids::kPipGroup), Utf8("PIP_Mode"));
}

TEST_F(MainDlgLayout, PanelButtonCaptionFollowsPanelAndLanguage) {
    ASSERT_TRUE(PanelShown());  // as built; start-up folds it away
    const struct {
        int click;
        const char* caption;
    } steps[] = {
        {ids::kChineseRadio, "定时器<<"},
        {ids::kTimerPanel, "Timer>>"},  // the button sets English whatever the language
        {ids::kEnglishRadio, "Timer>>"},
        {ids::kChineseRadio, "定时器>>"},
        {ids::kTimerPanel, "Timer<<"},
        {ids::kEnglishRadio, "Timer<<"},
    };
    for (const auto& s : steps) {
        Button(s.click)->click();
        EXPECT_EQ(Caption(ids::kTimerPanel), Utf8(s.caption));
    }
}

TEST_F(MainDlgLayout, PanelFoldsByExactlyItsWidthAndBack) {
    dlg->show();
    const QPoint pos = dlg->pos();
    const QSize built = dlg->size();
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());  // not resizable by the user
    for (int click = 1; click <= 4; ++click) {
        Button(ids::kTimerPanel)->click();
        QCoreApplication::processEvents();
        const bool folded = click % 2 == 1;
        EXPECT_EQ(dlg->m_bPanelCollapsed, folded);
        EXPECT_EQ(PanelShown(), !folded);
        EXPECT_EQ(dlg->size(), QSize(built.width() - (folded ? 340 : 0), built.height()));
        EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
        EXPECT_EQ(dlg->pos(), pos);
    }
}

TEST_F(MainDlgLayout, NothingClippedInEitherLanguageOrPanelState) {
    dlg->show();
    for (int lang : {ids::kChineseRadio, ids::kEnglishRadio}) {
        Button(lang)->click();
        for (int fold = 0; fold < 2; ++fold) {
            Button(ids::kTimerPanel)->click();
            QCoreApplication::processEvents();
            for (QWidget* w : Registered()) {
                if (!w->isVisibleTo(dlg.get())) {
                    continue;
                }
                const int id = w->property("controlId").toInt();
                EXPECT_TRUE(ShowsWholeCaption(w)) << id << " " << ui::CaptionOf(w).toStdString();
                const QRect inWindow(w->mapTo(dlg.get(), QPoint(0, 0)), w->size());
                EXPECT_TRUE(dlg->rect().contains(inWindow)) << id;
            }
        }
    }
}

TEST_F(MainDlgLayout, AllTicksAndClearsTheFiveBoxes) {
    const int boxes[] = {ids::kDay, ids::kWeek, ids::kMonth, ids::kOnce, ids::kAll};
    const auto ticked = [&](bool on) {
        for (int id : boxes) {
            if (Button(id)->isChecked() != on) {
                return false;
            }
        }
        return true;
    };
    Button(ids::kAll)->click();
    EXPECT_TRUE(ticked(true));
    Button(ids::kWeek)->click();  // one kind off by hand
    Button(ids::kAll)->click();
    EXPECT_TRUE(ticked(false));
    // Start-up ticks all five: the first click on "All" clears them, it is not lost.
    for (int id : boxes) {
        Button(id)->setChecked(true);
    }
    Button(ids::kAll)->click();
    EXPECT_TRUE(ticked(false));
    EXPECT_FALSE(dlg->m_bPlanFilter);
}

TEST_F(MainDlgLayout, EveryControlIsReachableAndNamedDistinctly) {
    // Reachable: found by walking the accessible tree down from the window.
    std::set<QObject*> reached;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
        for (int i = 0; i < iface->childCount(); ++i) {
            if (QAccessibleInterface* child = iface->child(i)) {
                reached.insert(child->object());
                walk(child);
            }
        }
    };
    walk(QAccessible::queryAccessibleInterface(dlg.get()));
    for (QWidget* w : Registered()) {
        EXPECT_TRUE(reached.count(w)) << w->objectName().toStdString();
    }

    for (int lang : {ids::kChineseRadio, ids::kEnglishRadio}) {
        Button(lang)->click();
        std::set<QString> interactiveNames;
        for (QWidget* w : Registered()) {
            const QString name = AccessibleText(w, QAccessible::Name);
            EXPECT_FALSE(name.isEmpty()) << w->objectName().toStdString();
            if (Interactive(w)) {
                EXPECT_TRUE(interactiveNames.insert(name).second) << name.toStdString();
            }
        }
    }

    const struct {
        int id;
        const char* name;
    } named[] = {
        {ids::kPortCombo, "Rs232_Com_Port"},
        {ids::kIpAddress, "IP address"},
        {ids::kPortEdit, "Port"},
        {ids::kDeviceIdCombo, "Device_ID list"},
        {1111, "Device_ID 1"},
        {1028, "Device_ID 6"},
        {ids::kChineseRadio, "Chinese"},
        {ids::kEnglishRadio, "English"},
        {ids::kInfo, "Info"},
        {1299, "Current Timer Time"},
        {1302, "Current Timer Result"},
        {1307, "Next Timer Time"},
        {1310, "Next Timer Result"},
        {1201, "Current Timer Time:"},
        {1206, "Next Timer Time:"},
        {1030, "EXT. input DVI"},
        {1040, "EXT. input VGA"},
        {ids::kExtGroup, "EXT. input"},
        {ids::kExt, "EXT."},
        {ids::kConnect, "Connect"},
    };
    for (const auto& n : named) {
        EXPECT_EQ(AccessibleText(dlg->Control(n.id), QAccessible::Name), Utf8(n.name)) << n.id;
    }
    for (const auto& lamp : kLampNames) {
        EXPECT_EQ(AccessibleText(dlg->Control(lamp.id), QAccessible::Name), Utf8(lamp.name));
    }
    // Names made from captions follow the language.
    Button(ids::kChineseRadio)->click();
    EXPECT_EQ(AccessibleText(dlg->Control(1300), QAccessible::Name), Utf8("当前定时 信号"));
    EXPECT_EQ(AccessibleText(dlg->Control(ids::kConnect), QAccessible::Name), Utf8("连接"));
}

TEST_F(MainDlgLayout, LampDescriptionFollowsItsState) {
    const struct {
        std::function<void(CORN302ControlDlg&)> step;
        bool shown;
        const char* description;
    } steps[] = {
        {[](CORN302ControlDlg& d) { d.SetLampState(1077, 1); }, true, "on"},
        {[](CORN302ControlDlg& d) { d.SetLampState(1077, 2); }, true, "flashing"},
        {[](CORN302ControlDlg& d) { d.SetLampVisible(1077, false); }, false, "flashing"},
        {[](CORN302ControlDlg& d) { d.SetLampVisible(1077, true); }, true, "flashing"},
        {[](CORN302ControlDlg& d) { d.SetLampState(1077, 0); }, false, "off"},
    };
    QWidget* lamp = dlg->Control(1077);
    EXPECT_EQ(AccessibleText(lamp, QAccessible::Description), Utf8("off"));
    for (const auto& s : steps) {
        s.step(*dlg);
        EXPECT_EQ(lamp->isVisibleTo(dlg.get()), s.shown);
        EXPECT_EQ(AccessibleText(lamp, QAccessible::Description), Utf8(s.description));
    }
}

TEST_F(MainDlgLayout, LateFlashOfALampNoLongerFlashingIsDropped) {
    // The blink thread reads the blink set and posts its show or hide a moment later; a status
    // decode may come between. The events below reach the UI thread in this order.
    app::ConnectionSink& sink = *dlg;
    const auto decode = [&](uint8_t sources, uint8_t mainSignal) {
        return [&, sources, mainSignal] {
            const devlink::Frame reply =
                devlink::MakeFrame(1, {0xFE, 0x00, 0, 0, 0, sources, mainSignal, 0, 0, 0});
            dlg->m_conn.WithLink([&](devlink::LinkConnection&) { sink.StatusReply(reply); });
        };
    };
    const auto flash = [&](bool visible) {
        return [&, visible] { sink.LampsVisible({ids::kSourceLamps[0]}, visible); };
    };
    const struct {
        const char* what;
        std::function<void()> event;
        bool v1Shown;
    } steps[] = {
        {"V1 without signal flashes", decode(0x00, 0), false},
        {"flash on", flash(true), true},
        {"flash off", flash(false), false},
        {"flash on", flash(true), true},
        {"V1 has its signal: steady", decode(0x00, 1), true},
        {"the late flash off is dropped", flash(false), true},
        {"V1 without signal again", decode(0x00, 0), true},
        {"HDMI is the source now: V1 out", decode(0x04, 1), false},
        {"the late flash on is dropped", flash(true), false},
    };
    for (const auto& s : steps) {
        s.event();
        QCoreApplication::processEvents();
        EXPECT_EQ(dlg->Control(ids::kSourceLamps[0])->isVisibleTo(dlg.get()), s.v1Shown) << s.what;
    }
    EXPECT_TRUE(dlg->Control(ids::kSourceLamps[4])->isVisibleTo(dlg.get()));
}

TEST_F(MainDlgLayout, AboutComesFromTheContextMenuThroughTheSeam) {
    auto* about = dlg->findChild<QAction*>(QStringLiteral("aboutAction"));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(dlg->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_TRUE(dlg->actions().contains(about));
    {
        testutil::FakeUi seam;
        about->trigger();
        EXPECT_EQ(seam.dialogs, std::vector<std::string>{"CAboutDlg"});
    }
    Button(ids::kChineseRadio)->click();
    EXPECT_EQ(about->text(), Utf8("关于 ORN312Control(&A)..."));
}

// ---- the progress dialog ----------------------------------------------------------------------

class ProgressDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    CProgress progress;
};

TEST_F(ProgressDialog, FinishBeforeItAppearsClosesIt) {
    progress.Reset();
    progress.Finish();
    Watchdog dog(progress, 3000);
    progress.ExecModal();
    EXPECT_FALSE(dog.fired);
    EXPECT_FALSE(progress.isVisible());

    // Finished after ExecModal looked but before the window showed: the showing closes it.
    progress.Reset();
    progress.Finish();
    QCoreApplication::processEvents();  // the posted close finds nothing to close
    Watchdog dog2(progress, 3000);
    progress.exec();
    EXPECT_FALSE(dog2.fired);
}

TEST_F(ProgressDialog, FinishFromAWorkerWhileShownClosesIt) {
    progress.Reset();
    std::thread worker;
    QTimer::singleShot(100, &progress, [&] {
        EXPECT_TRUE(progress.isVisible());
        progress.close();  // the operator cannot dismiss the wait
        EXPECT_TRUE(progress.isVisible());
        worker = std::thread([&] { progress.Finish(); });
    });
    Watchdog dog(progress, 3000);
    progress.ExecModal();
    worker.join();
    EXPECT_FALSE(dog.fired);
}

TEST_F(ProgressDialog, WorkerRacingTheShowingNeverLeavesItOpen) {
    for (int round = 0; round < 30; ++round) {
        progress.Reset();
        std::thread worker([&] { progress.Finish(); });
        Watchdog dog(progress, 3000);
        progress.ExecModal();
        worker.join();
        ASSERT_FALSE(dog.fired) << round;
    }
    // A stale close from the last round must not end the next showing early.
    progress.Reset();
    bool shownLongEnough = false;
    QTimer::singleShot(150, &progress, [&] {
        shownLongEnough = progress.isVisible();
        progress.Finish();
    });
    Watchdog dog(progress, 3000);
    progress.ExecModal();
    EXPECT_TRUE(shownLongEnough);
}

TEST_F(ProgressDialog, TextFollowsPurposeAndLanguageWhenShown) {
    progress.Reset();
    progress.m_bChinese = true;
    progress.m_purpose = 2;
    QString shown;
    QTimer::singleShot(0, &progress, [&] {
        shown = progress.findChild<QLabel*>(QStringLiteral("ctl1185"))->text();
        progress.Finish();
    });
    Watchdog dog(progress, 3000);
    progress.ExecModal();
    EXPECT_EQ(shown, Utf8("正在修改分辨率"));
}

// ---- the seam's message boxes and the sub-dialogs ---------------------------------------------

TEST(QtSeam, MessageBoxButtonsSpeakTheLanguageOfTheBox) {
    testutil::TestApp();
    const struct {
        int lang;
        const char* yes;
        const char* no;
        bool answerYes;
    } cases[] = {
        {platform::kLangEnglish, "Yes", "No", true},
        {platform::kLangChinese, "是", "否", false},
    };
    for (const auto& c : cases) {
        QtUiSeam seam;
        QStringList buttons;
        QString title, text;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton* b : box->buttons()) {
                buttons << b->text();
                if (b->text() == Utf8(c.answerYes ? c.yes : c.no)) {
                    b->click();
                }
            }
        });
        const bool answer = seam.MessageBox("确认退出?", "系统信息", c.lang);
        EXPECT_EQ(answer, c.answerYes);
        EXPECT_EQ(title, Utf8("系统信息"));
        EXPECT_EQ(text, Utf8("确认退出?"));
        buttons.sort();
        QStringList want{Utf8(c.yes), Utf8(c.no)};
        want.sort();
        EXPECT_EQ(buttons, want);
    }
}

// Qt's own texts in the file dialog (buttons, labels, columns) follow the window's language both
// ways, and go back to English with the window.
TEST_F(MainDlgLayout, FileDialogSpeaksTheLanguageShown) {
    QTemporaryDir folder;
    const struct {
        int radio;
        const char* cancel;
        const char* nameColumn;
    } cases[] = {
        {ids::kChineseRadio, "取消", "名称"},
        {ids::kEnglishRadio, "Cancel", "Name"},
        {ids::kChineseRadio, "取消", "名称"},
    };
    for (const auto& c : cases) {
        Button(c.radio)->click();
        WithSeamFileDialog(folder.path(), [&](QFileDialog& dialog) {
            EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
            QStringList buttons;
            for (QAbstractButton* b : dialog.findChildren<QAbstractButton*>()) {
                buttons << b->text();
            }
            EXPECT_TRUE(buttons.contains(Utf8(c.cancel))) << buttons.join(u'|').toStdString();
            auto* tree = dialog.findChild<QTreeView*>();
            ASSERT_NE(tree, nullptr);
            EXPECT_EQ(tree->model()->headerData(0, Qt::Horizontal).toString(), Utf8(c.nameColumn));
        });
    }
    dlg.reset();  // closed while Chinese: Qt speaks English again
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Cancel"), QStringLiteral("Cancel"));
}

TEST(SubDialogs, OpenWithTitleInTheLanguageAndCloseByTheirButton) {
    testutil::TestApp();
    QTemporaryDir planDir;
    CInfoPlan plans(QDir(planDir.path()).filePath("Planinfo.ini").toStdString());
    struct Case {
        std::function<std::unique_ptr<QDialog>(bool)> make;
        int button;
        const char* zh;
        const char* en;
    };
    const Case cases[] = {
        {[](bool zh) {
             return std::make_unique<CSetScreen>(
                 nullptr, screen::OpeningValues{.chinese = zh},
                 [](platform::StopFlag&) { return std::unique_ptr<app::SequenceLink>(); });
         },
         2, "屏幕参数", "Screen Program"},
        {[&](bool zh) { return std::make_unique<CProgram>(nullptr, plans, zh, false); }, 2, "任务",
         "Program"},
        {[](bool zh) {
             return std::make_unique<CSimpleMosaic>(nullptr, zh, [](platform::StopFlag&) {
                 return std::make_unique<testutil::SimSequenceLink>();
             });
         },
         2, "快速拼接", "Fast Mosaic"},
    };
    for (const Case& c : cases) {
        for (bool zh : {true, false}) {
            std::unique_ptr<QDialog> dialog = c.make(zh);
            EXPECT_EQ(dialog->windowTitle(), Utf8(zh ? c.zh : c.en));
            auto* button =
                dialog->findChild<QAbstractButton*>(QStringLiteral("ctl%1").arg(c.button));
            ASSERT_NE(button, nullptr);
            QTimer::singleShot(0, button, &QAbstractButton::click);
            Watchdog dog(*dialog, 3000);
            dynamic_cast<platform::ModalDialog&>(*dialog).ExecModal();
            EXPECT_FALSE(dog.fired) << c.en;
        }
    }
}

// ---- pictures to look at ----------------------------------------------------------------------

// With ORN312_SCREENSHOT_DIR set, writes the main window (both languages, panel folded and
// shown, and once with every lamp lit), the progress dialog, the About box and the program's
// icon as PNG files.
TEST_F(MainDlgLayout, Screenshots) {
    const QString dir = qEnvironmentVariable("ORN312_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set ORN312_SCREENSHOT_DIR to write the pictures";
    }
    QDir().mkpath(dir);
    QTemporaryDir profileDir;
    dlg->m_profilePath = QDir(profileDir.path()).filePath("Planinfo.ini").toStdString();
    dlg->OnInitDialog();
    dlg->show();
    const auto save = [&](QWidget* w, const QString& name) {
        QCoreApplication::processEvents();
        EXPECT_TRUE(w->grab().save(QDir(dir).filePath(name + ".png"))) << name.toStdString();
    };
    for (const char* lang : {"en", "zh"}) {
        Button(lang[0] == 'z' ? ids::kChineseRadio : ids::kEnglishRadio)->click();
        save(dlg.get(), QStringLiteral("main-%1-folded").arg(lang));
        Button(ids::kTimerPanel)->click();
        // The timer panel as it tells what became of a plan, and the plan waited for next.
        const bool zh = lang[0] == 'z';
        const std::string fields[8] = {
            "10: 0: 6", "HDMI", res::TimerExecutedText(zh),     res::TimerSentText("10:00:06", zh),
            "10:30: 0", "DVI",  zh ? "未执行" : "No Execution", zh ? "未知" : "Unknown"};
        for (int i = 0; i < 4; ++i) {
            dlg->ControlAs<QLineEdit>(ids::kCurrentValues[i])
                ->setText(QString::fromStdString(fields[i]));
            dlg->ControlAs<QLineEdit>(ids::kNextValues[i])
                ->setText(QString::fromStdString(fields[4 + i]));
        }
        save(dlg.get(), QStringLiteral("main-%1-panel").arg(lang));
        Button(ids::kTimerPanel)->click();
    }
    Button(ids::kEnglishRadio)->click();
    Button(ids::kTimerPanel)->click();
    dlg->EnableSwitchControls(true);
    for (const auto& lamp : kLampNames) {
        dlg->SetLampState(lamp.id, 1);
    }
    save(dlg.get(), "main-en-lamps");

    for (bool chinese : {false, true}) {
        CProgress progress(dlg.get());
        progress.m_bChinese = chinese;
        progress.show();
        save(&progress, chinese ? "progress-zh" : "progress-en");
    }
    CAboutDlg about(dlg.get());
    about.show();
    save(&about, "about");
    // Qt's file dialog as the wall and settings files open it, in both languages.
    QFile(QDir(profileDir.path()).filePath("hall.wall")).open(QIODevice::WriteOnly);
    for (const char* lang : {"en", "zh"}) {
        Button(lang[0] == 'z' ? ids::kChineseRadio : ids::kEnglishRadio)->click();
        WithSeamFileDialog(profileDir.path(), [&](QFileDialog& dialog) {
            save(&dialog, QStringLiteral("filedialog-%1").arg(lang));
        });
    }
    EXPECT_TRUE(dlg->windowIcon().pixmap(128, 128).save(QDir(dir).filePath("icon.png")));
}

}  // namespace
