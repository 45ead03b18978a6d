// Finding the serial ports of this machine, and turning the port names an operator types into
// device paths.
#pragma once

#include <string>
#include <vector>

namespace devlink {

// Serial devices that have a driver under sysTtyRoot (normally /sys/class/tty): ttyS* with a
// real UART behind it, ttyUSB*, ttyACM*; names only ("ttyUSB0"), sorted.
std::vector<std::string> ListSerialPorts(const std::string& sysTtyRoot = "/sys/class/tty");

// The default port name: the last port found, empty when there is none.
std::string FindDefaultSerialPort(const std::string& sysTtyRoot = "/sys/class/tty");

// "COM3" -> /dev/ttyS2; "ttyUSB0" -> /dev/ttyUSB0; anything holding '/' is taken as a path.
// A COM number outside 1..9999 names no port: empty.
std::string PortNameToDevicePath(const std::string& portName);

}  // namespace devlink
