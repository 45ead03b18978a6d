#include "link/PortDiscovery.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace devlink {

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// A ttyS* entry exists for every possible 8250 port; only those with a UART type other than 0
// (unknown) have hardware behind them.
bool HasRealUart(const fs::path& entry) {
    std::ifstream type(entry / "type");
    int t = 0;
    return type >> t && t != 0;
}

// Natural order, so that ttyS10 comes after ttyS9.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const unsigned long na = std::stoul(a.substr(i, ei - i));
            const unsigned long nb = std::stoul(b.substr(j, ej - j));
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string& sysTtyRoot) {
    std::vector<std::string> ports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysTtyRoot, ec)) {
        const std::string name = entry.path().filename().string();
        if (!fs::exists(entry.path() / "device" / "driver", ec)) {
            continue;
        }
        if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM") ||
            (StartsWith(name, "ttyS") && HasRealUart(entry.path()))) {
            ports.push_back(name);
        }
    }
    std::sort(ports.begin(), ports.end(), NaturalLess);
    return ports;
}

std::string FindDefaultSerialPort(const std::string& sysTtyRoot) {
    const std::vector<std::string> ports = ListSerialPorts(sysTtyRoot);
    return ports.empty() ? std::string() : ports.back();
}

std::string PortNameToDevicePath(const std::string& portName) {
    if (portName.find('/') != std::string::npos) {
        return portName;
    }
    if (portName.size() > 3 && (portName[0] == 'C' || portName[0] == 'c') &&
        (portName[1] == 'O' || portName[1] == 'o') && (portName[2] == 'M' || portName[2] == 'm') &&
        std::all_of(portName.begin() + 3, portName.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        unsigned long n = 0;
        const char* first = portName.data() + 3;
        const char* last = portName.data() + portName.size();
        const auto [end, err] = std::from_chars(first, last, n);
        if (err != std::errc() || end != last || n < 1 || n >= 10000) {
            return {};  // no such port: COM1..COM9999 only
        }
        return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + portName;
}

}  // namespace devlink
