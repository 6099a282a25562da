#pragma once
// The HTTP side of calvora-ctl: /metrics in the Prometheus text format, /status as JSON, and
// the live page at / with its event stream /events (Server-Sent Events), all served from a
// thread of its own so that a slow client never delays the bus handler.
//
// The stream sends "hello" (the state and the last events) on opening, "live" (the state and
// the readings) five times a second, and "station" for each event as it happens.
//
// With the audio served, /listen streams the programme as Ogg Opus to each listener (up to a
// maximum; one more is told to come back later), and
// /clips/DAY/FILE serves the clips of events (only names of clips, only from their folder).
#include <memory>

#include "audio/ClipKeeper.h"
#include "audio/ListenFeed.h"
#include "http/HttpServer.h"
#include "http/ListenAddress.h"
#include "monitor/StationMonitor.h"

namespace calvora::ctl {

class StationWebServer {
 public:
  static constexpr std::chrono::milliseconds kLivePeriod{200};

  explicit StationWebServer(StationMonitor& monitor, HttpLimits limits = {},
                            HttpSecurity security = {});
  ~StationWebServer();  // stops serving

  // Binds and starts serving; the port bound (the chosen one for port 0), or -1 with
  // Http().Error() saying why.
  int Start(const ListenAddress& address);
  static constexpr std::size_t kDefaultMaxListeners = 16;

  // Serves /listen from the feed to at most `maxListeners` at once and, with a keeper, the
  // clips; before Start.
  void ServeAudio(ListenFeed& listen, const ClipKeeper* clips,
                  std::size_t maxListeners = kDefaultMaxListeners);
  // Tells the open streams of the event at once. Never waits.
  void OnEvent(const StationEvent& event);
  // Tells the open streams of trouble that is no station event (clips stopped): `what` as the
  // event's name, `why` in words.
  void OnNotice(const std::string& what, const std::string& why);

  const HttpServer& Http() const { return server_; }

 private:
  // The server's own figures: connections and streams open, clients dropped; listeners and
  // clips.
  std::string ServerMetrics() const;
  HttpResponse Clip(const std::string& name) const;

  ListenFeed* listen_ = nullptr;
  const ClipKeeper* clips_ = nullptr;
  bool clipsStopped_ = false;  // as the page's streams were last told

  StationMonitor& monitor_;
  const std::string station_;  // the station label's value
  HttpServer server_;
};

}  // namespace calvora::ctl
