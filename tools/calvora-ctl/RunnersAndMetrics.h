#pragma once
// The station services of watch, auto and serve where the system has them: a station's
// command for each kind of event (--on-silence and its kin), and the metrics and status
// served over HTTP (--listen).
#include <array>
#include <memory>

#include "ActionRunner.h"
#include "Controller.h"
#include "MetricsServer.h"
#include "StationMonitor.h"

namespace calvora::ctl {

class RunnersAndMetrics : public StationServices {
 public:
  // The services the options ask for, or null when they ask for none. Sets exitCode to
  // kExitListen, after saying why, when the metrics cannot be served.
  static std::unique_ptr<StationServices> Make(const CtlOptions& options,
                                               platform::WindowHandle utility,
                                               ControllerHost::Report report, int& exitCode);

  void OnEvent(const StationEvent& event) override;
  void OnAudio(const link::AudioBlockHeader& header, std::span<const uint8_t> samples) override;

 private:
  explicit RunnersAndMetrics(platform::WindowHandle utility) : utility_(utility) {}

  platform::WindowHandle utility_;
  std::unique_ptr<StationMonitor> monitor_;
  std::unique_ptr<MetricsServer> server_;  // after the monitor: stops serving it first
  std::array<std::unique_ptr<ActionRunner>, 4> runners_;  // by EventKind
};

}  // namespace calvora::ctl
