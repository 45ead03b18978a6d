// The 13-byte command frame: 0x05, device ID, ten bytes of command and parameters, and the XOR
// of bytes 0..11 in byte 12. Replies have the same layout.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace devlink {

constexpr int kFrameSize = 13;
constexpr uint8_t kLeader = 0x05;
constexpr uint8_t kQueryCode = 0xFE;

using Frame = std::array<uint8_t, kFrameSize>;

// XOR of bytes 0..11.
uint8_t Checksum(const uint8_t* frame);

// Returns a copy of frame with byte 12 set to the checksum; the original is not touched.
Frame WithChecksum(const uint8_t* frame);

// Builds 05, deviceId, body (at most ten bytes, the rest 00) and the checksum.
Frame MakeFrame(uint8_t deviceId, std::initializer_list<uint8_t> body);

// "05 01 fe ..." : two lower-case hex digits a byte, one blank between.
std::string HexText(const uint8_t* bytes, int count);

// Reads hex bytes from text ("05 01 fe", "0501FE", "0x05,0x01"); false on anything else.
bool ParseHex(const std::string& text, std::string& bytesOut);

// 16-bit values travel high byte first.
inline uint8_t High(int v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
inline uint8_t Low(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}
inline int Word(const uint8_t* p) {
    return p[0] * 256 + p[1];
}

}  // namespace devlink
