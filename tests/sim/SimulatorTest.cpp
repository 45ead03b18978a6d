#include "sim/Simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "link/Commands.h"
#include "link/Link.h"
#include "link/NetTcp.h"
#include "link/Replies.h"

using namespace devlink;
using sim::Simulator;

namespace {

constexpr uint8_t kId = 1;
constexpr int kSettleMs = Simulator::kOverlayOpenMs + 500;  // longer than every delayed change

std::string Hex(const Frame& f) {
    return HexText(f.data(), kFrameSize);
}

// A simulator driven on its own time line.
struct Device {
    explicit Device(sim::ReplyFaults faults = {}) : sim(kId, faults) {}

    // Sends a command; commands are never answered.
    void Send(const Frame& f) {
        sim.Advance(now);
        const Simulator::Response r = sim.HandleFrame(f, now);
        EXPECT_FALSE(r.reply) << Hex(f) << " " << r.note;
    }
    void Wait(int ms) {
        now += ms;
        sim.Advance(now);
    }
    std::optional<Frame> Ask(const Frame& q) {
        sim.Advance(now);
        return sim.HandleFrame(q, now).reply;
    }
    Frame Query(const Frame& q) {
        const std::optional<Frame> r = Ask(q);
        EXPECT_TRUE(r) << Hex(q);
        return r.value_or(Frame{});
    }
    StatusReply Status() { return StatusReply::Decode(Query(StatusQuery(kId)).data()); }

    Simulator sim;
    int64_t now = 1000;
};

// The status of a fresh device.
StatusReply FreshStatus() {
    StatusReply s;
    s.deviceId = kId;
    s.mainSource = kV1;
    s.secondSource = kHdmi;
    s.mainSignal = true;
    s.extInput = 2;  // VGA
    return s;
}

}  // namespace

// Each case sends its commands a settling time apart and reads the status afterwards.
TEST(SimSwitching, CommandsShowInTheNextStatus) {
    struct Case {
        const char* name;
        std::vector<Frame> commands;
        std::function<void(StatusReply&)> expect;  // changes from the fresh status
    };
    const Case cases[] = {
        {"main switch with fade",
         {SourceSwitch(kId, 2, kHdmi)},
         [](StatusReply& s) {
             s.mainSource = kHdmi;
             s.transition = 2;
         }},
        {"V2 while the input is YPbPr shows YPbPr",
         {V2InputCommand(kId, true), SourceSwitch(kId, 0, kV2)},
         [](StatusReply& s) {
             s.functions = kV2YPbPrBit;
             s.mainSource = kYPbPr;
         }},
        {"YPbPr while the input is V2 shows V2",
         {SourceSwitch(kId, 0, kYPbPr)},
         [](StatusReply& s) { s.mainSource = kV2; }},
        {"main V2 follows the input to YPbPr",
         {SourceSwitch(kId, 0, kV2), V2InputCommand(kId, true)},
         [](StatusReply& s) {
             s.functions = kV2YPbPrBit;
             s.mainSource = kYPbPr;
         }},
        {"PIP on shows the last second source",
         {PipOnOffCommand(kId, true)},
         [](StatusReply& s) {
             s.overlay = kPipOn;
             s.secondSignal = true;
         }},
        {"PIP on from the main's group shows the main source",
         {PipSourceCommand(kId, kV2), PipOnOffCommand(kId, true)},
         [](StatusReply& s) {
             s.overlay = kPipOn;
             s.secondSource = kV1;
             s.secondSignal = true;
         }},
        {"PIP source while PIP is on",
         {PipOnOffCommand(kId, true), PipSourceCommand(kId, kDp), LayoutCommand(kId, 2)},
         [](StatusReply& s) {
             s.overlay = kPipOn;
             s.secondSource = kDp;
             s.secondSignal = true;
             s.pipPreset = 2;
         }},
        {"PIP off", {PipOnOffCommand(kId, true), PipOnOffCommand(kId, false)}, [](StatusReply&) {}},
        {"TEXT on",
         {TextSourceCommand(kId, kVga1), TextOnOffCommand(kId, true)},
         [](StatusReply& s) {
             s.overlay = kTextOn;
             s.secondSource = kVga1;
             s.secondSignal = true;
         }},
        {"TEXT off leaves PIP alone",
         {PipOnOffCommand(kId, true), TextOnOffCommand(kId, false)},
         [](StatusReply& s) {
             s.overlay = kPipOn;
             s.secondSignal = true;
         }},
        {"no PIP over a YPbPr main",
         {V2InputCommand(kId, true), SourceSwitch(kId, 0, kYPbPr), PipOnOffCommand(kId, true)},
         [](StatusReply& s) {
             s.functions = kV2YPbPrBit;
             s.mainSource = kYPbPr;
         }},
        {"Pre + TAKE starts with an empty preview",
         {SwitchModeCommand(kId, true)},
         [](StatusReply& s) {
             s.functions = kPreTakeBit;
             s.overlay = kPreviewEmpty;
         }},
        {"preview source",
         {SwitchModeCommand(kId, true), PreviewEmptySourceCommand(kId, kDvi)},
         [](StatusReply& s) {
             s.functions = kPreTakeBit;
             s.overlay = kPreviewSet;
             s.secondSource = kDvi;
             s.secondSignal = true;
         }},
        {"TAKE puts the preview on the main output",
         {SwitchModeCommand(kId, true), PreviewEmptySourceCommand(kId, kDvi),
          PreviewSetSourceCommand(kId, kDp), TakeCommand(kId, 3)},
         [](StatusReply& s) {
             s.functions = kPreTakeBit;
             s.overlay = kPreviewEmpty;
             s.mainSource = kDp;
             s.secondSource = kDp;
             s.transition = 3;
         }},
        {"PIP off in Pre + TAKE mode returns to the empty preview",
         {SwitchModeCommand(kId, true), PipOnOffCommand(kId, true), PipOnOffCommand(kId, false)},
         [](StatusReply& s) {
             s.functions = kPreTakeBit;
             s.overlay = kPreviewEmpty;
         }},
        {"back to One Key Switch closes the preview",
         {SwitchModeCommand(kId, true), PreviewEmptySourceCommand(kId, kDvi),
          SwitchModeCommand(kId, false)},
         [](StatusReply& s) { s.secondSource = kDvi; }},
        {"no preview outside Pre + TAKE mode",
         {PreviewEmptySourceCommand(kId, kDvi), TakeCommand(kId, 1)},
         [](StatusReply&) {}},
        {"function bits",
         {FreezeCommand(kId, true), BypassCommand(kId, true), MosaicCommand(kId, true),
          BypassCommand(kId, false)},
         [](StatusReply& s) { s.functions = kFreezeBit | kMosaicBit; }},
        {"AUTO, an unknown code and a bad source change nothing",
         {AutoCommand(kId), MakeFrame(kId, {0x33, 0x01}), SourceSwitch(kId, 0, 9),
          LayoutCommand(kId, 3)},
         [](StatusReply&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device d;
        for (const Frame& f : c.commands) {
            d.Send(f);
            d.Wait(kSettleMs);
        }
        StatusReply want = FreshStatus();
        c.expect(want);
        EXPECT_EQ(Hex(d.Query(StatusQuery(kId))), Hex(want.Encode()));
    }
}

TEST(SimSwitching, SwitchesAndOverlaysTakeTime) {
    Device d;
    d.Send(SourceSwitch(kId, 0, kHdmi));
    d.Send(PipOnOffCommand(kId, true));
    EXPECT_EQ(d.sim.NextChangeMs(), d.now + Simulator::kSwitchDelayMs);
    EXPECT_EQ(d.Status().mainSource, kV1);
    EXPECT_EQ(d.Status().overlay, kPipPending);
    d.Wait(Simulator::kSwitchDelayMs - 1);
    EXPECT_EQ(d.Status().mainSource, kV1);
    d.Wait(1);
    EXPECT_EQ(d.Status().mainSource, kHdmi);
    d.Wait(Simulator::kOverlayOpenMs - Simulator::kSwitchDelayMs - 1);
    EXPECT_EQ(d.Status().overlay, kPipPending);
    d.Wait(1);
    EXPECT_EQ(d.Status().overlay, kPipOn);
    EXPECT_FALSE(d.sim.NextChangeMs());

    // Closed while pending: the old opening must not bring it back.
    d.Send(TextOnOffCommand(kId, true));
    d.Wait(100);  // TEXT takes over from PIP
    d.Send(TextOnOffCommand(kId, false));
    d.Wait(kSettleMs);
    EXPECT_EQ(d.Status().overlay, kOverlayNone);

    // A second switch before the first has happened wins.
    d.Send(SourceSwitch(kId, 0, kDvi));
    d.Wait(100);
    d.Send(SourceSwitch(kId, 0, kDp));
    d.Wait(kSettleMs);
    EXPECT_EQ(d.Status().mainSource, kDp);
}

// Each case sends its commands and checks one query's whole reply.
TEST(SimSettings, QueriesAnswerWhatTheCommandsSet) {
    auto picture = [](uint8_t brightness, uint8_t bias, uint8_t sharp, uint8_t a1, uint8_t a2,
                      uint8_t spare) {
        return PictureAudioReply{brightness, bias, sharp, a1, a2, spare, 0}.Encode(kId);
    };
    ColourReply colours;
    for (uint8_t& v : colours.values) {
        v = 50;
    }
    ColourReply dpAt70 = colours;
    dpAt70.values[4] = 70;  // V1 V2 HDMI DVI DP ...
    struct Case {
        const char* name;
        std::vector<Frame> commands;
        Frame query;
        Frame want;
    };
    const Case cases[] = {
        {"identification", {}, IdentifyQuery(kId), IdentifyReply(kId)},
        {"fresh resolution",
         {},
         ResolutionQuery(kId),
         ResolutionReply{6, {0, 1920, 0, 1080}}.Encode(kId)},
        {"preset resolution resizes the output window",
         {ResolutionCommand(kId, 7)},
         ResolutionQuery(kId),
         ResolutionReply{7, {0, 1366, 0, 768}}.Encode(kId)},
        {"custom resolution",
         {CustomResolutionCommand(kId, 1280, 720, 50), ResolutionCommand(kId, 16)},
         ResolutionQuery(kId),
         ResolutionReply{16, {0, 1280, 0, 720}}.Encode(kId)},
        {"custom resolution query",
         {CustomResolutionCommand(kId, 1280, 720, 50)},
         CustomResolutionQuery(kId),
         CustomResolutionReply{1280, 720, 50}.Encode(kId)},
        {"output window",
         {OutputGeometryCommand(kId, 10, 1900, 20, 1040)},
         ResolutionQuery(kId),
         ResolutionReply{6, {10, 1900, 20, 1040}}.Encode(kId)},
        {"input window and sync mosaic",
         {InputWindowCommand(kId, 640, 640, 0, 1080), SyncModeCommand(kId, true)},
         MosaicModeQuery(kId),
         MosaicModeReply{true, {640, 640, 0, 1080}}.Encode(kId)},
        {"fresh M1 PIP window",
         {},
         LayoutGeometryQuery(kId, LayoutGeometrySub(0, true)),
         GeometryReply(kId, 0x08, {960, 960, 540, 540})},
        {"M2 PIP window",
         {WindowGeometryCommand(kId, kLayoutM2, true, 100, 400, 50, 300)},
         LayoutGeometryQuery(kId, LayoutGeometrySub(1, true)),
         GeometryReply(kId, 0x0A, {100, 400, 50, 300})},
        {"M3 main window",
         {WindowGeometryCommand(kId, kLayoutM3, false, 0, 1920, 0, 1080)},
         LayoutGeometryQuery(kId, LayoutGeometrySub(2, false)),
         GeometryReply(kId, 0x0B, {0, 1920, 0, 1080})},
        {"fresh picture and audio", {}, PictureAudioQuery(kId), picture(64, 50, 0, 0, 4, 0)},
        {"picture and audio",
         {BrightnessCommand(kId, 40), BiasCommand(kId, 30), SharpnessCommand(kId, true),
          AudioCommand(kId, kYPbPr, kHdmi), HotSpareCommand(kId, true, false, true)},
         PictureAudioQuery(kId),
         picture(40, 30, 1, kYPbPr, kHdmi, 0x05)},
        {"text key",
         {TextKeyCommand(kId, true, 16, 32, 48)},
         TextKeyQuery(kId),
         TextKeyReply{1, 16, 32, 48}.Encode(kId)},
        {"fresh colours", {}, ColourQuery(kId), colours.Encode(kId)},
        {"colour of DP; VGA has no place in the reply",
         {ColourCommand(kId, 70, kDp), ColourCommand(kId, 10, kVga1)},
         ColourQuery(kId),
         dpAt70.Encode(kId)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device d;
        for (const Frame& f : c.commands) {
            d.Send(f);
        }
        EXPECT_EQ(Hex(d.Query(c.query)), Hex(c.want));
    }
}

TEST(SimFrames, OnlyWholeFramesForThisDeviceAreAnsweredOrApplied) {
    Device d;
    Frame badSum = SourceSwitch(kId, 0, kHdmi);
    badSum[12] ^= 0x01;
    Frame badLeader = StatusQuery(kId);
    badLeader[0] = 0x06;
    badLeader[12] = Checksum(badLeader.data());
    Frame badQuerySum = IdentifyQuery(kId);
    badQuerySum[12] ^= 0x80;
    for (const Frame& f : {badSum, SourceSwitch(2, 0, kHdmi), badLeader, badQuerySum,
                           IdentifyQuery(2), ReadQuery(kId, 0x55)}) {
        SCOPED_TRACE(Hex(f));
        EXPECT_FALSE(d.Ask(f));
        d.Wait(kSettleMs);
    }
    EXPECT_EQ(d.Status().mainSource, kV1);
    // The fast mosaic's status query carries a source in byte 4: still a status query.
    EXPECT_EQ(Hex(d.Query(MakeFrame(kId, {0xFE, 0x00, 0x05}))), Hex(FreshStatus().Encode()));
}

TEST(SimFaults, ReplyFaultsChangeOnlyTheirByte) {
    struct Case {
        const char* name;
        sim::ReplyFaults faults;
        int byte;
        uint8_t value;
    };
    const Case cases[] = {
        {"lead", {.lead = true}, 0, 0x06},
        {"otherid", {.otherId = true}, 1, kId + 1},
        {"ident", {.badIdentify = true}, 11, 0x63},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device d(c.faults);
        Frame want = IdentifyReply(kId);
        want[c.byte] = c.value;
        want[12] = Checksum(want.data());
        const Frame got = d.Query(IdentifyQuery(kId));
        EXPECT_EQ(Hex(got), Hex(want));
        EXPECT_EQ(IsIdentifyReply(got.data()), c.byte != 11);
        // The status query is hit by leader and ID faults only.
        const Frame status = d.Query(StatusQuery(kId));
        EXPECT_EQ(status[c.byte] == c.value, c.byte != 11) << Hex(status);
    }
}

TEST(SimFaults, SignalsFollowTheInputsAndTheConsole) {
    Device d;
    d.sim.SetSignal(kHdmi, false);  // what --fault nosignal=HDMI does at start
    d.Send(SourceSwitch(kId, 0, kHdmi));
    d.Wait(kSettleMs);
    EXPECT_FALSE(d.Status().mainSignal);
    EXPECT_EQ(d.sim.Console("signal hdmi ON").kind, Simulator::ConsoleResult::kChanged);
    EXPECT_TRUE(d.Status().mainSignal);

    // YPbPr is the V2 input; EXT. needs something plugged behind it.
    EXPECT_EQ(d.sim.Console("signal YPbPr off").kind, Simulator::ConsoleResult::kChanged);
    EXPECT_FALSE(d.sim.HasSignal(kV2));
    EXPECT_TRUE(d.sim.HasSignal(kExt));
    EXPECT_EQ(d.sim.Console("ext null").kind, Simulator::ConsoleResult::kChanged);
    EXPECT_FALSE(d.sim.HasSignal(kExt));
    EXPECT_EQ(d.Status().extInput, 0);
    EXPECT_EQ(d.sim.Console("ext VIDEO").kind, Simulator::ConsoleResult::kChanged);
    EXPECT_TRUE(d.sim.HasSignal(kExt));

    // The second source's signal shows only while it is on screen.
    d.sim.SetSignal(kDp, false);
    d.Send(PipSourceCommand(kId, kVga1));
    d.Send(PipOnOffCommand(kId, true));
    EXPECT_TRUE(d.Status().secondSignal);
    d.Send(PipSourceCommand(kId, kDp));
    EXPECT_FALSE(d.Status().secondSignal);

    // The brightness range shows in byte 9 of the picture reply; the value is kept.
    EXPECT_EQ(d.sim.Console("brightness 100").kind, Simulator::ConsoleResult::kChanged);
    EXPECT_EQ(PictureAudioReply::Decode(d.Query(PictureAudioQuery(kId)).data()).brightness100, 1);
    EXPECT_EQ(PictureAudioReply::Decode(d.Query(PictureAudioQuery(kId)).data()).brightness, 64);
    EXPECT_EQ(d.sim.Console("BRIGHTNESS 64").kind, Simulator::ConsoleResult::kChanged);
    EXPECT_EQ(d.sim.State().picture.brightness100, 0);

    for (const char* bad :
         {"signal HDMI maybe", "signal XGA off", "ext SCART", "", "reboot", "brightness 50"}) {
        const Simulator::ConsoleResult r = d.sim.Console(bad);
        EXPECT_EQ(r.kind, Simulator::ConsoleResult::kError) << bad;
        EXPECT_EQ(r.text.find('\n'), std::string::npos) << r.text;
    }
    const Simulator::ConsoleResult state = d.sim.Console("state");
    EXPECT_EQ(state.kind, Simulator::ConsoleResult::kState);
    EXPECT_NE(state.text.find("main HDMI,"), std::string::npos) << state.text;
    EXPECT_NE(state.text.find("EXT. input VIDEO"), std::string::npos) << state.text;
}

// ---- the running simulator -------------------------------------------------------------------

namespace {

struct TcpClient {
    explicit TcpClient(int port) {
        link.m_bSerial = 0;
        EXPECT_EQ(ConnectTcp(link.m_socket, 0x7F000001, port), 1);
    }
    ~TcpClient() { CloseTcp(link.m_socket); }
    // The reply to query, or all zeros when none came.
    Frame Ask(const Frame& query, int limitMs = 2000) {
        Frame reply{};
        QueryCommand(link, query.data(), reply.data(), limitMs);
        return reply;
    }
    LinkConnection link;
};

}  // namespace

TEST(SimProcess, ServesTcpAndTheConsole) {
    testutil::SimProcess p({"--tcp", "0"});
    ASSERT_TRUE(p.Started()) << p.Output();
    TcpClient c(p.tcpPort);
    EXPECT_TRUE(IsIdentifyReply(c.Ask(IdentifyQuery(kId), 6000).data()));

    SendCommand(c.link, SourceSwitch(kId, 0, kHdmi).data(), Simulator::kSwitchDelayMs + 200);
    StatusReply s = StatusReply::Decode(c.Ask(StatusQuery(kId)).data());
    EXPECT_EQ(s.mainSource, kHdmi);
    EXPECT_TRUE(s.mainSignal);

    p.Command("signal HDMI off");
    ASSERT_TRUE(p.WaitForOutput("signal HDMI off", 2000)) << p.Output();
    s = StatusReply::Decode(c.Ask(StatusQuery(kId)).data());
    EXPECT_EQ(s.mainSource, kHdmi);
    EXPECT_FALSE(s.mainSignal);

    p.Command("state");
    EXPECT_TRUE(p.WaitForOutput("state main HDMI (no signal)", 2000)) << p.Output();
    p.Command("bogus");
    EXPECT_TRUE(p.WaitForOutput("error: ", 2000));

    // Every frame in and out is in the log, with its endpoint.
    const std::string log = p.Output();
    EXPECT_NE(log.find(" tcp#1 <- 05 01 fe fe 00 00 00 00 00 00 00 00 04  (identify)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" tcp#1 -> 05 01 fe fe 76 69 65 77 20 72 67 62"), std::string::npos);
}

TEST(SimProcess, ServesThePseudoTerminalAcrossReopens) {
    testutil::SimProcess p({"--pty", "--fault", "slow=300"});
    ASSERT_TRUE(p.Started()) << p.Output();
    auto open = [&](LinkConnection& link) {
        link.m_bSerial = 1;
        ASSERT_EQ(link.m_serialPort.Open(p.ptyPath), 1);
        ASSERT_EQ(link.m_serialPort.Configure(), 1);
    };
    {
        // A client that leaves before its answer: the answer must not wait for the next one.
        LinkConnection gone;
        open(gone);
        SendCommand(gone, IdentifyQuery(kId).data(), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (const Frame& query : {StatusQuery(kId), IdentifyQuery(kId)}) {
        LinkConnection link;
        open(link);
        Frame reply{};
        EXPECT_EQ(QueryCommand(link, query.data(), reply.data(), 2000), kFrameSize);
        EXPECT_EQ(reply[3], query[3]) << Hex(reply);  // status FE 00, identification FE FE
    }
    EXPECT_TRUE(p.WaitForOutput("(not sent: no client has the line open)", 1000)) << p.Output();
}

TEST(SimProcess, DropsNoiseAndStalePiecesBeforeAFrame) {
    testutil::SimProcess p({"--tcp", "0"});
    ASSERT_TRUE(p.Started()) << p.Output();
    TcpClient c(p.tcpPort);
    // Noise, then the first five bytes of a frame whose rest never comes.
    const Frame status = StatusQuery(kId);
    const uint8_t noise[] = {0x00, 0xff, 0x13, 0x05, 0x01, 0xfe, 0x00, 0x00};
    ASSERT_EQ(::send(c.link.m_socket, noise, sizeof noise, 0), ssize_t(sizeof noise));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(Hex(c.Ask(status)), Hex(FreshStatus().Encode()));
    EXPECT_TRUE(p.WaitForOutput("(ignored: incomplete frame)", 1000)) << p.Output();
}

TEST(SimProcess, SplitRepliesArriveWhole) {
    // Slow enough that the first piece lands just before a read attempt of the link layer.
    testutil::SimProcess p({"--tcp", "0", "--fault", "slow=80", "--fault", "split=5"});
    ASSERT_TRUE(p.Started()) << p.Output();
    TcpClient c(p.tcpPort);
    EXPECT_EQ(Hex(c.Ask(IdentifyQuery(kId))), Hex(IdentifyReply(kId)));
}

TEST(SimProcess, DropClosesTheConnectionAfterItsFrames) {
    testutil::SimProcess p({"--tcp", "0", "--fault", "drop=2"});
    ASSERT_TRUE(p.Started()) << p.Output();
    TcpClient c(p.tcpPort);
    EXPECT_TRUE(IsIdentifyReply(c.Ask(IdentifyQuery(kId)).data()));
    EXPECT_TRUE(IsIdentifyReply(c.Ask(IdentifyQuery(kId)).data()));
    pollfd pf{c.link.m_socket, POLLIN, 0};
    ASSERT_EQ(::poll(&pf, 1, 1000), 1);
    char byte;
    EXPECT_EQ(::recv(c.link.m_socket, &byte, 1, 0), 0);  // end of stream
    // A new connection is served again.
    TcpClient again(p.tcpPort);
    EXPECT_TRUE(IsIdentifyReply(again.Ask(IdentifyQuery(kId)).data()));
}

TEST(SimProcess, SeveralProcessorsOnOneLineEachKeepAStateOfTheirOwn) {
    testutil::SimProcess p({"--tcp", "0", "--ids", "1-2", "--id", "7"});
    ASSERT_TRUE(p.Started()) << p.Output();
    TcpClient c(p.tcpPort);
    for (uint8_t id : {1, 2, 7}) {
        EXPECT_TRUE(IsIdentifyReply(c.Ask(IdentifyQuery(id)).data())) << int(id);
    }
    EXPECT_EQ(c.Ask(IdentifyQuery(3), 500)[0], 0);  // nobody has ID 3

    SendCommand(c.link, InputWindowCommand(2, 100, 640, 0, 360).data(), 0);
    EXPECT_EQ(MosaicModeReply::Decode(c.Ask(MosaicModeQuery(2)).data()).input.hs, 100);
    EXPECT_EQ(MosaicModeReply::Decode(c.Ask(MosaicModeQuery(1)).data()).input.hs, 0);

    // The console speaks to one processor after "device N", to all of them otherwise.
    p.Command("device 7 signal V1 off");
    ASSERT_TRUE(p.WaitForOutput("stdin device 7 signal V1 off", 2000)) << p.Output();
    EXPECT_FALSE(StatusReply::Decode(c.Ask(StatusQuery(7)).data()).mainSignal);
    EXPECT_TRUE(StatusReply::Decode(c.Ask(StatusQuery(1)).data()).mainSignal);
    p.Command("device 9 state");
    EXPECT_TRUE(p.WaitForOutput("error: no device '9' on this line", 2000)) << p.Output();
    p.Command("state");
    EXPECT_TRUE(p.WaitForOutput("state device id 7", 2000)) << p.Output();
    const std::string log = p.Output();
    EXPECT_NE(log.find("state device id 1"), std::string::npos);
    EXPECT_NE(log.find("sim started, device ids 1,2,7"), std::string::npos) << log;
}

TEST(SimProcess, BadCommandLinesExit2) {
    const std::vector<std::vector<std::string>> cases = {
        {"--tcp", "http"},
        {"--tcp", "70000"},
        {"--pty", "--id", "256"},
        {"--pty", "--fault", "loud"},
        {"--pty", "--fault", "split=13"},
        {"--pty", "--fault", "nosignal=SCART"},
        {"--pty", "--fault"},
        {"--serial"},
        {"--pty", "--ids", "1-"},
        {"--pty", "--ids", "5-3"},
        {"--pty", "--ids", "1,300"},
        {"--pty", "--ids", "1,"},
    };
    for (std::vector<std::string> args : cases) {
        args.insert(args.begin(), ORN312_SIM_PATH);
        const testutil::RunResult r = testutil::Run(args, 5000);
        EXPECT_EQ(r.exitCode, 2) << args[1];
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const testutil::RunResult none = testutil::Run({ORN312_SIM_PATH, "--id", "3"}, 5000);
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("usage: orn312-sim"), std::string::npos) << none.err;
}

TEST(SimProcess, OutlivesTheEndOfItsInputAndStopsOnSigterm) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(out[1], 1);
        ::execl(ORN312_SIM_PATH, ORN312_SIM_PATH, "--tcp", "0", "--pty", nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    pollfd pf{out[0], POLLIN, 0};
    ASSERT_EQ(::poll(&pf, 1, 5000), 1);  // the endpoint lines
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "ended at the end of its input";
    ::kill(pid, SIGTERM);
    const auto start = std::chrono::steady_clock::now();
    while (::waitpid(pid, &status, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);  // harmless when it has gone
    ::waitpid(pid, nullptr, WNOHANG);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(out[0]);
}
