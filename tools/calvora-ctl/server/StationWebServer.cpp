#include "StationWebServer.h"

#include "ExpositionWriter.h"
#include "LiveJson.h"
#include "LivePage.h"
#include "MetricsExposition.h"
#include "StatusJson.h"

namespace calvora::ctl {

namespace {

std::string StreamMessage(const char* name, const std::string& json) {
  return std::string("event: ") + name + "\ndata: " + json + "\n\n";
}

}  // namespace

StationWebServer::StationWebServer(StationMonitor& monitor, HttpLimits limits,
                                   HttpSecurity security)
    : monitor_(monitor),
      station_(monitor.Snapshot().station),
      server_(limits, std::move(security)) {
  server_.Get("/metrics", [this] {
    return HttpResponse{200, "text/plain; version=0.0.4; charset=utf-8",
                        MetricsExposition(monitor_.Snapshot()) + ServerMetrics()};
  });
  server_.Get("/status", [this] {
    return HttpResponse{200, "application/json", StatusJson(monitor_.Snapshot())};
  });
  server_.Get("/", [this] {
    return HttpResponse{200, "text/html; charset=utf-8",
                        LivePageHtml(LivePageState(monitor_.Snapshot()))};
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
    return "retry: 2000\n\n" + StreamMessage("hello", LivePageState(monitor_.Snapshot()));
  });
  server_.Every(kLivePeriod, [this] {
    if (server_.Streams() > 0)
      server_.Broadcast(StreamMessage("live", LiveJson(monitor_.Snapshot())));
  });
}

StationWebServer::~StationWebServer() = default;

std::string StationWebServer::ServerMetrics() const {
  ExpositionWriter out(station_);
  out.Add("calvora_http_connections", "gauge", "Connections open to this server.",
          {static_cast<double>(server_.Connections())});
  out.Add("calvora_http_streams", "gauge", "Event streams of the live page open.",
          {static_cast<double>(server_.Streams())});
  out.Add("calvora_http_dropped_slow_clients_total", "counter", "Clients dropped for not reading.",
          {static_cast<double>(server_.DroppedSlowClients())});
  return out.Text();
}

int StationWebServer::Start(const ListenAddress& address) {
  return server_.Start(address);
}

void StationWebServer::OnEvent(const StationEvent& event) {
  if (server_.Streams() == 0)
    return;
  server_.Broadcast(StreamMessage("station", EventJson(event)) +
                    StreamMessage("live", LiveJson(monitor_.Snapshot())));
}

}  // namespace calvora::ctl
