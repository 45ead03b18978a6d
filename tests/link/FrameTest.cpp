#include <gtest/gtest.h>

#include "link/Commands.h"
#include "link/Frame.h"
#include "link/Replies.h"

using namespace devlink;

TEST(Frame, ChecksumGoesIntoAPrivateCopy) {
    uint8_t status[13] = {0x05, 0x01, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x77};
    const Frame sent = WithChecksum(status);
    EXPECT_EQ(sent[12], 0xFA);    // 05 ^ 01 ^ FE
    EXPECT_EQ(status[12], 0x77);  // the caller's buffer is untouched

    uint8_t zero[13] = {0x05, 0x05, 0x03, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0x99};
    EXPECT_EQ(WithChecksum(zero)[12], 0x00);
}

TEST(Frame, CatalogueBuildsTheFramesOfTheCommandIndex) {
    struct Case {
        const char* name;
        Frame frame;
        const char* hex;
    };
    const Case cases[] = {
        {"identify", IdentifyQuery(1), "05 01 fe fe 00 00 00 00 00 00 00 00 04"},
        {"status", StatusQuery(1), "05 01 fe 00 00 00 00 00 00 00 00 00 fa"},
        {"HDMI with 1.0 s fade", SourceSwitch(1, 2, kHdmi),
         "05 01 00 02 04 00 00 00 00 00 00 00 02"},
        {"PIP source", PipSourceCommand(1, kHdmi), "05 01 02 04 00 00 00 00 00 00 00 00 02"},
        {"freeze off", FreezeCommand(3, false), "05 03 29 00 00 00 00 00 00 00 00 00 2f"},
        {"window 1920", WindowGeometryCommand(1, kLayoutM1, true, 0, 1920, 16, 1080),
         "05 01 2a 01 00 00 07 80 00 10 04 38 84"},
        {"custom resolution", CustomResolutionCommand(1, 1920, 1080, 60),
         "05 01 0f 00 07 80 04 38 3c 00 00 00 8c"},
        {"colour", ColourCommand(1, 50, kYPbPr), "05 01 18 32 08 00 00 00 00 00 00 00 26"},
        {"layout geometry M3 PIP", LayoutGeometryQuery(1, LayoutGeometrySub(2, true)),
         "05 01 fe 0c 00 00 00 00 00 00 00 00 f6"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HexText(c.frame.data(), 13), c.hex) << c.name;
        EXPECT_EQ(c.frame[12], Checksum(c.frame.data())) << c.name;
    }
}

TEST(Frame, StatusReplyRoundTrip) {
    StatusReply s;
    s.deviceId = 2;
    s.overlay = kPipOn;
    s.transition = 3;
    s.functions = kFreezeBit | kPreTakeBit;
    s.mainSource = kV1;
    s.secondSource = kHdmi;
    s.mainSignal = true;
    s.pipPreset = 2;
    s.extInput = 4;
    const Frame f = s.Encode();
    EXPECT_EQ(HexText(f.data(), 12), "05 02 fe 00 02 03 11 40 01 00 02 04");
    const StatusReply d = StatusReply::Decode(f.data());
    EXPECT_EQ(d.secondSource, kHdmi);
    EXPECT_EQ(d.mainSource, kV1);
    EXPECT_TRUE(d.mainSignal);
    EXPECT_FALSE(d.secondSignal);
    EXPECT_EQ(d.functions, kFreezeBit | kPreTakeBit);
}

TEST(Frame, IdentifyReplyIsJudgedOnBytes2To11) {
    Frame f = IdentifyReply(9);
    f[0] = 0x00;  // leader, device ID and checksum are not examined
    f[12] = 0x55;
    EXPECT_TRUE(IsIdentifyReply(f.data()));
    f[11] = 0x63;
    EXPECT_FALSE(IsIdentifyReply(f.data()));
}

TEST(Frame, HexParsingAndSourceLabels) {
    std::string bytes;
    ASSERT_TRUE(ParseHex("FE 03 0 00", bytes));
    EXPECT_EQ(bytes, std::string("\xFE\x03\x00\x00", 4));
    ASSERT_TRUE(ParseHex("0xfe,0x00", bytes));
    EXPECT_EQ(bytes, std::string("\xFE\x00", 2));
    EXPECT_FALSE(ParseHex("fe zz", bytes));

    EXPECT_EQ(SourceFromLabel("hdmi"), kHdmi);
    EXPECT_EQ(SourceFromLabel("EXT"), kExt);
    EXPECT_EQ(SourceFromLabel("EXT."), kExt);
    EXPECT_EQ(SourceFromLabel("YPbPr"), kYPbPr);
    EXPECT_EQ(SourceFromLabel("SDI"), -1);
    EXPECT_STREQ(SourceLabel(kVga2), "VGA2");
    EXPECT_EQ(SourceLabel(9), nullptr);
}
