#pragma once
// The station services of watch, auto and serve on Linux: the station's commands on events
// (--on-silence and its kin), and the metrics and status served over HTTP (--listen).
#include <memory>

#include "Controller.h"
#include "EventCommands.h"
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
  RunnersAndMetrics() = default;

  std::unique_ptr<StationMonitor> monitor_;
  std::unique_ptr<MetricsServer> server_;    // after the monitor: stops serving it first
  std::unique_ptr<EventCommands> commands_;  // ends first, waiting a little for the commands
};

}  // namespace calvora::ctl
