#include "mixer/CVFaders.h"

#include <cmath>

namespace calvora::mixer {

namespace {
constexpr double kSecondsPerDay = 86400.0;
}

TCVFader::TCVFader(platform::Clock& clock, platform::Timers& timers)
    : clock_(clock), fadeTimer_(timers.CreateTimer(kTickMs, [this] { Tick(); })) {}

TCVFader::~TCVFader() {
  fadeTimer_->SetEnabled(false);
}

void TCVFader::SetValue(double value) {
  startValue_ = value;
  Value = value;
}

void TCVFader::Start(double target, double seconds) {
  if (std::isnan(seconds) || seconds < 0 || seconds > kSecondsPerDay)
    seconds = 0;
  if (std::isnan(Value) || std::isnan(target) || Value == target)
    seconds = 0;
  startTime_ = clock_.LocalNowDays();
  lastTime_ = startTime_;
  endTime_ = startTime_ + seconds / kSecondsPerDay;
  if (seconds == 0) {
    Value = target;
    Active = false;
  } else {
    Active = true;
  }
  target_ = target;
  startValue_ = Value;
  if (OnStart)
    OnStart(*this, Value);
  Tick();
  fadeTimer_->SetEnabled(Active);
}

void TCVFader::Tick() {
  Step();
  if (OnChange)
    OnChange(*this, Value);
  if (!Active && OnDone)
    OnDone(*this, Value);
}

void TCVFader::Step() {
  const double now = clock_.LocalNowDays();
  if (now < lastTime_) {
    // The clock was set back: shift the fade by the same amount so it keeps its progress.
    const double back = lastTime_ - now;
    startTime_ -= back;
    endTime_ -= back;
  }
  if (now < endTime_ && endTime_ != startTime_) {
    lastTime_ = now;
    const double span = target_ - startValue_;
    const double elapsed = now - startTime_;
    const double length = endTime_ - startTime_;
    Value = startValue_ + span * elapsed / length;
  } else {
    Value = target_;
    Active = false;
    fadeTimer_->SetEnabled(false);
  }
}

}  // namespace calvora::mixer
