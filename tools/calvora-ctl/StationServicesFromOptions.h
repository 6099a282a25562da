#pragma once
// The station services that the options of watch, auto and serve ask for, on both systems: the
// checks of the received audio, the station's commands on events (--on-silence and its kin), and
// the metrics, the status and the live page served over HTTP (--listen).
#include <memory>

#include "actions/EventCommands.h"
#include "audio/ClipKeeper.h"
#include "audio/ListenFeed.h"
#include "monitor/AudioAnalyser.h"
#include "monitor/StationMonitor.h"
#include "peer/Controller.h"
#include "server/StationWebServer.h"

namespace calvora::ctl {

class StationServicesFromOptions : public StationServices {
 public:
  // The services the options ask for, or null when they ask for none; the metrics are served
  // with `security` (TLS and passwords, or none). Sets exitCode to kExitListen, after saying
  // why, when the metrics cannot be served.
  static std::unique_ptr<StationServices> Make(const CtlOptions& options,
                                               const HttpSecurity& security,
                                               platform::WindowHandle utility,
                                               ControllerHost::Report report, int& exitCode);

  ~StationServicesFromOptions() override;
  void Prepare(StationEvent& event) override;
  void OnEvent(const StationEvent& event) override;
  std::vector<StationEvent> OnAudio(const link::AudioBlockHeader& header,
                                    std::span<const uint8_t> samples) override;
  void OnUtility(platform::WindowHandle utility) override;
  void OnVerdict(std::optional<bool> silent) override;

 private:
  explicit StationServicesFromOptions(const CheckSettings& checks) : checks_(checks) {}
  // Writes every clip that is due now, with the audio there is: nothing more comes for them
  // once the utility has gone.
  void WriteDueClips();

  CheckSettings checks_;
  std::unique_ptr<AudioAnalyser> analyser_;  // with the checks or the metrics
  std::unique_ptr<StationMonitor> monitor_;
  std::unique_ptr<ListenFeed> listen_;        // with the server
  std::unique_ptr<ClipKeeper> clips_;         // --clips
  std::unique_ptr<StationWebServer> server_;  // after what it serves: stops serving them first
  std::vector<int16_t> samples_;              // the block's samples, aligned
  std::unique_ptr<EventCommands> commands_;   // ends first, waiting a little for the commands
};

}  // namespace calvora::ctl
