// The main window against a processor that fails in every way the simulator can: over TCP and
// over the pseudo-terminal, the window never crashes or hangs, shows no lamp from a reply that
// is not the device's status, tells the operator the truth on the Info line, and Exit returns
// within about one poll cycle. And settings files that are garbage, empty, a folder or
// read-only: the window starts and the file loses nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "FakeUi.h"
#include "QtApp.h"
#include "TestUtil.h"
#include "app/MainDlg.h"
#include "resources/ControlIds.h"

namespace fs = std::filesystem;
using testutil::WaitUntil;

namespace {

const char kNormal[] = "Communications equipment normal";
const char kFailed[] = "Equipment connection failed";
const char kSilent[] = "Device not responding, check the device and the cable";
const char kClosed[] = "The device closed the connection, please connect again";
const char kNoSignalV1[] = "No signal on V1, which is on air";

enum class Lamp { Steady, Flashing, None };

struct Row {
    const char* name;
    std::vector<std::string> simArgs;  // the fault options
    const char* console;               // typed at the simulator once connected, or nullptr
    bool killSim;                      // the simulator dies once connected
    bool tcp, serial;                  // transports the row applies to
    const char* info;                  // what the Info line says in the end
    Lamp v1Lamp;                       // the main source's lamp in the end
};

const Row kRows[] = {
    {"healthy", {}, nullptr, false, true, true, kNormal, Lamp::Steady},
    {"silent", {"--fault", "silent"}, nullptr, false, true, true, kFailed, Lamp::None},
    {"slow 300 ms", {"--fault", "slow=300"}, nullptr, false, true, true, kNormal, Lamp::Steady},
    {"slow 1500 ms", {"--fault", "slow=1500"}, nullptr, false, true, true, kSilent, Lamp::None},
    {"split replies", {"--fault", "split=5"}, nullptr, false, true, true, kNormal, Lamp::Steady},
    {"wrong leader", {"--fault", "lead"}, nullptr, false, true, true, kSilent, Lamp::None},
    {"wrong device ID", {"--fault", "otherid"}, nullptr, false, true, true, kSilent, Lamp::None},
    {"bad identification", {"--fault", "ident"}, nullptr, false, true, true, kFailed, Lamp::None},
    {"no signal",
     {"--fault", "nosignal=V1"},
     nullptr,
     false,
     true,
     true,
     kNoSignalV1,
     Lamp::Flashing},
    {"connection dropped", {"--fault", "drop=6"}, nullptr, false, true, false, kClosed, Lamp::None},
    {"stall, then a backlog", {}, "stall 2500", false, true, true, kNormal, Lamp::Steady},
    {"line noise", {}, "noise 40", false, true, true, kNormal, Lamp::Steady},
    {"device dies", {}, nullptr, true, true, true, kClosed, Lamp::None},
};

class FaultMatrix : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }
    void SetUp() override {
        dir = fs::path(testing::TempDir()) /
              ("orn312-faults-" + std::to_string(::getpid()) + "-" + (GetParam() ? "pty" : "tcp"));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string Info(CORN302ControlDlg& d) {
        return d.ControlAs<QLineEdit>(ids::kInfo)->text().toStdString();
    }
    static Lamp LampOf(CORN302ControlDlg& d, int id) {
        QWidget* lamp = d.Control(id);
        const QString state = lamp->accessibleDescription();
        if (state == "flashing")
            return Lamp::Flashing;
        return lamp->isHidden() ? Lamp::None : Lamp::Steady;
    }

    fs::path dir;
    testutil::FakeUi ui;
};

}  // namespace

TEST_P(FaultMatrix, TheWindowTellsTheTruthAndStaysResponsive) {
    const bool serial = GetParam();
    for (const Row& row : kRows) {
        if (!(serial ? row.serial : row.tcp))
            continue;
        SCOPED_TRACE(row.name);
        std::vector<std::string> args = {"--tcp", "0", "--pty"};
        args.insert(args.end(), row.simArgs.begin(), row.simArgs.end());
        auto sim = std::make_unique<testutil::SimProcess>(args);
        ASSERT_TRUE(sim->Started());
        auto d = std::make_unique<CORN302ControlDlg>();
        d->m_profilePath = (dir / "Planinfo.ini").string();
        d->OnInitDialog();
        if (serial) {
            d->ControlAs<QAbstractButton>(ids::kSerialRadio)->click();
            d->ControlAs<QComboBox>(ids::kPortCombo)
                ->setEditText(QString::fromStdString(sim->ptyPath));
        } else {
            d->ControlAs<QAbstractButton>(ids::kNetworkRadio)->click();
            d->ControlAs<QLineEdit>(ids::kIpAddress)->setText("127.0.0.1");
            d->ControlAs<QLineEdit>(ids::kPortEdit)->setText(QString::number(sim->tcpPort));
        }
        d->ControlAs<QAbstractButton>(ids::kConnect)->click();  // returns once connected or not
        if (d->m_conn.m_bConnected) {
            WaitUntil([&] { return Info(*d) == kNormal; }, 3000);
            if (row.console != nullptr)
                sim->Command(row.console);
            if (row.killSim)
                sim.reset();
        }
        // A device that dies over the serial line is silent, not closed.
        const std::string expected = row.killSim && serial ? kSilent : row.info;
        EXPECT_TRUE(WaitUntil(
            [&] { return Info(*d) == expected && LampOf(*d, ids::kSourceLamps[0]) == row.v1Lamp; },
            15000))
            << "Info: " << Info(*d) << ", V1 lamp "
            << static_cast<int>(LampOf(*d, ids::kSourceLamps[0]));
        // A link that is lost, or never was, offers Connect again.
        if (std::string(expected) != kNormal && std::string(expected) != kNoSignalV1) {
            EXPECT_TRUE(WaitUntil([&] { return d->Control(ids::kConnect)->isEnabled(); }, 3000));
        }
        // Nothing taken from a reply that is not the device's status.
        if (row.v1Lamp == Lamp::None) {
            for (int lamp : ids::kSourceLamps)
                EXPECT_TRUE(d->Control(lamp)->isHidden()) << lamp;
        }
        QElapsedTimer t;
        t.start();
        ui.answer = true;
        d->ControlAs<QAbstractButton>(ids::kExit)->click();
        EXPECT_LT(t.elapsed(), 1500);
        EXPECT_FALSE(d->m_conn.WorkersRunning());
        d.reset();
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, FaultMatrix, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pty" : "Tcp"; });

// Settings files the program cannot use as they are: it starts idle, with the defaults, and the
// file keeps every byte it had.
TEST(SettingsFiles, OddFilesStartTheWindowAndLoseNothing) {
    testutil::TestApp();
    testutil::FakeUi ui;
    const fs::path dir =
        fs::path(testing::TempDir()) / ("orn312-odd-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path ini = dir / "Planinfo.ini";
    std::string garbage =
        "\x01\x02[CONNECT\n=\n\xff\xfe==\n[]\nConnectFlag\nDeviceID=9999999999999\n";
    garbage += std::string(300, '[');
    struct Case {
        const char* name;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"garbage", [&] { std::ofstream(ini, std::ios::binary) << garbage; }},
        {"empty", [&] { std::ofstream{ini}; }},
        {"a folder", [&] { fs::create_directory(ini); }},
        {"read-only",
         [&] {
             std::ofstream(ini) << "[CONNECT]\nSerialTcp=1\n";
             fs::permissions(ini, fs::perms::owner_read);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(ini);
        c.make();
        std::string before;
        if (fs::is_regular_file(ini)) {
            std::ifstream in(ini, std::ios::binary);
            before.assign(std::istreambuf_iterator<char>(in), {});
        }
        {
            CORN302ControlDlg d;
            d.m_profilePath = ini.string();
            d.OnInitDialog();
            EXPECT_FALSE(d.m_conn.m_bConnected);
            EXPECT_TRUE(d.Control(ids::kConnect)->isEnabled());
            // A settings click on a file that cannot take it loses nothing either.
            d.ControlAs<QAbstractButton>(ids::kAutoConnect)->click();
            d.ControlAs<QAbstractButton>(ids::kAutoConnect)->click();
        }
        if (std::string(c.name) == "a folder") {
            EXPECT_TRUE(fs::is_directory(ini));
        } else {
            // The file keeps every byte it had; the settings keys come after them (root may
            // write a read-only file, a plain user may not: ProfileFileTest shows that).
            std::ifstream in(ini, std::ios::binary);
            const std::string after(std::istreambuf_iterator<char>(in), {});
            EXPECT_EQ(after.rfind(before, 0), 0u) << after;
        }
        fs::permissions(dir, fs::perms::owner_all);
    }
    fs::remove_all(dir);
}
