#include "link/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/Frame.h"
#include "link/Trace.h"

namespace devlink {

namespace {
// 13 bytes take about 14 ms at 9600 baud; a line that takes no byte for this long is stuck.
constexpr int kWriteWaitMs = 2000;

// The errors of a tty whose device is no more (hung up, unplugged).
bool LineGoneError(int err) {
    return err == EIO || err == ENXIO || err == ENODEV;
}
}  // namespace

void PrintSystemError(const char* what, int errnoValue) {
    std::printf("%s Error\nGetLastError: %s\n", what, std::strerror(errnoValue));
    std::fflush(stdout);
}

CSerialPort::~CSerialPort() {
    Close();
}

int CSerialPort::Open(const std::string& devicePath) {
    Close();
    // Non-blocking: an open never hangs on a line without carrier, and a write to a stuck line
    // gives up after kWriteWaitMs instead of holding the link for ever.
    m_inUse = false;
    m_gone = false;
    m_fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        m_inUse = errno == EBUSY;  // the exclusive mode of another holder
        PrintSystemError("CreateFile", errno);
        m_fd = -1;
        return 0;
    }
    // One program at a time, root included (root passes the exclusive mode below, not this
    // lock): two programs on one line would interleave their frames.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(m_fd);
        m_fd = -1;
        m_inUse = err == EWOULDBLOCK;
        PrintSystemError("CreateFile", m_inUse ? EBUSY : err);
        return 0;
    }
    // No sharing: a second open of the same port fails while we hold it.
    if (::ioctl(m_fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::close(m_fd);
        m_fd = -1;
        PrintSystemError("CreateFile", err);
        return 0;
    }
    return 1;
}

int CSerialPort::Configure() {
    struct termios tio {};
    m_ready = ::tcgetattr(m_fd, &tio) == 0 ? 1 : 0;
    if (!m_ready) {
        PrintSystemError("GetCommState", errno);
        Close();
        return 0;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    m_ready = ::tcsetattr(m_fd, TCSANOW, &tio) == 0 ? 1 : 0;
    if (!m_ready) {
        PrintSystemError("SetCommState", errno);
        Close();
        return 0;
    }
    return 1;
}

int CSerialPort::Write(const uint8_t* frame) {
    if (m_fd < 0 || m_ready == 0) {
        return 0;
    }
    int written = 0;
    while (written < kFrameSize) {
        const ssize_t n = ::write(m_fd, frame + written, static_cast<size_t>(kFrameSize - written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            struct pollfd p {
                m_fd, POLLOUT, 0
            };
            if (::poll(&p, 1, kWriteWaitMs) > 0) {
                continue;
            }
            errno = ETIMEDOUT;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            m_gone = m_gone || LineGoneError(err);
            PrintSystemError("WriteFile", err);
            return 0;
        }
        written += static_cast<int>(n);
    }
    TraceFrame(true, frame, written);
    return written;
}

int CSerialPort::Read(uint8_t* buffer13) {
    if (m_fd < 0 || m_ready == 0) {
        return 0;
    }
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting <= 0) {
        return 0;
    }
    const int want = waiting < kFrameSize ? waiting : kFrameSize;
    ssize_t n;
    do {
        n = ::read(m_fd, buffer13, static_cast<size_t>(want));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        const int err = errno;
        m_gone = m_gone || LineGoneError(err);
        PrintSystemError("ReadFile", err);
        return 0;
    }
    TraceFrame(false, buffer13, static_cast<int>(n));
    return static_cast<int>(n);
}

int CSerialPort::WaitForBytes(int want, int ms) {
    if (m_fd < 0 || m_ready == 0) {
        return 0;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int waiting = 0;
        if (::ioctl(m_fd, FIONREAD, &waiting) != 0) {
            m_gone = m_gone || LineGoneError(errno);
            return 0;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (waiting >= want || left <= 0) {
            return waiting;
        }
        if (waiting == 0) {
            // Nothing yet: sleep in the kernel until the first byte comes.
            struct pollfd p {
                m_fd, POLLIN, 0
            };
            if (::poll(&p, 1, static_cast<int>(left)) > 0 &&
                (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                m_gone = true;  // hung up: no byte will come, and poll would not wait any more
                return waiting;
            }
        } else {
            // Part of a frame is in: at 9600 baud a byte takes about a millisecond.
            struct timespec gap {
                0, 2'000'000
            };
            ::nanosleep(&gap, nullptr);
        }
    }
}

int CSerialPort::Discard() {
    if (m_fd < 0 || m_ready == 0) {
        return 0;
    }
    int total = 0;
    uint8_t chunk[64];
    // Bounded, so that a line that never stops talking cannot hold the link here.
    while (total < 4096) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && LineGoneError(errno)) {
            m_gone = true;
        }
        if (n <= 0) {
            break;
        }
        total += static_cast<int>(n);
    }
    TraceDiscarded(total);
    return total;
}

void CSerialPort::Close() {
    if (m_fd >= 0) {
        // Lift the exclusive mode so that the next open (ours or another program's) succeeds.
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
    m_fd = -1;
    m_ready = 0;
}

}  // namespace devlink
