#include "platform/Worker.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

Doorbell::Doorbell() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Doorbell::~Doorbell() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void Doorbell::Ring() {
    const uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(m_fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

void Doorbell::Clear() {
    uint64_t count = 0;
    ssize_t n;
    do {
        n = ::read(m_fd, &count, sizeof count);
    } while (n < 0 && errno == EINTR);
}

void NameThisThread(const char* name) {
    ::pthread_setname_np(::pthread_self(), name);
}

}  // namespace platform
