#include "platform/BoxNumber.h"

#include <limits>

namespace platform {

namespace {

constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
constexpr int64_t kMin = std::numeric_limits<int32_t>::min();

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

int32_t BoxNumber(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return 0;
    }
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        if (v <= kMax + 1) {  // beyond that it only saturates
            v = v * 10 + (c - '0');
        }
    }
    if (negative) {
        return static_cast<int32_t>(-v < kMin ? kMin : -v);
    }
    return static_cast<int32_t>(v > kMax ? kMax : v);
}

}  // namespace platform
