#include "RunnersAndMetrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace calvora::ctl {

namespace {

std::string LevelText(double db) {
  if (!std::isfinite(db))
    return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", db);
  return text;
}

}  // namespace

std::unique_ptr<StationServices> RunnersAndMetrics::Make(const CtlOptions& options,
                                                         platform::WindowHandle utility,
                                                         ControllerHost::Report report,
                                                         int& exitCode) {
  const bool anyAction = std::any_of(options.actions.begin(), options.actions.end(),
                                     [](const auto& argv) { return !argv.empty(); });
  if (!options.listen && !anyAction)
    return nullptr;
  std::unique_ptr<RunnersAndMetrics> services(new RunnersAndMetrics(utility));
  if (options.listen) {
    services->monitor_ = std::make_unique<StationMonitor>();
    services->server_ = std::make_unique<MetricsServer>(*services->monitor_);
    const int port = services->server_->Start(*options.listen);
    if (port < 0) {
      Fail("cannot listen on " + options.listen->host + ":" + std::to_string(options.listen->port) +
           " (in use, or not an address of this host)");
      exitCode = kExitListen;
      return nullptr;
    }
    const std::string& host = options.listen->host;
    const bool v6 = host.find(':') != std::string::npos;
    report("serving http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) +
           "/metrics and /status");
  }
  for (std::size_t i = 0; i < services->runners_.size(); ++i) {
    if (!options.actions[i].empty()) {
      services->runners_[i] = std::make_unique<ActionRunner>(
          ActionOption(static_cast<EventKind>(i)).substr(2), options.actions[i], report);
    }
  }
  return services;
}

void RunnersAndMetrics::OnEvent(const StationEvent& event) {
  if (monitor_)
    monitor_->OnEvent(event);
  if (auto& runner = runners_[static_cast<std::size_t>(event.kind)]) {
    runner->Trigger({std::string("CALVORA_EVENT=") + EventName(event.kind),
                     std::string("CALVORA_DEVICE=") + DeviceName(event.device),
                     "CALVORA_TIME=" + event.time, "CALVORA_LEFT_DB=" + LevelText(event.left),
                     "CALVORA_RIGHT_DB=" + LevelText(event.right),
                     "CALVORA_HANDLE=" + std::to_string(utility_)});
  }
}

void RunnersAndMetrics::OnAudio(const link::AudioBlockHeader& header,
                                std::span<const uint8_t> samples) {
  if (monitor_) {
    monitor_->OnAudio(header.SampleRate, header.Channels, header.LeftLevel, header.RightLevel,
                      samples);
  }
}

}  // namespace calvora::ctl
