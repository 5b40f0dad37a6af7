// The program's one global object: the publish/subscribe hub the windows talk
// through (integer topics, one integer argument, delivered synchronously in
// subscription order on the GUI thread) and the few settings several windows
// read. Toolkit-free, so the hub and the settings are testable without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// Topics and their argument.
constexpr int TOPIC_SCROLL = 1;     // the scroll bar's new thumb position
constexpr int TOPIC_VIS_ROWS = 4;   // 0: visible rows changed
constexpr int TOPIC_ZOOM = 5;       // +1 zoom in, -1 zoom out
constexpr int TOPIC_SPLITTER = 6;   // 0: a splitter sash moved
constexpr int TOPIC_FILE_READ = 7;  // address of a NUL-terminated path, valid during pub
constexpr int TOPIC_FILE_SAVE = 8;  // as for TOPIC_FILE_READ
constexpr int TOPIC_CAPTURE = 9;    // 0: run the capture dialog

using TpubSubCb = std::function<void(long)>;

// One subscription.
class TcbObj {
 public:
  TpubSubCb cb;
  int id = 0;
};

class TpubSub {
 public:
  TpubSub() = default;
  TpubSub(const TpubSub&) = delete;
  TpubSub& operator=(const TpubSub&) = delete;

  // Registers cb for topic; ids come from one counter for all topics.
  int sub(int topic, TpubSubCb cb);
  // Calls every subscriber of topic, oldest first. A callback may subscribe
  // or unsubscribe meanwhile: the ones present at the start are called,
  // except those removed before their turn.
  void pub(int topic, long arg);
  // Removes the subscription id from topic; false when topic does not hold it.
  bool unsub(int topic, int id);
  void init() {}

  // Subscriptions of a topic, in order (for diagnostics and tests).
  const std::vector<TcbObj>& topicSubs(int topic) { return subscribers[topic]; }
  int peekNextId() const { return nextId; }

 private:
  bool holds(int topic, int id);

  int nextId = 1;
  std::map<int, std::vector<TcbObj>> subscribers;
};

class TvkGlobs : public TpubSub {
 public:
  void init() { TpubSub::init(); }

  bool showSOFs = false;
  bool showNAKs = false;
  bool showPackets = true;
  const char* fullName = nullptr;
  const char* shortName = nullptr;
  const char* creditLine = "Quellix: full-speed USB capture and decode for the Kelvo board";
  const char* helpFile = "quellix_help.html";
  uint32_t maxBuffer = 128;
  int32_t fontSize = 12;
};

extern TvkGlobs _G;

// Withdraws one subscription when its owner dies; owners that subscribe hold
// one of these per subscription, so no callback outlives the object it calls.
class TsubToken {
 public:
  TsubToken() = default;
  TsubToken(int topic, TpubSubCb cb) : Ftopic(topic), Fid(_G.sub(topic, std::move(cb))) {}
  ~TsubToken() { reset(); }
  TsubToken(const TsubToken&) = delete;
  TsubToken& operator=(const TsubToken&) = delete;
  TsubToken(TsubToken&& o) noexcept : Ftopic(o.Ftopic), Fid(o.Fid) { o.Fid = 0; }
  TsubToken& operator=(TsubToken&& o) noexcept {
    if (this != &o) {
      reset();
      Ftopic = o.Ftopic;
      Fid = o.Fid;
      o.Fid = 0;
    }
    return *this;
  }
  void reset() {
    if (Fid != 0) _G.unsub(Ftopic, Fid);
    Fid = 0;
  }
  int id() const { return Fid; }

 private:
  int Ftopic = 0;
  int Fid = 0;
};
