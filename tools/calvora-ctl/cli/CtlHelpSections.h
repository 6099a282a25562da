#pragma once
// The sections of calvora-ctl --help that read the same on every system: listening in and the
// clips of events, the checks of the received audio with the lines watch prints, and the
// metrics serve writes. Each system's text puts them in its place.

namespace calvora::ctl {

inline constexpr const char* kListeningAndClipsHelp =
    R"(  --listen-bitrate B The programme at /listen, Ogg Opus at B bits per second
                     (default 64000, stereo), encoded only while someone
                     listens; the live page's Listen button plays it.
  --listen-max N     At most N listeners at once (default 16); one more is
                     answered 503 with Retry-After.
  --clips DIR        Keep the programme around each event, from its detection
                     time and 10 s before it to 10 s after it, as
                     DIR/YYYY-MM-DD/HH-MM-SS.mmm-EVENT.opus, written 10 s after
                     the event (or when serve ends); the log line (clip=) and
                     the command (CALVORA_CLIP) name it, the page plays it.
  --clips-max-mb MB  Keep the clips under MB megabytes (500) and
  --clips-days DAYS  DAYS days old (30), removing the oldest first.

)";

inline constexpr const char* kChecksAndLinesHelp =
    R"(Checks of the received audio (watch, auto, serve), each an event when it starts
and when it ends, printed as a line "EVENT name [channel] value" by watch and
auto. Times are seconds of audio; faults end after --back-for S (default 2).
  --checks LIST      all (default), none, or some of channel,phase,clipping,
                     loudness.
  --channel-level DB --channel-for S
                     channel-lost: one channel's level (half its peak-to-peak,
                     so a stuck or DC signal reads as none) below DB (default
                     -38) for S seconds (default 10) while the other is above;
                     channel-back once both play (value: the level).
  --phase-limit R --phase-for S
                     phase-reversed: the correlation over 400 ms below R
                     (default -0.5) for S seconds (default 5) while both
                     channels carry sound (value: the correlation).
  --clip-length N --clip-runs N --clip-window S
                     clipping: more than --clip-runs (default 10) runs of
                     --clip-length (default 3) samples at full scale within S
                     seconds (default 10); clipping-end after S seconds
                     without one (value: the runs in the window).
  --loudness-target LUFS --loudness-margin LU --loudness-for S
                     loudness-off: the short-term loudness more than LU
                     (default 10) from LUFS (default -23) for S seconds
                     (default 60); loudness-ok once within (value: the LUFS).

Lines printed by watch and auto:
  14:03:07.250 NTF_SILENCE 0
  14:03:07.251 sent CMD_MUTE 0
  14:03:07.260 AUDIO rate=48000 channels=2 bits=16 left=-41.20 right=-40.87 bytes=1920
With --json:
  {"time":"2026-12-07T14:03:07.250+01:00","from":12,"code":"NTF_SILENCE","argument":0}
  {"time":"2026-12-07T14:03:07.260+01:00","from":12,"code":"AUDIO","kind":0,
   "size":1942,"rate":48000,"channels":2,"bits":16,"left":-41.2,"right":-40.87,
   "bytes":1920}
Codes: NTF_SILENCE (0x400), NTF_SOUND (0x401), NTF_OFFLINE and NTF_ONLINE
(0x1000, 0x1001; argument 0 the sound card, 1 the mixer), WINMSG_CONTROL (0x7FFF,
argument 2 a goodbye); others are printed in hex. The commands sent are printed
too: "sent CMD_VERDICT 0 verdict=silence" is the question for the verdict (code
4) with its answer (sound, silence, not started, no capture, no detection or
unknown).

)";

inline constexpr const char* kMetricsHelp =
    R"(Metrics: calvora_utility_up, calvora_silence (NaN while not known),
calvora_last_verdict_timestamp_seconds,
calvora_level_dbfs{channel}, calvora_device_online{device},
calvora_device_offline{device}, calvora_audio_blocks_total,
calvora_last_audio_block_timestamp_seconds, calvora_loudness_momentary_lufs,
calvora_loudness_short_term_lufs, calvora_loudness_integrated_lufs (EBU R128
of the received audio), calvora_true_peak_dbtp{channel} (last 3 s),
calvora_true_peak_max_dbtp{channel}, calvora_phase_correlation,
calvora_phase_reversed, calvora_channel_lost{channel},
calvora_clipping_runs_total{channel}, calvora_clipping,
calvora_loudness_off_target, calvora_dc_offset_ratio{channel},
calvora_events_total{event} (silences and returns of sound too),
calvora_http_connections, calvora_http_streams,
calvora_http_dropped_slow_clients_total, calvora_listeners (of /listen),
calvora_listen_blocks_dropped_total (left out of /listen, its encoder behind),
and with --clips calvora_clips_written_total, calvora_clips_failed_total and
calvora_clips_bytes (the folder's clips after the last pruning); each with the
label station. The page at / shows the station live.

)";

}  // namespace calvora::ctl
