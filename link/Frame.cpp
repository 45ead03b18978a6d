#include "link/Frame.h"

#include <cctype>

namespace devlink {

uint8_t Checksum(const uint8_t* frame) {
    uint8_t x = 0;
    for (int i = 0; i < kFrameSize - 1; ++i) {
        x ^= frame[i];
    }
    return x;
}

Frame WithChecksum(const uint8_t* frame) {
    Frame f{};
    for (int i = 0; i < kFrameSize; ++i) {
        f[i] = frame[i];
    }
    f[kFrameSize - 1] = Checksum(f.data());
    return f;
}

Frame MakeFrame(uint8_t deviceId, std::initializer_list<uint8_t> body) {
    Frame f{};
    f[0] = kLeader;
    f[1] = deviceId;
    int i = 2;
    for (uint8_t b : body) {
        if (i >= kFrameSize - 1) {
            break;
        }
        f[i++] = b;
    }
    f[kFrameSize - 1] = Checksum(f.data());
    return f;
}

std::string HexText(const uint8_t* bytes, int count) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(static_cast<size_t>(count) * 3);
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            s += ' ';
        }
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 0x0F];
    }
    return s;
}

bool ParseHex(const std::string& text, std::string& bytesOut) {
    bytesOut.clear();
    int nibbles = 0;
    int value = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            nibbles == 0) {
            ++i;
            continue;
        }
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            int d = std::isdigit(static_cast<unsigned char>(c))
                        ? c - '0'
                        : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
            value = value * 16 + d;
            if (++nibbles == 2) {
                bytesOut += static_cast<char>(value);
                nibbles = 0;
                value = 0;
            }
        } else if (c == ' ' || c == ',' || c == ':' || c == '\t') {
            if (nibbles == 1) {  // a single digit stands for one byte: "5" is 05
                bytesOut += static_cast<char>(value);
                nibbles = 0;
                value = 0;
            }
        } else {
            return false;
        }
    }
    if (nibbles == 1) {
        bytesOut += static_cast<char>(value);
    }
    return true;
}

}  // namespace devlink
