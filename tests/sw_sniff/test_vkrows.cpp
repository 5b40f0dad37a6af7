#include <gtest/gtest.h>

#include <string>

#include "vkrows.h"

namespace {

// The name of the class a row is visited as.
struct TclassName {
  std::string operator()(const Treset&) const { return "reset"; }
  std::string operator()(const Tsof&) const { return "sof"; }
  std::string operator()(const Ttoken&) const { return "token"; }
  std::string operator()(const Tdata&) const { return "data"; }
  std::string operator()(const Thandshake&) const { return "handshake"; }
  std::string operator()(const TsofGroup&) const { return "sofgroup"; }
  std::string operator()(const Ttransax&) const { return "transax"; }
  std::string operator()(const Ttransfer&) const { return "transfer"; }
};

// Forgets the control transfer.
struct TmissesTransfer {
  void operator()(const Treset&) const {}
  void operator()(const TpacketBase&) const {}
  void operator()(const TsofGroup&) const {}
  void operator()(const Ttransax&) const {}
};

// A site that takes every group at once covers all three group kinds.
struct TtakesGroups {
  void operator()(const Treset&) const {}
  void operator()(const TpacketBase&) const {}
  void operator()(const Tgrouper&) const {}
};

static_assert(rowkind::takesEveryKind<const Tbase, TclassName>);
static_assert(!rowkind::takesEveryKind<const Tbase, TmissesTransfer>);
static_assert(rowkind::takesEveryKind<const Tbase, TtakesGroups>);
// A visitor that changes rows does not take a const row.
static_assert(!rowkind::takesEveryKind<const Tbase, void (*)(Tbase&)>);

TEST(RowDispatch, EveryKindReachesItsClass) {
  const struct {
    TrowPtr row;
    const char* name;
  } cases[] = {
      {std::make_shared<Treset>(), "reset"},         {std::make_shared<Tsof>(), "sof"},
      {std::make_shared<Ttoken>(), "token"},         {std::make_shared<Tdata>(), "data"},
      {std::make_shared<Thandshake>(), "handshake"}, {std::make_shared<TsofGroup>(), "sofgroup"},
      {std::make_shared<Ttransax>(), "transax"},     {std::make_shared<Ttransfer>(), "transfer"},
  };
  int kind = RK_RESET;
  for (const auto& c : cases) {
    EXPECT_EQ(c.row->kind, kind++);
    EXPECT_EQ(visitRow(*c.row, TclassName{}, std::string("none")), c.name);
  }
}

TEST(RowDispatch, RowsOfNoKindAndLiarsAreNotVisited) {
  Tbase bare;
  Tbase liar;
  liar.kind = RK_DATA;  // a kind without its class
  Tbase negative;
  negative.kind = -1;
  Ttoken retyped;
  retyped.kind = RK_TRANSFER;
  for (const Tbase* row : {&bare, &liar, &negative, static_cast<Tbase*>(&retyped)})
    EXPECT_EQ(visitRow(*row, TclassName{}, std::string("none")), "none") << row->kind;

  int visits = 0;
  auto count = Toverload{[&visits](Tbase&) { ++visits; }};
  EXPECT_FALSE(visitRow(bare, count));
  Thandshake handshake;
  EXPECT_TRUE(visitRow(handshake, count));
  EXPECT_EQ(visits, 1);
}

}  // namespace
