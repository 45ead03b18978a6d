// The dialogs' link sequences, opened from the main window against a processor that fails while
// they talk to it: each sequence (the screen settings readback and a Save, an output resolution
// change, the fast mosaic's connect and a Set, a whole wall of two processors on the line) × a
// silent device, a slow one, a stall released at
// once, a killed one and one that hangs up. In every cell the window shows nothing the device did
// not say (no value it did not send, no success for a frame that did not leave), Exit closes the
// dialog within a second, the main window afterwards polls again or says that it is not
// connected, and the device never saw two frames interleaved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "FakeUi.h"
#include "Operate.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "app/MainDlg.h"
#include "controls/Progress.h"
#include "resources/ControlIds.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"
#include "mosaic/WallDialog.h"
#include "screen/Advanced.h"
#include "screen/SetScreen.h"
#include "resources/SetScreenIds.h"

namespace fs = std::filesystem;
using testutil::WaitUntil;

namespace {

const char kNormal[] = "Communications equipment normal";
const char kSilent[] = "Device not responding, check the device and the cable";
const char kClosed[] = "The device closed the connection, please connect again";
const char kAfterMosaic[] = "The connection was closed after the fast mosaic, please connect again";

enum class Fault { Silent, Slow, Stall, Killed, HungUp };
enum class Seq { Readback, Save, Resolution, MosaicConnect, MosaicSet, Wall };

const char* Name(Fault f) {
    switch (f) {
        case Fault::Silent:
            return "silent";
        case Fault::Slow:
            return "slow";
        case Fault::Stall:
            return "stall released";
        case Fault::Killed:
            return "killed";
        case Fault::HungUp:
            return "hung up";
    }
    return "";
}
const char* Name(Seq s) {
    switch (s) {
        case Seq::Readback:
            return "settings readback";
        case Seq::Save:
            return "settings Save";
        case Seq::Resolution:
            return "resolution change";
        case Seq::MosaicConnect:
            return "mosaic connect";
        case Seq::MosaicSet:
            return "mosaic Set";
        case Seq::Wall:
            return "whole wall";
    }
    return "";
}

// What the screen settings read from a fresh simulator (box identifier → value).
const std::map<int, int> kFresh = {
    {1037, 1920}, {1038, 0},   {1039, 1080}, {1040, 0},   {1024, 1920}, {1025, 0},    {1026, 1080},
    {1027, 0},    {1033, 960}, {1034, 960},  {1158, 540}, {1159, 540},  {1028, 1920}, {1029, 0},
    {1030, 1080}, {1031, 0},   {1051, 64},   {1063, 50},  {1055, 50},   {1060, 50},   {1066, 50},
    {1068, 50},   {1070, 50},  {1076, 50},   {1081, 50},  {1048, 0},    {1046, 0},    {1056, 0},
};

class DialogFaultMatrix : public ::testing::TestWithParam<std::tuple<Seq, Fault>> {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override {
        dir = fs::path(testing::TempDir()) / ("orn312-dialog-faults-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        ui.run = {"CProgress", "CSetScreen", "CCAdvanced", "CSimpleMosaic", "CWallDialog"};
        ui.watchdogMs = 20000;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string Info(CORN302ControlDlg& d) {
        return d.ControlAs<QLineEdit>(ids::kInfo)->text().toStdString();
    }

    // Puts the fault in place (a slow device is slow from its start).
    void Apply(Fault f) {
        log += sim->Output();
        switch (f) {
            case Fault::Silent:
                sim->Command("stall 60000");
                break;
            case Fault::Stall:
                sim->Command("stall 2500");
                break;
            case Fault::HungUp:
                sim->Command("hangup");
                sim->WaitForOutput("hangup:", 3000);
                break;
            case Fault::Killed:
                sim.reset();
                break;
            case Fault::Slow:
                break;
        }
    }

    // Presses Exit 1.2 s from now, and notes when.
    void ExitSoon(QAbstractButton* exit) {
        QTimer::singleShot(1200, exit, [this, exit] {
            exitAt.start();
            exit->click();
        });
    }
    // The dialog went within a second of its Exit.
    void ExpectClosedInTime(QWidget& dialog) {
        ASSERT_TRUE(WaitUntil([&] { return exitAt.isValid() && !dialog.isVisible(); }, 25000));
        EXPECT_LT(exitAt.elapsed(), 1000);
    }

    void RunCell(Seq seq, Fault fault);

    fs::path dir;
    testutil::FakeUi ui;
    std::unique_ptr<testutil::SimProcess> sim;
    std::string log;
    QElapsedTimer exitAt;
};

void DialogFaultMatrix::RunCell(Seq seq, Fault fault) {
    std::vector<std::string> args = {"--tcp", "0", "--ids", "1-2"};
    if (fault == Fault::Slow) {
        args.insert(args.end(), {"--fault", "slow=150"});
    }
    sim = std::make_unique<testutil::SimProcess>(args);
    ASSERT_TRUE(sim->Started());
    log.clear();
    ui.boxes.clear();
    exitAt.invalidate();
    auto d = std::make_unique<CORN302ControlDlg>();
    d->m_profilePath = (dir / "Planinfo.ini").string();
    d->OnInitDialog();
    d->ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
    d->ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
    d->ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(sim->tcpPort));
    d->ControlAs<QAbstractButton>(ids::kConnect)->click();
    ASSERT_TRUE(WaitUntil([&] { return Info(*d) == kNormal; }, 5000)) << Info(*d);
    ASSERT_TRUE(WaitUntil([&] { return !d->Control(ids::kSourceLamps[0])->isHidden(); }));
    const bool dead = fault == Fault::Killed || fault == Fault::HungUp;
    // The fast mosaic's connect takes about 11 s of the device's pauses; a wall adds its screens.
    ui.watchdogMs = seq == Seq::Wall ? 40000 : 20000;

    switch (seq) {
        case Seq::Readback:
        case Seq::Save:
            if (seq == Seq::Readback) {
                Apply(fault);
            }
            QTimer::singleShot(0, [&] {
                CSetScreen* s = nullptr;
                ASSERT_TRUE(WaitUntil([&] {
                    s = d->findChild<CSetScreen*>();
                    return s != nullptr && s->isVisible();
                }));
                auto* exit = s->ControlAs<QAbstractButton>(sids::kExit);
                if (seq == Seq::Save) {
                    ASSERT_TRUE(WaitUntil([&] { return !s->Busy(); }, 20000));
                    Apply(fault);
                    s->ControlAs<QLineEdit>(sids::kBrightness)->setText("32");
                    s->ControlAs<QAbstractButton>(sids::kBrightnessSave)->click();
                    WaitUntil([&] { return !s->Busy(); }, 1000);
                    const QString info = s->ControlAs<QLineEdit>(sids::kInfo)->text();
                    if (dead) {
                        EXPECT_NE(info, "Set successfully");
                    }
                }
                ExitSoon(exit);
                // Until Exit, every box the readback filled holds what the device sent for it.
                while (!exitAt.isValid()) {
                    for (const auto& [id, value] : kFresh) {
                        const QString text = s->ControlAs<QLineEdit>(id)->text();
                        if (!text.isEmpty() && seq == Seq::Readback) {
                            EXPECT_EQ(text, QString::number(value)) << id;
                        }
                    }
                    testutil::ProcessEvents(20);
                }
                ExpectClosedInTime(*s);
            });
            d->ControlAs<QAbstractButton>(ids::kSetup)->click();
            break;
        case Seq::Resolution:
            QTimer::singleShot(0, [&] {
                CCAdvanced* a = nullptr;
                ASSERT_TRUE(WaitUntil(
                    [&] {
                        a = d->findChild<CCAdvanced*>();
                        return a != nullptr && a->isVisible() && !a->Busy();
                    },
                    15000));
                Apply(fault);
                ExitSoon(qobject_cast<QAbstractButton*>(a->Control(CCAdvanced::kOk)));
                // Returns once the wait box has closed (OK during the wait closes both).
                testutil::Choose(qobject_cast<QComboBox*>(a->Control(CCAdvanced::kList)), 7);
                ExpectClosedInTime(*a);
                EXPECT_FALSE(a->Progress().isVisible());
            });
            d->ControlAs<QAbstractButton>(ids::kResolution)->click();
            break;
        case Seq::MosaicConnect:
        case Seq::MosaicSet:
            QTimer::singleShot(0, [&] {
                CSimpleMosaic* m = nullptr;
                ASSERT_TRUE(WaitUntil([&] {
                    m = d->findChild<CSimpleMosaic*>();
                    return m != nullptr && m->isVisible();
                }));
                auto* exit = m->ControlAs<QAbstractButton>(mosaic::ids::kExit);
                auto* connect = m->ControlAs<QAbstractButton>(mosaic::ids::kConnect);
                if (seq == Seq::MosaicSet) {
                    connect->click();  // returns once connected
                    ASSERT_TRUE(WaitUntil([&] { return !m->m_runner->Busy(); }, 15000));
                    m->AutoCalculate();
                    ASSERT_TRUE(m->Control(mosaic::ids::kSetInput)->isEnabled());
                    Apply(fault);
                    ExitSoon(exit);
                    m->ControlAs<QAbstractButton>(mosaic::ids::kSetInput)->click();
                } else {
                    Apply(fault);
                    ExitSoon(exit);
                    connect->click();  // returns once the wait box has closed
                    EXPECT_FALSE(m->m_progress->isVisible());
                    // A device that is gone or silent is never shown as ready for Sets.
                    if (fault != Fault::Slow && fault != Fault::Stall) {
                        EXPECT_FALSE(m->Control(mosaic::ids::kSetInput)->isEnabled());
                    }
                }
                ExpectClosedInTime(*m);
            });
            d->ControlAs<QAbstractButton>(ids::kMosaicDlg)->click();
            break;
        case Seq::Wall:
            QTimer::singleShot(0, [&] {
                CSimpleMosaic* m = nullptr;
                ASSERT_TRUE(WaitUntil([&] {
                    m = d->findChild<CSimpleMosaic*>();
                    return m != nullptr && m->isVisible();
                }));
                m->ControlAs<QAbstractButton>(mosaic::ids::kConnect)->click();
                ASSERT_TRUE(WaitUntil([&] { return !m->m_runner->Busy(); }, 15000));
                m->ControlAs<QAbstractButton>(mosaic::ids::kPresets[1])->click();  // 1X2
                for (auto& cell : m->m_cells) {
                    cell.widthBox->setText("960");
                    cell.heightBox->setText("1080");
                    cell.widthBox->setModified(true);  // typed: the operator's layout
                }
                Apply(fault);
                QTimer::singleShot(0, [&] {
                    CWallDialog* wall = nullptr;
                    ASSERT_TRUE(WaitUntil([&] {
                        wall = m->findChild<CWallDialog*>();
                        return wall != nullptr && wall->isVisible();
                    }));
                    // The first screen's verdict (the whole wall when the device is slow), then
                    // Close.
                    const size_t wait = fault == Fault::Slow ? 1 : 0;
                    ASSERT_TRUE(WaitUntil(
                        [&] {
                            return wall->m_outcomes.size() == 2 &&
                                   wall->m_outcomes[wait].result != mosaic::ScreenResult::kNotDone;
                        },
                        15000));
                    const mosaic::ScreenResult first = wall->m_outcomes[0].result;
                    if (fault == Fault::Slow) {
                        EXPECT_EQ(wall->m_outcomes[1].result, mosaic::ScreenResult::kVerified);
                        EXPECT_EQ(first, mosaic::ScreenResult::kVerified);
                    } else if (fault == Fault::Silent) {
                        EXPECT_EQ(first, mosaic::ScreenResult::kNotAnswering);
                    } else if (dead) {
                        EXPECT_TRUE(first == mosaic::ScreenResult::kNotSent ||
                                    first == mosaic::ScreenResult::kNotAnswering);
                    }
                    ExitSoon(wall->m_close);
                    ExpectClosedInTime(*wall);
                    EXPECT_EQ(wall->m_summary->toPlainText().contains("2 of 2"),
                              fault == Fault::Slow);
                    ExitSoon(m->ControlAs<QAbstractButton>(mosaic::ids::kExit));
                });
                CWallBar::Of(m)->setWall->click();  // returns once the wall window has closed
                ExpectClosedInTime(*m);
            });
            d->ControlAs<QAbstractButton>(ids::kMosaicDlg)->click();
            break;
    }
    EXPECT_EQ(ui.hung, 0);
    for (const auto& box : ui.boxes) {
        if (dead) {
            EXPECT_EQ(box.text.find("successfully"), std::string::npos) << box.text;
        }
    }

    // The main window: polls again, or says that it is not connected, and shows no dead lamp.
    const bool mosaic = seq == Seq::MosaicConnect || seq == Seq::MosaicSet || seq == Seq::Wall;
    const char* expected = mosaic                   ? kAfterMosaic
                           : dead                   ? kClosed
                           : fault == Fault::Silent ? kSilent
                                                    : kNormal;
    EXPECT_TRUE(WaitUntil([&] { return Info(*d) == expected; }, 12000)) << Info(*d);
    if (expected == kNormal) {
        EXPECT_TRUE(WaitUntil([&] { return !d->Control(ids::kSourceLamps[0])->isHidden(); }));
    } else {
        for (int lamp : ids::kSourceLamps) {
            EXPECT_TRUE(d->Control(lamp)->isHidden()) << lamp;
        }
    }
    // No frame at the device was a mix of two.
    if (sim) {
        log += sim->Output();
    }
    EXPECT_EQ(log.find("(ignored"), std::string::npos) << log;

    QElapsedTimer t;
    t.start();
    ui.answer = true;
    d->ControlAs<QAbstractButton>(ids::kExit)->click();
    EXPECT_LT(t.elapsed(), 1500);
    d.reset();
    sim.reset();
}

}  // namespace

// One test per cell of the table: a sequence under a fault.
TEST_P(DialogFaultMatrix, TellsTheTruthUnderEveryFault) {
    const auto [seq, fault] = GetParam();
    SCOPED_TRACE(std::string(Name(seq)) + " × " + Name(fault));
    RunCell(seq, fault);
}

std::string CellName(const ::testing::TestParamInfo<std::tuple<Seq, Fault>>& info) {
    std::string name;
    for (const char c :
         std::string(Name(std::get<0>(info.param))) + " _" + Name(std::get<1>(info.param))) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
            name += c;
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, DialogFaultMatrix,
    ::testing::Combine(::testing::Values(Seq::Readback, Seq::Save, Seq::Resolution,
                                         Seq::MosaicConnect, Seq::MosaicSet, Seq::Wall),
                       ::testing::Values(Fault::Silent, Fault::Slow, Fault::Stall, Fault::Killed,
                                         Fault::HungUp)),
    CellName);
