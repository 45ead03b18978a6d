// The processor as the simulator plays it: the device state, what every command does to it, and
// the answer to every query. No I/O and no clock of its own: the caller passes the time in
// milliseconds (any monotonic origin), so the whole device can be driven from a test.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/Commands.h"
#include "link/Frame.h"
#include "link/Replies.h"

namespace sim {

// Faults that change what the replies carry.
struct ReplyFaults {
    bool lead = false;         // 0x06 instead of 0x05 in byte 0
    bool otherId = false;      // device ID + 1 in byte 1
    bool badIdentify = false;  // identification answer ends in 0x63 instead of 0x62
};

// Horizontal start, width, vertical start, height.
using Window = devlink::WindowReply;

// Number of physical inputs with a signal of their own: V1 .. EXT. (YPbPr is the V2 input).
constexpr int kInputCount = 8;

struct DeviceState {
    uint8_t mainSource = devlink::kV1;
    // The one second-picture register shared by PIP, TEXT and the preview.
    uint8_t secondSource = devlink::kHdmi;
    uint8_t overlay = devlink::kOverlayNone;  // status byte 4
    uint8_t transition = 0;                   // 0 Cut, 1 0.5 s, 2 1.0 s, 3 1.5 s
    uint8_t functions = 0;                    // devlink::FunctionBit
    std::array<bool, kInputCount> signal = {true, true, true, true, true, true, true, true};
    uint8_t pipPreset = 0;  // 0..2: M1..M3
    uint8_t extInput = 2;   // 0 NULL, 1 SDI, 2 VGA, 3 DVI, 4 VIDEO
    uint8_t resolution = 6;
    Window output{0, 1920, 0, 1080};
    int customWidth = 1920, customHeight = 1080, customRate = 60;
    Window input{0, 1920, 0, 1080};
    // [layout M1..M3][0 main, 1 PIP]
    std::array<std::array<Window, 2>, 3> layouts = {{
        {{{0, 1920, 0, 1080}, {960, 960, 540, 540}}},  // M1: PIP in the lower right quarter
        {{{0, 1920, 0, 1080}, {0, 960, 0, 540}}},      // M2: PIP in the upper left quarter
        {{{0, 960, 0, 1080}, {960, 960, 0, 1080}}},    // M3: side by side
    }};
    bool syncMosaic = false;
    devlink::PictureAudioReply picture{64, 50, 0, 0, 4, 0, 0};
    devlink::TextKeyReply textKey{0, 0, 0, 0};
    std::array<uint8_t, devlink::kSourceCount> colour = {50, 50, 50, 50, 50, 50, 50, 50, 50};
};

// Every console line, as the usage, the "help" line and the error for an unknown line list them.
extern const char kConsoleCommands[];

class Simulator {
public:
    // Time from a main switch or TAKE to the new main source.
    static constexpr int kSwitchDelayMs = 500;
    // Time a PIP or TEXT overlay stays pending before it is on.
    // Longer than the controller's 3 s pause after "on", so that its readbacks see the pending
    // state (a flashing lamp) before the overlay is on.
    static constexpr int kOverlayOpenMs = 5000;

    explicit Simulator(uint8_t id = 1, ReplyFaults faults = {});

    struct Response {
        std::optional<devlink::Frame> reply;  // none for commands and ignored frames
        std::string note;                     // what the frame did, for the log
    };
    // One received frame. Call Advance(nowMs) first so that due changes have happened.
    Response HandleFrame(const devlink::Frame& frame, int64_t nowMs);

    // Carries out the delayed changes due by nowMs; a note for each.
    std::vector<std::string> Advance(int64_t nowMs);
    // When the next delayed change is due; nullopt when none is waiting.
    std::optional<int64_t> NextChangeMs() const;

    // A line typed at the console: "signal SOURCE on|off", "ext NULL|SDI|VGA|DVI|VIDEO",
    // "brightness 64|100" (the brightness range), "state", "help". The lines about the line
    // rather than the device (stall, noise, hangup) are the server's.
    struct ConsoleResult {
        enum Kind { kChanged, kState, kError } kind;
        std::string text;  // the change for the log, the state to print, or the error
    };
    ConsoleResult Console(const std::string& line);

    // The signal flag of a source's input (YPbPr uses V2's, EXT. also needs an EXT. input).
    void SetSignal(uint8_t source, bool on);
    bool HasSignal(uint8_t source) const;

    devlink::StatusReply Status() const;
    // The whole state, a few readable lines.
    std::string Describe() const;
    const DeviceState& State() const { return m_state; }
    uint8_t Id() const { return m_id; }

private:
    struct PendingSwitch {
        int64_t dueMs;
        uint8_t source;
        bool take;  // a TAKE: the preview empties when the switch happens
    };
    struct PendingOverlay {
        int64_t dueMs;
        uint8_t target;  // kPipOn or kTextOn
    };

    std::string Apply(const devlink::Frame& f, int64_t nowMs);
    std::string OverlayOnOff(bool pip, bool on, int64_t nowMs);
    Response Answer(uint8_t sub) const;
    devlink::Frame WithFaults(devlink::Frame reply) const;
    uint8_t V2Form(uint8_t source) const;
    Window FullOutput() const;

    uint8_t m_id;
    ReplyFaults m_faults;
    DeviceState m_state;
    std::optional<PendingSwitch> m_switch;
    std::optional<PendingOverlay> m_opening;
};

}  // namespace sim
