// The reply assembly over any byte stream in any pieces. Input: byte 0 picks the transport (even
// serial, odd TCP); then pieces, each a length byte (0..13 for serial, 0..Missing() for TCP) and
// that many bytes. Properties: at most 13 bytes are ever collected; a 13-byte serial read is
// returned as itself; an assembled serial reply starts with the leader; every reply is a run of
// consecutive bytes of the stream (TCP: followed by 00 padding), never bytes of two places.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "link/ReplyAssembler.h"

using devlink::kFrameSize;
using devlink::ReplyAssembler;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool serial = (data[0] & 1) == 0;
    ReplyAssembler a(serial);
    std::vector<uint8_t> stream;  // every byte fed, in order
    size_t at = 1;
    size_t pieceStart = 0;  // where the bytes of this reply begin in stream
    bool started = false;
    while (at < size) {
        const int limit = serial ? kFrameSize : a.Missing();
        int n = data[at++] % (limit + 1);
        n = std::min<int>(n, static_cast<int>(size - at));
        const bool lastTry = at + static_cast<size_t>(n) >= size;
        if (n > 0 && !started) {
            pieceStart = stream.size();
            started = true;
        }
        const size_t before = stream.size();
        stream.insert(stream.end(), data + at, data + at + n);
        const ReplyAssembler::Step step = a.Feed(data + at, n, lastTry);
        at += static_cast<size_t>(n);
        fuzz::Check(a.Collected() >= 0 && a.Collected() <= kFrameSize);
        if (step == ReplyAssembler::Step::kMore) {
            continue;
        }
        const devlink::Frame& r = a.Reply();
        if (step == ReplyAssembler::Step::kReply) {
            if (serial && n == kFrameSize) {
                fuzz::Check(std::memcmp(r.data(), stream.data() + before, kFrameSize) == 0);
            } else {
                const size_t got = std::min<size_t>(stream.size() - pieceStart, kFrameSize);
                fuzz::Check(std::memcmp(r.data(), stream.data() + pieceStart, got) == 0);
                for (size_t i = got; i < kFrameSize; ++i) {
                    fuzz::Check(r[i] == 0);
                }
                if (serial) {
                    fuzz::Check(r[0] == devlink::kLeader);
                }
            }
        } else {
            fuzz::Check(serial);
        }
        // The query ends with its reply or refusal; the next one starts afresh.
        a = ReplyAssembler(serial);
        started = false;
    }
    return 0;
}
