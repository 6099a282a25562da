#include "MetricsServer.h"

#include "LivePage.h"

namespace calvora::ctl {

namespace {

std::string StreamMessage(const char* name, const std::string& json) {
  return std::string("event: ") + name + "\ndata: " + json + "\n\n";
}

}  // namespace

MetricsServer::MetricsServer(StationMonitor& monitor, HttpLimits limits, HttpSecurity security)
    : monitor_(monitor), server_(limits, std::move(security)) {
  server_.Get("/metrics", [this] {
    return HttpResponse{200, "text/plain; version=0.0.4; charset=utf-8",
                        monitor_.Metrics() + ServerMetrics()};
  });
  server_.Get("/status", [this] {
    return HttpResponse{200, "application/json", monitor_.Status()};
  });
  server_.Get("/", [this] {
    return HttpResponse{200, "text/html; charset=utf-8", LivePageHtml(LivePageState(monitor_))};
  });
  server_.Get("/live.js", [] {
    return HttpResponse{200, "text/javascript; charset=utf-8", LivePageScript()};
  });
  server_.Get("/live.css", [] {
    return HttpResponse{200, "text/css; charset=utf-8", LivePageStyle()};
  });
  server_.Get("/favicon.ico", [] { return HttpResponse{204, "image/x-icon", ""}; });
  server_.Stream("/events", [this] {
    // A browser that loses the stream asks again after 2 s.
    return "retry: 2000\n\n" + StreamMessage("hello", LivePageState(monitor_));
  });
  server_.Every(kLivePeriod, [this] {
    if (server_.Streams() > 0)
      server_.Broadcast(StreamMessage("live", monitor_.LiveJson()));
  });
}

MetricsServer::~MetricsServer() = default;

std::string MetricsServer::ServerMetrics() const {
  const auto number = [](uint64_t n) { return std::to_string(n); };
  return monitor_.Labelled(
      "# HELP calvora_http_connections Connections open to this server.\n"
      "# TYPE calvora_http_connections gauge\n"
      "calvora_http_connections " +
      number(server_.Connections()) + "\n" +
      "# HELP calvora_http_streams Event streams of the live page open.\n"
      "# TYPE calvora_http_streams gauge\n"
      "calvora_http_streams " +
      number(server_.Streams()) + "\n" +
      "# HELP calvora_http_dropped_slow_clients_total Clients dropped for not reading.\n"
      "# TYPE calvora_http_dropped_slow_clients_total counter\n"
      "calvora_http_dropped_slow_clients_total " +
      number(server_.DroppedSlowClients()) + "\n");
}

int MetricsServer::Start(const ListenAddress& address) {
  return server_.Start(address);
}

void MetricsServer::OnEvent(const StationEvent& event) {
  if (server_.Streams() == 0)
    return;
  server_.Broadcast(StreamMessage("station", StationMonitor::EventJson(event)) +
                    StreamMessage("live", monitor_.LiveJson()));
}

}  // namespace calvora::ctl
