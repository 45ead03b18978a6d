#include "server/DeviceModel.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/Commands.h"
#include "link/Replies.h"

namespace {

devlink::Frame Status(uint8_t id, uint8_t main, bool mainSignal, uint8_t functions = 0) {
    devlink::StatusReply s;
    s.deviceId = id;
    s.mainSource = main;
    s.mainSignal = mainSignal;
    s.secondSource = devlink::kHdmi;
    s.secondSignal = true;
    s.functions = functions;
    return s.Encode();
}

// The model follows the device's status replies, tells each change once, passes over what is no
// status reply of its device, and keeps nothing stale when the device is lost.
TEST(DeviceModel, FollowsTheStatusRepliesAndTellsChanges) {
    server::DeviceModel model(3);
    std::vector<server::DeviceSnapshot> heard;
    const int token = model.Subscribe([&](const server::DeviceSnapshot& s) { heard.push_back(s); });

    EXPECT_FALSE(model.Current().connected);
    model.Reply(Status(3, devlink::kDvi, true));
    model.Reply(Status(3, devlink::kDvi, true));   // the same again: no change
    model.Reply(Status(4, devlink::kVga1, true));  // another device's
    // An answer with the same leader, ID and marker to another question.
    model.Answer(devlink::ResolutionQuery(3), devlink::ResolutionReply{6, {}}.Encode(3));
    model.Answer(devlink::StatusQuery(3), Status(3, devlink::kDvi, false, devlink::kFreezeBit));
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_TRUE(heard[0].connected);
    EXPECT_EQ(heard[0].state.m_mainSource, devlink::kDvi);
    EXPECT_FALSE(heard[0].state.m_bFreeze);
    EXPECT_TRUE(heard[1].state.m_bFreeze);
    EXPECT_FALSE(heard[1].status.mainSignal);
    EXPECT_FALSE(heard[1].noSignal.empty());  // the DVI lamp flashes
    EXPECT_GT(heard[1].version, heard[0].version);

    model.Lost();
    model.Lost();
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_FALSE(heard[2].connected);
    EXPECT_EQ(heard[2].state.m_mainSource, -1);
    EXPECT_FALSE(model.Current().connected);

    // Back: the same reply as before the loss is news again.
    model.Reply(Status(3, devlink::kDvi, false, devlink::kFreezeBit));
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_TRUE(heard[3].connected);

    model.Unsubscribe(token);
    model.Reply(Status(3, devlink::kHdmi, true));
    EXPECT_EQ(heard.size(), 4u);
    EXPECT_EQ(model.Current().state.m_mainSource, devlink::kHdmi);
}

}  // namespace
