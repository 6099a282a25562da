#pragma once
// The HTTP side of calvora-ctl: /metrics in the Prometheus text format and /status as JSON,
// served from threads of their own so that a slow scraper never delays the bus handler.
#include <memory>
#include <thread>

#include "ListenAddress.h"
#include "StationMonitor.h"

namespace httplib {
class Server;
}

namespace calvora::ctl {

class MetricsServer {
 public:
  explicit MetricsServer(StationMonitor& monitor);
  ~MetricsServer();  // stops serving
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds and starts serving; the port bound (the chosen one for port 0), or -1.
  int Start(const ListenAddress& address);

 private:
  StationMonitor& monitor_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};

}  // namespace calvora::ctl
