#include "StationServicesFromOptions.h"

#include "HostName.h"

namespace calvora::ctl {

std::unique_ptr<StationServices> StationServicesFromOptions::Make(const CtlOptions& options,
                                                                  const HttpSecurity& security,
                                                                  platform::WindowHandle utility,
                                                                  ControllerHost::Report report,
                                                                  int& exitCode) {
  auto commands = EventCommands::Make(options.actions, utility, report);
  if (!options.listen && !options.checks.Any())
    return commands;
  std::unique_ptr<StationServicesFromOptions> services(
      new StationServicesFromOptions(options.checks));
  services->analyser_ = std::make_unique<AudioAnalyser>(services->checks_);
  services->commands_ = std::move(commands);
  if (!options.listen)
    return services;
  services->monitor_ = std::make_unique<StationMonitor>(options.station.value_or(HostName()));
  services->server_ =
      std::make_unique<StationWebServer>(*services->monitor_, HttpLimits{}, security);
  const int port = services->server_->Start(*options.listen);
  if (port < 0) {
    Fail("cannot listen on " + options.listen->host + ":" + std::to_string(options.listen->port) +
         " (" + services->server_->Http().Error() + ")");
    exitCode = kExitListen;
    return nullptr;
  }
  const std::string& host = options.listen->host;
  const bool v6 = host.find(':') != std::string::npos;
  const std::string scheme = security.certPem.empty() ? "http://" : "https://";
  const std::string base = scheme + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
  report("serving " + base + "/metrics and /status, the live page at " + base + "/");
  return services;
}

void StationServicesFromOptions::OnEvent(const StationEvent& event) {
  if (event.kind == EventKind::kOffline && event.device == Device::kCard)
    analyser_->Reset();
  if (monitor_) {
    monitor_->OnEvent(event);
    server_->OnEvent(event);
  }
  if (commands_)
    commands_->OnEvent(event);
}

std::vector<StationEvent> StationServicesFromOptions::OnAudio(const link::AudioBlockHeader& header,
                                                              std::span<const uint8_t> samples) {
  auto events = analyser_->OnBlock(header.SampleRate, header.Channels, samples);
  if (monitor_) {
    monitor_->OnAudio(header.SampleRate, header.LeftLevel, header.RightLevel);
    monitor_->OnReadings(analyser_->Readings());
  }
  return events;
}

}  // namespace calvora::ctl
