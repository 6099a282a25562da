#pragma once
// A value that moves linearly from where it is to a target over a number of seconds of
// wall-clock time. The value at any moment is a function of elapsed time; the 10 ms timer
// only decides how often it is recomputed and reported.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Clock.h"
#include "platform/Timers.h"

namespace calvora::mixer {

class TCVFader;

// Raised with the sending fader and its current value.
using FaderEvent = std::function<void(TCVFader& sender, double value)>;

class TCVFader {
 public:
  static constexpr int32_t kTickMs = 10;

  TCVFader(platform::Clock& clock, platform::Timers& timers);
  // Ends a running fade silently: no event is raised.
  ~TCVFader();
  TCVFader(const TCVFader&) = delete;
  TCVFader& operator=(const TCVFader&) = delete;

  // Moves the current value and the start of the interpolation; a running fade goes on.
  void SetValue(double value);
  // Fades from the current value to the target. Negative, non-numeric or longer than a day
  // times, and a target equal to the current value, change the value at once, raising
  // OnStart, OnChange and OnDone within the call.
  void Start(double target, double seconds);
  // One step of the fade, then OnChange, and OnDone when the fade is over.
  void Tick();

  double Target() const { return target_; }
  double StartValue() const { return startValue_; }

  bool Active = false;  // a fade is in progress
  int32_t Tag = 0;      // free for the owner
  double Value = 0;

  FaderEvent OnChange;  // after every step
  FaderEvent OnDone;    // after the step that ends the fade
  FaderEvent OnStart;   // when a fade is started

 private:
  void Step();

  platform::Clock& clock_;
  std::unique_ptr<platform::Timer> fadeTimer_;
  double target_ = 0;
  double startValue_ = 0;
  // Wall-clock times in days.
  double lastTime_ = 0;
  double startTime_ = 0;
  double endTime_ = 0;
};

}  // namespace calvora::mixer
