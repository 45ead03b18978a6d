// An RS-232 port on POSIX termios: raw, 9600 baud, 8 data bits, no parity, one stop bit, no flow
// control. Writes whole 13-byte frames, reads what has arrived without waiting, and traces every
// frame (link/Trace.h).
#pragma once

#include <cstdint>
#include <string>

namespace devlink {

class CSerialPort {
public:
    CSerialPort() = default;
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Opens the device path for reading and writing, for this program alone: a second opener,
    // root too, is refused while the line is held. 1 or 0.
    int Open(const std::string& devicePath);
    // The last Open failed because another program (or another opener) holds the line.
    bool InUse() const { return m_inUse; }
    // Puts the line into raw 9600 8N1; on failure the port is closed. 1 or 0.
    int Configure();
    // Writes the 13 bytes of frame; the count written, 0 on any failure.
    int Write(const uint8_t* frame);
    // Reads what is waiting, at most 13 bytes, never waiting for more; 0 when nothing is there.
    int Read(uint8_t* buffer13);
    // Waits up to ms for at least want bytes to be waiting (returns as soon as they are); the
    // count waiting then.
    int WaitForBytes(int want, int ms);
    // Throws away whatever is waiting, unread; the count discarded (traced when not 0).
    int Discard();
    void Close();

    bool IsOpen() const { return m_fd >= 0; }
    bool IsReady() const { return m_fd >= 0 && m_ready != 0; }
    // The line went away under the open port (a USB adapter pulled, the far end of a
    // pseudo-terminal closed): the kernel hung it up, and nothing will come through it again
    // until it is opened anew.
    bool Gone() const { return m_gone; }

private:
    int m_fd = -1;
    int m_ready = 0;
    bool m_inUse = false;
    bool m_gone = false;
};

// Prints "<what> Error\n" and "GetLastError: <system text>\n" for errnoValue.
void PrintSystemError(const char* what, int errnoValue);

}  // namespace devlink
