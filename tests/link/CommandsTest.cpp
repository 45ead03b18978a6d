#include <gtest/gtest.h>

#include "link/Commands.h"

using namespace devlink;

// The pause after each command is the one the window keeps for it.
TEST(CommandsPause, EveryCommandHasTheWindowsPause) {
    struct Case {
        Frame frame;
        int pauseMs;
    };
    const Case cases[] = {
        {StatusQuery(1), 0},
        {IdentifyQuery(7), 0},
        {SourceSwitch(1, 0, kHdmi), 3000},
        {SourceSwitch(1, 2, kDvi), 5000},
        {SourceSwitch(1, 0, kYPbPr), 3000},
        {PipSourceCommand(1, kDvi), 5000},
        {TextSourceCommand(1, kVga1), 3000},
        {PreviewEmptySourceCommand(1, kDvi), 5000},
        {PreviewSetSourceCommand(1, kDp), 3000},
        {PipOnOffCommand(1, true), 3000},
        {PipOnOffCommand(1, false), 500},
        {TextOnOffCommand(1, true), 3000},
        {TextOnOffCommand(1, false), 500},
        {LayoutCommand(1, 2), 500},
        {BypassCommand(1, true), 500},
        {MosaicCommand(1, false), 500},
        {MosaicOnCommand(1, kDvi), 500},
        {FreezeCommand(1, true), 500},
        {TakeCommand(1, 1), 3000},
        {AutoCommand(1), 20000},
        {SwitchModeCommand(1, true), 3000},
        {SyncModeCommand(1, true), 3000},
        {BrightnessCommand(1, 40), 1000},
        {InputWindowCommand(1, 0, 960, 0, 540), 1000},
        {WindowGeometryCommand(1, kLayoutM2, true, 0, 960, 0, 540), 1000},
        {WindowGeometryCommand(1, kLayoutM1, false, 0, 0, 0, 0), 500},
        {ResolutionCommand(1, 6), 11000},
        {CustomResolutionCommand(1, 1920, 1080, 60), 11000},
        {MakeFrame(1, {0x7A, 0x01}), 1000},  // not in the catalogue
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandPause(c.frame), c.pauseMs) << HexText(c.frame.data(), kFrameSize);
    }
}
