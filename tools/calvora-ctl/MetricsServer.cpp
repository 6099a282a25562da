#include "MetricsServer.h"

#include <httplib.h>

namespace calvora::ctl {

MetricsServer::MetricsServer(StationMonitor& monitor)
    : monitor_(monitor), server_(std::make_unique<httplib::Server>()) {
  // Scrapes are rare and quick: two threads answer them.
  server_->new_task_queue = [] { return new httplib::ThreadPool(2); };
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(monitor_.Metrics(), "text/plain; version=0.0.4; charset=utf-8");
  });
  server_->Get("/status", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(monitor_.Status(), "application/json");
  });
  server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("calvora-ctl: /metrics (Prometheus) and /status (JSON)\n", "text/plain");
  });
}

MetricsServer::~MetricsServer() {
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

int MetricsServer::Start(const ListenAddress& address) {
  int port = address.port;
  if (port == 0)
    port = server_->bind_to_any_port(address.host);
  else if (!server_->bind_to_port(address.host, port))
    port = -1;
  if (port < 0)
    return -1;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return port;
}

}  // namespace calvora::ctl
