#pragma once
// The HTTP side of calvora-ctl: /metrics in the Prometheus text format, /status as JSON, and
// the live page at / with its event stream /events (Server-Sent Events), all served from a
// thread of its own so that a slow client never delays the bus handler.
//
// The stream sends "hello" (the state and the last events) on opening, "live" (the state and
// the readings) five times a second, and "station" for each event as it happens.
#include <memory>

#include "HttpServer.h"
#include "cli/ListenAddress.h"
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
  // Tells the open streams of the event at once. Never waits.
  void OnEvent(const StationEvent& event);

  const HttpServer& Http() const { return server_; }

 private:
  // The server's own figures: connections and streams open, clients dropped.
  std::string ServerMetrics() const;

  StationMonitor& monitor_;
  const std::string station_;  // the station label's value
  HttpServer server_;
};

}  // namespace calvora::ctl
