#include "RunnersAndMetrics.h"

namespace calvora::ctl {

std::unique_ptr<StationServices> RunnersAndMetrics::Make(const CtlOptions& options,
                                                         platform::WindowHandle utility,
                                                         ControllerHost::Report report,
                                                         int& exitCode) {
  auto commands = EventCommands::Make(options, utility, report);
  if (!options.listen)
    return commands;
  std::unique_ptr<RunnersAndMetrics> services(new RunnersAndMetrics());
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
  services->commands_ = std::move(commands);
  return services;
}

void RunnersAndMetrics::OnEvent(const StationEvent& event) {
  monitor_->OnEvent(event);
  if (commands_)
    commands_->OnEvent(event);
}

void RunnersAndMetrics::OnAudio(const link::AudioBlockHeader& header,
                                std::span<const uint8_t> samples) {
  monitor_->OnAudio(header.SampleRate, header.Channels, header.LeftLevel, header.RightLevel,
                    samples);
}

}  // namespace calvora::ctl
