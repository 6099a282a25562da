#include "RunnersAndMetrics.h"

#include <unistd.h>

#include <climits>

namespace calvora::ctl {

namespace {

// The station's name when --station is not given: this machine's host name, as a station
// group's hosts are usually named after their studios.
std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
    return "localhost";
  return name;
}

}  // namespace

std::unique_ptr<StationServices> RunnersAndMetrics::Make(const CtlOptions& options,
                                                         platform::WindowHandle utility,
                                                         ControllerHost::Report report,
                                                         int& exitCode) {
  auto commands = EventCommands::Make(options, utility, report);
  if (!options.listen)
    return commands;
  std::unique_ptr<RunnersAndMetrics> services(new RunnersAndMetrics());
  services->monitor_ = std::make_unique<StationMonitor>(options.station.value_or(HostName()));
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
