// Failures made on purpose, for the tests of every failure path. The same on every platform: the
// platform's functions ask `Injected` before they call the system.
#include <array>
#include <atomic>
#include <mutex>

#include "driver/platform.h"

namespace ruxa::platform {

namespace {

struct Planned {
  int countdown = 0;  // the call that fails, counted down; 0: none planned
  std::function<void()> then;
};

std::atomic<int> g_planned{0};  // how many are still to come; checked first, without the lock
std::mutex g_mutex;
std::array<Planned, static_cast<std::size_t>(Call::kCount)> g_plans;

}  // namespace

void FailCallForTest(Call call, int nth, std::function<void()> then) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  for (std::size_t i = 0; i < g_plans.size(); ++i) {
    if (call != Call::kCount && i != static_cast<std::size_t>(call)) continue;
    Planned& plan = g_plans[i];
    g_planned.fetch_add((nth != 0) - (plan.countdown != 0));
    plan = {nth, nth != 0 ? std::move(then) : nullptr};
  }
}

bool FailurePendingForTest() { return g_planned.load() != 0; }

bool Injected(Call call, Reason& why) {
  if (g_planned.load(std::memory_order_relaxed) == 0) return false;
  std::function<void()> then;
  {
    const std::lock_guard<std::mutex> lock(g_mutex);
    Planned& plan = g_plans[static_cast<std::size_t>(call)];
    if (plan.countdown == 0 || --plan.countdown > 0) return false;
    then = std::move(plan.then);
    plan.then = nullptr;
    g_planned.fetch_sub(1);
  }
  if (then) then();
  why = "injected failure";
  return true;
}

}  // namespace ruxa::platform
