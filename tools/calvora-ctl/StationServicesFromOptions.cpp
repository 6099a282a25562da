#include "StationServicesFromOptions.h"

#include <cstring>

#include "cli/SystemCapabilities.h"
#include "monitor/DetectionTimes.h"
#include "system/HostName.h"
#include "system/Utf8Path.h"

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
  // The programme as Ogg Opus where this build has it; elsewhere /listen is not served.
  if (ThisSystem().oggOpus) {
    services->listen_ = std::make_unique<ListenFeed>(options.listenBitrate);
    if (options.clipsFolder) {
      const ClipBounds bounds{options.clipsMaxMb * 1024 * 1024, options.clipsDays};
      services->clips_ = std::make_unique<ClipKeeper>(
          ClipFolder(PathFromUtf8(*options.clipsFolder), bounds), options.listenBitrate, report,
          DetectionTimesOf(options.checks));
    }
    services->server_->ServeAudio(*services->listen_, services->clips_.get(),
                                  static_cast<std::size_t>(options.listenMax));
  }
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
  report("serving " + base + "/metrics and /status, the live page at " + base + "/" +
         (services->listen_ ? ", the programme at " + base + "/listen" : ""));
  if (options.clipsFolder)
    report("keeping the sound of each event under " + *options.clipsFolder);
  return services;
}

StationServicesFromOptions::~StationServicesFromOptions() {
  server_.reset();  // no request reaches the feed or the clips any more
}

void StationServicesFromOptions::Prepare(StationEvent& event) {
  if (!clips_)
    return;
  // An event with no programme to keep has no clip, and names none.
  const std::string clip = clips_->OnEvent(event);
  if (!clip.empty())
    event.clip = Utf8FromPath((clips_->Folder().Root() / PathFromUtf8(clip)).make_preferred());
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

void StationServicesFromOptions::OnUtility(platform::WindowHandle utility) {
  if (commands_)
    commands_->OnUtility(utility);
  if (utility == 0) {
    // The audio of the next utility is no continuation of this one's.
    analyser_->Reset();
    WriteDueClips();
  }
  if (monitor_)
    monitor_->OnUtility(utility != 0);
}

void StationServicesFromOptions::OnVerdict(std::optional<bool> silent) {
  if (monitor_)
    monitor_->OnVerdict(silent);
}

void StationServicesFromOptions::WriteDueClips() {
  // The utility's audio has ended: the clips due are written with what there is rather than
  // wait for audio that will not come.
  if (clips_)
    clips_->WriteDueNow();
}

std::vector<StationEvent> StationServicesFromOptions::OnAudio(const link::AudioBlockHeader& header,
                                                              std::span<const uint8_t> samples) {
  auto events = analyser_->OnBlock(header.SampleRate, header.Channels, samples);
  if (monitor_) {
    monitor_->OnAudio(header.SampleRate, header.LeftLevel, header.RightLevel);
    monitor_->OnReadings(analyser_->Readings());
  }
  const bool listened = listen_ && listen_->Listeners() > 0;
  if (header.BitsPerSample == 16 && header.Channels > 0 && (clips_ || listened)) {
    samples_.resize(samples.size() / 2);
    std::memcpy(samples_.data(), samples.data(), samples_.size() * 2);
    if (clips_)
      clips_->OnAudio(header.SampleRate, header.Channels, samples_);
    if (listened)
      listen_->OnAudio(header.SampleRate, header.Channels, samples_);
  }
  return events;
}

}  // namespace calvora::ctl
