#include "vkglobs.h"

TvkGlobs _G;

int TpubSub::sub(int topic, TpubSubCb cb) {
  const int id = nextId++;
  subscribers[topic].push_back(TcbObj{std::move(cb), id});
  return id;
}

bool TpubSub::holds(int topic, int id) {
  for (const TcbObj& s : subscribers[topic])
    if (s.id == id) return true;
  return false;
}

void TpubSub::pub(int topic, long arg) {
  // A snapshot: callbacks may change the topic's vector while they run.
  const std::vector<TcbObj> snapshot = subscribers[topic];
  for (const TcbObj& s : snapshot)
    if (holds(topic, s.id)) s.cb(arg);
}

bool TpubSub::unsub(int topic, int id) {
  std::vector<TcbObj>& subs = subscribers[topic];
  for (auto it = subs.begin(); it != subs.end(); ++it) {
    if (it->id == id) {
      subs.erase(it);
      return true;
    }
  }
  return false;
}
