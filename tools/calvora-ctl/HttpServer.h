#pragma once
// A small HTTP/1.1 server for the metrics, the status and the live page: one thread, every
// connection non-blocking and watched with poll(), so no connection ever waits for another.
// A connection that sends nothing, or only part of a request, is closed after a short time;
// an event stream stays open and receives what is broadcast; a client that stops reading
// its stream is dropped once its unsent bytes pile up or stop moving, without holding up the
// others. Only GET and HEAD are answered; the answers are small and made on the server's
// thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ListenAddress.h"

namespace calvora::ctl {

struct HttpLimits {
  // A connection with no request under way, or one whose request has not come whole, is
  // closed after this long.
  std::chrono::milliseconds idle{5000};
  // A client whose unsent bytes have not moved for this long is dropped.
  std::chrono::milliseconds stalled{10000};
  // A client with more unsent bytes than this is dropped.
  std::size_t maxUnsent = 256 * 1024;
  std::size_t maxConnections = 512;
  std::size_t maxRequestBytes = 8192;
};

// Which client certificates a TLS server asks for, and which it verifies against its CA.
enum class ClientCertificates { None, Request, RequireAny, VerifyIfGiven, RequireAndVerify };

// TLS and basic authentication of a server.
struct HttpSecurity {
  std::string certPem, keyPem;  // both empty: plain HTTP
  std::string clientCaPem;
  ClientCertificates clientCertificates = ClientCertificates::None;
  std::function<bool(const std::string& user, const std::string& password)> checkPassword;
  std::string realm = "calvora-ctl";
};

struct HttpResponse {
  int status = 200;
  std::string type = "text/plain; charset=utf-8";
  std::string body;
};

class HttpServer {
 public:
  using Handler = std::function<HttpResponse()>;
  using StreamStart = std::function<std::string()>;  // the first bytes of a new stream

  explicit HttpServer(HttpLimits limits = {});
  ~HttpServer();  // stops serving and closes every connection
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Routes, set before Start: an answer for a path, or an event stream (text/event-stream).
  void Get(const std::string& path, Handler handler);
  void Stream(const std::string& path, StreamStart start);
  // Runs on the server's thread every `period` while serving (the live page's meter).
  void Every(std::chrono::milliseconds period, std::function<void()> tick);

  // Binds and starts serving; the port bound (the chosen one for port 0), or -1.
  int Start(const ListenAddress& address);

  // Appends the text to every open stream. From any thread; never waits for a client.
  void Broadcast(std::string text);

  // What is open now, and how many clients were dropped for not reading.
  std::size_t Connections() const { return connections_.load(); }
  std::size_t Streams() const { return streams_.load(); }
  uint64_t DroppedSlowClients() const { return dropped_.load(); }

 private:
  struct Connection;
  using Clock = std::chrono::steady_clock;

  void Serve();
  void Accept(Clock::time_point now);
  void Read(Connection& c, Clock::time_point now);
  void HandleRequests(Connection& c);
  void Answer(Connection& c, const std::string& method, const std::string& target, bool keepAlive);
  void Write(Connection& c, Clock::time_point now);
  void Append(Connection& c, const std::string& text);
  void DeliverBroadcasts(Clock::time_point now);
  void Wake();

  HttpLimits limits_;
  std::map<std::string, Handler> handlers_;
  std::map<std::string, StreamStart> streamsAt_;
  std::chrono::milliseconds tickPeriod_{0};
  std::function<void()> tick_;

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  std::vector<std::unique_ptr<Connection>> open_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;

  std::mutex broadcastMutex_;
  std::vector<std::string> pendingBroadcasts_;

  std::atomic<std::size_t> connections_{0};
  std::atomic<std::size_t> streams_{0};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace calvora::ctl
