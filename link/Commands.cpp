#include "link/Commands.h"

namespace devlink {

namespace {

// A source given to the main picture, PIP, TEXT or the preview: DVI takes longer to settle.
int SourcePause(uint8_t source) {
    return source == kDvi ? kDviSwitchPauseMs : kSwitchPauseMs;
}

// An overlay opened waits as long as a switch; closed, a short while.
int OnOffPause(uint8_t on) {
    return on != 0 ? kSwitchPauseMs : kQuickPauseMs;
}

bool AllZero(const Frame& f, int from) {
    for (int i = from; i < kFrameSize - 1; ++i) {
        if (f[i] != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

int CommandPause(const Frame& f) {
    switch (f[2]) {
        case kQuery:
            return 0;
        case kMainSwitch:
            return SourcePause(f[4]);
        case kPipSource:
        case kTextSource:
        case kPreviewEmptySource:
        case kPreviewSetSource:
            return SourcePause(f[3]);
        case kPipOnOff:
        case kTextOnOff:
            return OnOffPause(f[3]);
        case kSwitchMode:
        case kTake:
            return kSwitchPauseMs;
        case kAuto:
            return kAutoPauseMs;
        case kPipPreset:
        case kBypass:
        case kMosaic:
        case kFreeze:
            return kQuickPauseMs;
        case kSyncMode:
            return kSyncModePauseMs;
        case kResolution:
        case kCustomResolution:
            // The Save's pause, then the processor's own switch of the output.
            return kSettingPauseMs + kResolutionWaitMs;
        case kLayoutM1:
        case kLayoutM2:
        case kLayoutM3:
            // The fast mosaic empties M1's main window before it recovers the DVI signal.
            return AllZero(f, 3) ? kQuickPauseMs : kSettingPauseMs;
        default:
            return kSettingPauseMs;
    }
}

}  // namespace devlink
