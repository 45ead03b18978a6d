#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/PortDiscovery.h"

using namespace devlink;
namespace fs = std::filesystem;

TEST(PortDiscovery, FindsPortsWithADriverAndARealUart) {
    const fs::path root = fs::path(testing::TempDir()) / "orn312-sys-tty";
    fs::remove_all(root);
    auto add = [&](const char* name, bool driver, const char* type) {
        fs::create_directories(root / name);
        if (driver)
            fs::create_directories(root / name / "device" / "driver");
        if (type)
            std::ofstream(root / name / "type") << type << "\n";
    };
    add("tty0", false, nullptr);  // a console, no device
    add("ttyS0", true, "0");      // a placeholder 8250 port without a UART
    add("ttyS1", true, "4");      // a real UART
    add("ttyS10", true, "4");
    add("ttyUSB0", true, nullptr);
    add("ttyACM2", true, nullptr);
    add("ttyUSB1", false, nullptr);  // gone: no driver

    EXPECT_EQ(ListSerialPorts(root.string()),
              (std::vector<std::string>{"ttyACM2", "ttyS1", "ttyS10", "ttyUSB0"}));
    EXPECT_EQ(FindDefaultSerialPort(root.string()), "ttyUSB0");
    EXPECT_EQ(FindDefaultSerialPort((root / "none").string()), "");
    fs::remove_all(root);
}

TEST(PortDiscovery, PortNamesToDevicePaths) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},       {"com12", "/dev/ttyS11"}, {"ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/pts/7", "/dev/pts/7"}, {"./my-tty", "./my-tty"}, {"COMX", "/dev/COMX"},
        // Numbers that name no port, however long, give no path (and never throw).
        {"COM0", ""}, {"COM10000", ""}, {"COM99999999999999999999999", ""},
    };
    for (const auto& [name, path] : cases) {
        EXPECT_EQ(PortNameToDevicePath(name), path) << name;
    }
}
