#pragma once
// The HTTP server of calvora-ctl serve, on libmicrohttpd: its own polling thread answers every
// connection, so no connection ever waits for another. A connection whose request has not come
// whole within a short time is closed (also one that sends a byte at a time); an answer whose
// bytes stop moving is given up; an event stream keeps one bounded buffer of what is broadcast,
// and a client that stops reading its stream is dropped once that buffer fills or stops
// moving, without holding up the others. Only GET and HEAD are answered, and one that announces
// a body is refused at once; the answers are small and made on the server's thread.
//
// Some connections are kept for plain answers (scrapes): streams, fed streams and connections
// whose request has not come whole may hold all but HttpLimits' reserve, in all and per
// address; past it a new stream gets 503, and a new connection closes the oldest that is still
// waiting for its request.
//
// With a certificate it speaks TLS only, and with a password check every request needs basic
// authentication. A password that passed before (HttpSecurity::passedBefore) is let in at
// once; any other is checked on a thread of its own (a bcrypt takes tens of milliseconds)
// while its connection waits suspended, behind a bounded queue: when the queue is full the
// request gets 503, and an address whose wrong passwords reached the limit gets 429 without a
// check, both with Retry-After. Stopping never waits for a check under way.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ListenAddress.h"
#include "system/ServerSocket.h"

struct MHD_Daemon;

namespace calvora::ctl {

struct HttpLimits {
  // A connection with no request under way, or one whose request has not come whole, is
  // closed after this long.
  std::chrono::milliseconds idle{5000};
  // A client that takes none of its answer's bytes for this long is dropped (whole seconds).
  std::chrono::milliseconds stalled{10000};
  // A stream whose client leaves more than this unread is dropped.
  std::size_t maxUnsent = 256 * 1024;
  std::size_t maxConnections = 512;
  std::size_t maxPerAddress = 64;
  // Kept for requests of plain answers: streams, fed streams and connections whose request
  // has not come whole may hold all connections but these, in all and per address.
  std::size_t reservedForAnswers = 64;
  std::size_t reservedPerAddress = 8;
  // Password checks waiting at most (past them a request gets 503), the threads that run them,
  // and the wrong passwords one address may try within a window before it gets 429.
  std::size_t passwordQueue = 16;
  std::size_t passwordThreads = 1;
  std::size_t passwordFailures = 5;
  std::chrono::seconds passwordWindow{60};
  // What one connection may hold of its request (the head) and its answer being written; a
  // larger head is refused.
  std::size_t connectionMemory = 16 * 1024;
};

enum class ClientCertificates { None, Request, RequireAny, VerifyIfGiven, RequireAndVerify };

struct HttpSecurity {
  std::string certPem, keyPem;  // both empty: plain HTTP; otherwise TLS only (MHD_USE_TLS)
  std::string clientCaPem;      // trust for client certificates (MHD_OPTION_HTTPS_MEM_TRUST)
  ClientCertificates clientCertificates = ClientCertificates::None;
  // What TLS may negotiate, as a GnuTLS priority string (MHD_OPTION_HTTPS_PRIORITIES). By
  // default TLS 1.2 and 1.3 only, with ephemeral elliptic-curve key exchange (a recorded
  // session stays secret when the key is stolen later) and AEAD ciphers only.
  std::string tlsPriorities =
      "NORMAL:%SERVER_PRECEDENCE:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-KX-ALL:+ECDHE-ECDSA:"
      "+ECDHE-RSA:-CIPHER-ALL:+AES-256-GCM:+AES-128-GCM:+CHACHA20-POLY1305:-MAC-ALL:+AEAD";
  // Basic authentication when set: true when the user and password match. It may take long
  // (a bcrypt) and runs on the check thread, never on the thread that answers.
  std::function<bool(const std::string& user, const std::string& password)> checkPassword;
  // Optional: true when this user and password passed before, answered at once (it must be
  // quick); false sends the password to checkPassword.
  std::function<bool(const std::string& user, const std::string& password)> passedBefore;
  std::string realm = "calvora-ctl";
};

struct HttpResponse {
  int status = 200;
  std::string type = "text/plain; charset=utf-8";
  std::string body;
};

class HttpEventStream;
class PasswordQueue;

class HttpServer {
 public:
  using Handler = std::function<HttpResponse()>;
  using StreamStart = std::function<std::string()>;  // the first bytes of a new stream
  // An answer for a path under a prefix, given the rest of the path after it.
  using PrefixHandler = std::function<HttpResponse(const std::string& rest)>;
  // A fed stream that has opened: its owner keeps it and feeds it with Deliver.
  using FeedOpened = std::function<void(std::shared_ptr<HttpEventStream>)>;

  explicit HttpServer(HttpLimits limits = {}, HttpSecurity security = {});
  ~HttpServer();  // stops serving and closes every connection
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Routes, set before Start: an answer for a path, or an event stream (text/event-stream).
  void Get(const std::string& path, Handler handler);
  void Stream(const std::string& path, StreamStart start);
  // Answers for every path under `prefix` (which ends with "/").
  void GetUnder(const std::string& prefix, PrefixHandler handler);
  // A stream of `type` that one owner feeds to each client on its own (the listening stream),
  // rather than what Broadcast sends to all; its clients are dropped as an event stream's are.
  // With `maxOpen`, a client past that many open is answered 503 with Retry-After at once.
  void Feed(const std::string& path, const std::string& type, FeedOpened opened,
            std::size_t maxOpen = 0);
  // A header that every answer carries, streams and refusals included, set before Start; it
  // takes the place of one of the same name. Every answer carries from the start
  // "X-Content-Type-Options: nosniff" (a browser takes each answer as the type it names) and
  // "X-Frame-Options: DENY" (no other site shows the pages in a frame).
  void Header(const std::string& name, const std::string& value);
  // Runs on a thread of the server every `period` while serving (the live page's meter).
  void Every(std::chrono::milliseconds period, std::function<void()> tick);

  // Binds and starts serving; the port bound (the chosen one for port 0), or -1 with Error()
  // saying why.
  int Start(const ListenAddress& address);
  const std::string& Error() const { return error_; }

  // Appends the text to every open stream. From any thread; never waits for a client.
  void Broadcast(const std::string& text);
  // Appends the bytes to one fed stream; false once that stream is over (its client dropped
  // for not reading, or gone, or the server stopping). Never waits for the client.
  bool Deliver(const std::shared_ptr<HttpEventStream>& stream, const std::string& bytes);

  // What is open now, and how many clients were dropped for not reading.
  std::size_t Connections() const { return connections_.load(); }
  std::size_t Streams() const;
  std::size_t Fed() const;  // fed streams open
  uint64_t DroppedSlowClients() const { return dropped_.load(); }
  // Connections closed to keep room for plain answers, and requests refused (the password
  // queue full, an address past its wrong passwords, no room for a stream).
  uint64_t Refused() const { return refused_.load(); }
  // Requests whose password is being checked or waits for its check.
  std::size_t PasswordChecksWaiting() const;

 private:
  struct Connection;
  struct PasswordWait;
  struct PasswordGate;
  friend class HttpServerCallbacks;  // libmicrohttpd's callbacks and the answers
  using Clock = std::chrono::steady_clock;

  bool BindListener(const ListenAddress& address, int& port);
  bool StartDaemon();
  void Housekeeping();
  void CloseOverdue(Clock::time_point now);
  // Closes the oldest connections still waiting for their request while the streams and
  // those waiting hold more than their share, `newcomer` aside.
  void KeepRoomLocked(const Connection* newcomer);
  // Whether a stream from `address` fits beside the connections kept for plain answers.
  bool StreamFitsLocked(const std::string& address) const;
  void StopPasswordChecks();

  HttpLimits limits_;
  HttpSecurity security_;
  std::map<std::string, Handler> handlers_;
  std::map<std::string, StreamStart> streamsAt_;
  std::map<std::string, PrefixHandler> prefixes_;
  struct FeedRoute {
    std::string type;
    FeedOpened opened;
    std::size_t maxOpen = 0;  // 0: no bound
  };
  std::map<std::string, FeedRoute> feedsAt_;
  std::vector<std::pair<std::string, std::string>> headers_{{"X-Content-Type-Options", "nosniff"},
                                                            {"X-Frame-Options", "DENY"}};
  std::chrono::milliseconds tickPeriod_{0};
  std::function<void()> tick_;
  std::string error_;

  SocketHandle listenSocket_ = kNoSocket;
  MHD_Daemon* daemon_ = nullptr;

  // The connections and the streams, shared by the server's thread, the housekeeping thread
  // and Broadcast.
  mutable std::mutex mutex_;
  std::set<Connection*> open_;
  std::set<std::shared_ptr<HttpEventStream>> streams_;
  std::set<std::shared_ptr<HttpEventStream>> fed_;
  bool streamsClosed_ = false;  // stopping: no new stream
  bool starting_ = false;       // the library's messages explain a failed start
  std::string startMessage_;

  // The password checks: their queue, and what its threads share with the server (the checks
  // waiting, the wrong passwords of each address).
  std::unique_ptr<PasswordQueue> passwordQueue_;
  std::shared_ptr<PasswordGate> passwordGate_;

  std::thread housekeeping_;
  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;

  std::atomic<std::size_t> connections_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> refused_{0};
};

}  // namespace calvora::ctl
