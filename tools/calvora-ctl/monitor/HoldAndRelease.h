#pragma once
// The hold-and-release of a check: a fault is raised once the audio has shown it for the set
// time without a break, and ended once the audio has shown it right for the clear time. Each
// check judges a stretch of audio by its own condition; this counts the time. A stretch that
// shows neither (no programme to judge) breaks the count either way and keeps the state.
namespace calvora::ctl {

class HoldAndRelease {
 public:
  enum class Evidence { kFault, kRight, kNeither };
  enum class Change { kNone, kRaised, kEnded };

  // One stretch of `seconds` of audio and what it showed; setSeconds and clearSeconds are the
  // times the fault must hold to be raised and be gone to end.
  Change Add(double seconds, Evidence evidence, double setSeconds, double clearSeconds);
  bool Raised() const { return raised_; }

 private:
  bool raised_ = false;
  double runSeconds_ = 0;  // towards the change the state waits for
};

}  // namespace calvora::ctl
