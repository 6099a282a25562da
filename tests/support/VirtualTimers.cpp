#include "VirtualTimers.h"

#include <algorithm>

namespace calvora::testing {

struct VirtualTimers::Entry {
  int32_t interval = 0;
  bool enabled = false;
  bool alive = true;
  int64_t due = 0;
  uint64_t order = 0;  // creation order breaks ties between timers due at once
  std::function<void()> onTick;
};

class VirtualTimer : public platform::Timer {
 public:
  VirtualTimer(VirtualTimers& owner, std::shared_ptr<VirtualTimers::Entry> entry)
      : owner_(owner), entry_(std::move(entry)) {}
  ~VirtualTimer() override {
    entry_->alive = false;
    entry_->enabled = false;
  }
  void SetEnabled(bool enabled) override {
    if (enabled && !entry_->enabled)
      entry_->due = owner_.now_ + entry_->interval;
    entry_->enabled = enabled;
  }
  bool Enabled() const override { return entry_->enabled; }
  void SetInterval(int32_t ms) override {
    entry_->interval = ms;
    if (entry_->enabled)
      entry_->due = owner_.now_ + ms;
  }
  int32_t Interval() const override { return entry_->interval; }

 private:
  VirtualTimers& owner_;
  std::shared_ptr<VirtualTimers::Entry> entry_;
};

VirtualTimers::~VirtualTimers() = default;

std::unique_ptr<platform::Timer> VirtualTimers::CreateTimer(int32_t intervalMs,
                                                            std::function<void()> onTick) {
  auto entry = std::make_shared<Entry>();
  entry->interval = intervalMs;
  entry->order = sequence_++;
  entry->onTick = std::move(onTick);
  entries_.push_back(entry);
  return std::make_unique<VirtualTimer>(*this, entry);
}

bool VirtualTimers::FireNextDue(int64_t until) {
  std::erase_if(entries_, [](const auto& e) { return !e->alive; });
  std::shared_ptr<Entry> next;
  for (const auto& e : entries_) {
    if (!e->enabled || e->due > until)
      continue;
    if (!next || e->due < next->due || (e->due == next->due && e->order < next->order))
      next = e;
  }
  if (!next)
    return false;
  if (next->due > now_) {
    clock_.Advance(next->due - now_);
    now_ = next->due;
  }
  // A timer never fires more often than its interval, even when it fell behind.
  next->due = now_ + std::max<int32_t>(next->interval, 1);
  auto handler = next->onTick;  // the handler may destroy its own timer
  if (handler)
    handler();
  return true;
}

void VirtualTimers::Advance(int64_t ms) {
  const int64_t until = now_ + ms;
  while (FireNextDue(until)) {
  }
  if (until > now_) {
    clock_.Advance(until - now_);
    now_ = until;
  }
}

void VirtualTimers::ProcessPendingEvents() {
  ++pendingRuns_;
  if (onProcessPendingEvents)
    onProcessPendingEvents();
}

int VirtualTimers::ActiveTimers() const {
  return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                        [](const auto& e) { return e->alive && e->enabled; }));
}

}  // namespace calvora::testing
