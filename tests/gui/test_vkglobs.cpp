// The hub and the global settings: ids, delivery order, withdrawal, nested
// and re-entrant delivery, and the start-up values of _G.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vkglobs.h"

namespace {

std::vector<std::string> Slog;
TpubSubCb recorder(const std::string& name) {
  return [name](long arg) { Slog.push_back(name + ":" + std::to_string(arg)); };
}

class Hub : public ::testing::Test {
 protected:
  void SetUp() override { Slog.clear(); }
  TpubSub hub;
};

TEST_F(Hub, IdsCountAcrossTopicsAndDeliveryKeepsSubscriptionOrder) {
  EXPECT_EQ(hub.sub(TOPIC_FILE_SAVE, recorder("save")), 1);
  EXPECT_EQ(hub.sub(TOPIC_CAPTURE, recorder("a")), 2);
  EXPECT_EQ(hub.sub(TOPIC_CAPTURE, recorder("b")), 3);
  hub.pub(TOPIC_CAPTURE, 42);
  EXPECT_EQ(Slog, (std::vector<std::string>{"a:42", "b:42"}));

  // Removing the first leaves the second running; ids are never reused.
  EXPECT_TRUE(hub.unsub(TOPIC_CAPTURE, 2));
  EXPECT_FALSE(hub.unsub(TOPIC_CAPTURE, 2));
  Slog.clear();
  hub.pub(TOPIC_CAPTURE, -1);
  EXPECT_EQ(Slog, (std::vector<std::string>{"b:-1"}));
  EXPECT_EQ(hub.sub(TOPIC_ZOOM, recorder("z")), 4);
}

TEST_F(Hub, UnsubOfAnotherTopicsIdChangesNothing) {
  const int save = hub.sub(TOPIC_FILE_SAVE, recorder("save"));
  hub.sub(TOPIC_FILE_READ, recorder("read"));
  EXPECT_FALSE(hub.unsub(TOPIC_FILE_READ, save));
  hub.pub(TOPIC_FILE_SAVE, 1);
  hub.pub(TOPIC_FILE_READ, 2);
  EXPECT_EQ(Slog, (std::vector<std::string>{"save:1", "read:2"}));
}

TEST_F(Hub, TopicsWithoutSubscribersCallNothing) {
  hub.sub(TOPIC_SCROLL, recorder("scroll"));
  hub.pub(2, 7);
  hub.pub(3, 7);
  EXPECT_TRUE(Slog.empty());
  EXPECT_TRUE(hub.topicSubs(2).empty());
}

TEST_F(Hub, NestedPublishFinishesBeforeTheOuterGoesOn) {
  hub.sub(TOPIC_FILE_READ, [this](long arg) {
    Slog.push_back("read:" + std::to_string(arg));
    hub.pub(TOPIC_VIS_ROWS, 0);
    Slog.push_back("read done");
  });
  hub.sub(TOPIC_VIS_ROWS, recorder("vis"));
  hub.sub(TOPIC_FILE_READ, recorder("read2"));
  hub.pub(TOPIC_FILE_READ, 5);
  EXPECT_EQ(Slog, (std::vector<std::string>{"read:5", "vis:0", "read done", "read2:5"}));
}

TEST_F(Hub, CallbacksMayChangeTheTopicTheyAreDeliveredOn) {
  int late = 0;
  int second = 0;
  int secondId = 0;
  // The first removes the second before its turn and adds a third.
  hub.sub(TOPIC_SPLITTER, [&](long) {
    hub.unsub(TOPIC_SPLITTER, secondId);
    hub.sub(TOPIC_SPLITTER, [&](long) { ++late; });
  });
  secondId = hub.sub(TOPIC_SPLITTER, [&](long) { ++second; });
  hub.pub(TOPIC_SPLITTER, 0);
  EXPECT_EQ(second, 0) << "a subscriber removed meanwhile is skipped";
  EXPECT_EQ(late, 0) << "one added meanwhile waits for the next delivery";
  hub.pub(TOPIC_SPLITTER, 0);
  EXPECT_EQ(late, 1);

  // A callback that removes itself is safe too.
  int selfId = 0;
  int selfCalls = 0;
  selfId = hub.sub(TOPIC_ZOOM, [&](long) {
    ++selfCalls;
    hub.unsub(TOPIC_ZOOM, selfId);
  });
  hub.pub(TOPIC_ZOOM, 1);
  hub.pub(TOPIC_ZOOM, 1);
  EXPECT_EQ(selfCalls, 1);
}

TEST(Globals, StartUpValuesAndTokensThatWithdrawThemselves) {
  EXPECT_FALSE(_G.showSOFs);
  EXPECT_FALSE(_G.showNAKs);
  EXPECT_TRUE(_G.showPackets);
  EXPECT_EQ(_G.maxBuffer, 128u);
  EXPECT_EQ(_G.fontSize, 12);
  EXPECT_STREQ(_G.helpFile, "quellix_help.html");
  ASSERT_NE(_G.creditLine, nullptr);
  EXPECT_NE(std::string(_G.creditLine).find("Quellix"), std::string::npos);
  EXPECT_EQ(_G.peekNextId(), 1) << "nothing subscribes before start-up";

  int calls = 0;
  {
    TsubToken token(TOPIC_SPLITTER, [&](long) { ++calls; });
    EXPECT_EQ(token.id(), 1);
    TsubToken moved(std::move(token));
    EXPECT_EQ(token.id(), 0);
    _G.pub(TOPIC_SPLITTER, 0);
  }
  _G.pub(TOPIC_SPLITTER, 0);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(_G.topicSubs(TOPIC_SPLITTER).empty());
}

}  // namespace
