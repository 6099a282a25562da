// The server of calvora-ctl serve: many event streams and idle connections never take a
// scrape's place, idle connections are closed, a client that stops reading is dropped, and
// requests are answered as HTTP/1.1 says.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "HttpServer.h"
#include "MetricsServer.h"
#include "StationMonitor.h"

namespace calvora::ctl {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A client socket on the loopback.
class Client {
 public:
  explicit Client(int port, int receiveBuffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { ::close(fd_); }
  bool Connected() const { return connected_; }
  void Send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  // What arrives until `until` is in it, the peer closes, or the time is up.
  std::string ReadUntil(const std::string& until, milliseconds timeout = milliseconds(3000)) {
    const auto deadline = Clock::now() + timeout;
    while (received_.find(until) == std::string::npos && !closed_ && Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      if (::poll(&p, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0)
        break;
      char buffer[65536];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0)
        closed_ = true;
      else
        received_.append(buffer, static_cast<std::size_t>(n));
    }
    return received_;
  }
  bool Closed() const { return closed_; }
  void Forget() { received_.clear(); }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

// One GET on a new connection; the time to the whole answer.
std::pair<std::string, double> TimedGet(int port, const std::string& path) {
  const auto start = Clock::now();
  Client client(port);
  client.Send("GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  std::string answer = client.ReadUntil("\x01never", milliseconds(5000));
  return {answer, std::chrono::duration<double, std::milli>(Clock::now() - start).count()};
}

TEST(HttpServer, ScrapesAnswerWhileManyStreamsAndIdleConnectionsAreOpen) {
  StationMonitor monitor;
  MetricsServer server(monitor);
  const int port = server.Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  std::vector<std::unique_ptr<Client>> streams, idle;
  for (int i = 0; i < 50; ++i) {
    streams.push_back(std::make_unique<Client>(port));
    streams.back()->Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  for (int i = 0; i < 20; ++i)
    idle.push_back(std::make_unique<Client>(port));
  for (auto& s : streams)
    ASSERT_NE(s->ReadUntil("event: hello").find("event: hello"), std::string::npos);

  double slowest = 0;
  for (int round = 0; round < 5; ++round) {
    for (const char* path : {"/metrics", "/"}) {
      const auto [answer, ms] = TimedGet(port, path);
      ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << path << ": " << answer;
      slowest = std::max(slowest, ms);
    }
  }
  RecordProperty("slowest_ms", std::to_string(slowest));
  std::printf("slowest of 10 answers with 50 streams and 20 idle connections: %.1f ms\n", slowest);
  // The figure against its goal of 100 ms is the benchmark's; here, an answer that waited
  // for an idle connection to be closed (5 s) fails.
  EXPECT_LT(slowest, 1000);
  EXPECT_EQ(server.Http().Streams(), 50u);
  // Every stream hears the live state.
  for (auto& s : streams)
    EXPECT_NE(s->ReadUntil("event: live").find("event: live"), std::string::npos);
}

TEST(HttpServer, IdleAndUnfinishedRequestsAreClosed) {
  HttpLimits limits;
  limits.idle = milliseconds(300);
  HttpServer server(limits);
  server.Get("/", [] { return HttpResponse{200, "text/plain", "hi"}; });
  const int port = server.Start({"127.0.0.1", 0});
  Client silent(port), trickle(port), kept(port);
  kept.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_NE(kept.ReadUntil("hi").find("Connection: keep-alive"), std::string::npos);
  // A request sent a byte at a time never finishes: the time counts from its start.
  const auto start = Clock::now();
  for (int i = 0; i < 8 && !trickle.Closed(); ++i) {
    trickle.Send("G");
    trickle.ReadUntil("\x01never", milliseconds(100));
  }
  silent.ReadUntil("\x01never", milliseconds(2000));
  kept.ReadUntil("\x01never", milliseconds(2000));
  EXPECT_TRUE(silent.Closed());
  EXPECT_TRUE(trickle.Closed());
  EXPECT_TRUE(kept.Closed());  // after its answer, the same time to the next request
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 3.0);
  EXPECT_EQ(server.Connections(), 0u);
}

TEST(HttpServer, AClientThatStopsReadingIsDroppedAndTheOthersGoOn) {
  HttpLimits limits;
  limits.maxUnsent = 64 * 1024;
  HttpServer server(limits);
  server.Stream("/events", [] { return std::string("event: hello\ndata: {}\n\n"); });
  server.Get("/metrics", [] { return HttpResponse{200, "text/plain", "m 1\n"}; });
  const int port = server.Start({"127.0.0.1", 0});
  Client stuck(port, 4096), reader(port);
  stuck.Send("GET /events HTTP/1.1\r\n\r\n");
  reader.Send("GET /events HTTP/1.1\r\n\r\n");
  ASSERT_NE(stuck.ReadUntil("hello").find("hello"), std::string::npos);
  ASSERT_NE(reader.ReadUntil("hello").find("hello"), std::string::npos);
  const std::string chunk = "data: " + std::string(16 * 1024, 'x') + "\n\n";
  // The stuck client reads nothing more; the reader takes every message.
  for (int i = 0; i < 400 && server.DroppedSlowClients() == 0; ++i) {
    server.Broadcast(chunk);
    reader.Forget();
    ASSERT_NE(reader.ReadUntil(chunk).find(chunk), std::string::npos) << i;
  }
  EXPECT_EQ(server.DroppedSlowClients(), 1u);
  server.Broadcast("event: last\ndata: 1\n\n");
  EXPECT_NE(reader.ReadUntil("event: last").find("event: last"), std::string::npos);
  const auto [answer, ms] = TimedGet(port, "/metrics");
  EXPECT_NE(answer.find("m 1"), std::string::npos);
  EXPECT_EQ(server.Streams(), 1u);
}

TEST(HttpServer, AnswersAsHttpSays) {
  HttpServer server;
  server.Get("/a", [] { return HttpResponse{200, "text/plain", "alpha"}; });
  const int port = server.Start({"127.0.0.1", 0});
  struct Case {
    std::string request;
    std::string starts;
    std::string contains;
    bool closes;
  };
  for (const Case& c : std::vector<Case>{
           {"GET /a?x=1 HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "\r\n\r\nalpha", false},
           {"HEAD /a HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "Content-Length: 5\r\n", false},
           {"GET /b HTTP/1.1\r\n\r\n", "HTTP/1.1 404", "not found: /b", false},
           {"GET /a HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", "Connection: close", true},
           {"GET /a HTTP/1.1\r\nconnection: Close\r\n\r\n", "HTTP/1.1 200", "alpha", true},
           {"POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", "HTTP/1.1 405", "GET", true},
           {"nonsense\r\n\r\n", "HTTP/1.1 400", "", true},
           {"GET /" + std::string(9000, 'a'), "HTTP/1.1 431", "", true}}) {
    Client client(port);
    client.Send(c.request);
    const std::string answer = client.ReadUntil("\x01never", milliseconds(c.closes ? 3000 : 300));
    EXPECT_EQ(answer.rfind(c.starts, 0), 0u) << c.request << " -> " << answer;
    EXPECT_NE(answer.find(c.contains), std::string::npos) << c.request;
    EXPECT_EQ(client.Closed(), c.closes) << c.request;
    if (c.request.rfind("HEAD", 0) == 0) {
      EXPECT_EQ(answer.find("alpha"), std::string::npos);
    }
  }
  // Two requests at once on one connection: both answered, in order.
  Client pipelined(port);
  pipelined.Send("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n");
  const std::string both = pipelined.ReadUntil("not found: /b");
  EXPECT_LT(both.find("alpha"), both.find("not found: /b"));
}

TEST(HttpServer, BusyPortIsRefused) {
  HttpServer first;
  const int port = first.Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  HttpServer second;
  EXPECT_EQ(second.Start({"127.0.0.1", port}), -1);
  HttpServer v6;
  EXPECT_GT(v6.Start({"::1", 0}), 0);
}

}  // namespace
}  // namespace calvora::ctl
