// How one query's reply is put together from what its tries read: no I/O, the same rules over
// both transports' reads. QueryCommand feeds it one read per try; the fuzz target feeds it any
// byte stream in any pieces.
#pragma once

#include <cstdint>

#include "link/Frame.h"

namespace devlink {

class ReplyAssembler {
public:
    enum class Step {
        kMore,     // no reply yet: try again
        kReply,    // Reply() holds the reply
        kRefused,  // 13 bytes came but are no reply (serial pieces without the leader)
    };

    explicit ReplyAssembler(bool serial) : m_serial(serial) {}

    // One try's read of n bytes (0: nothing came in the try). Serial reads are at most 13 bytes;
    // TCP reads at most Missing(). lastTry: no try follows this one.
    //  - Serial: a read of exactly 13 bytes is that frame, whatever pieces came before it (two
    //    replies are never spliced). Shorter pieces are collected up to 13 bytes (the surplus of
    //    a piece that would pass 13 is dropped) and the 13 are judged by their leader.
    //  - TCP: pieces are joined; a reply that stays short (a try with nothing more, or no tries
    //    left) is taken with its missing bytes as 00.
    Step Feed(const uint8_t* bytes, int n, bool lastTry);

    const Frame& Reply() const { return m_reply; }
    int Collected() const { return m_collected; }
    int Missing() const { return kFrameSize - m_collected; }

private:
    bool m_serial;
    Frame m_assembly{};
    Frame m_reply{};
    int m_collected = 0;
};

}  // namespace devlink
