#include "HttpServer.h"

#include <microhttpd.h>
#include <strings.h>
#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BasicAuthorization.h"
#include "GuessLimit.h"
#include "HttpClientCertificate.h"
#include "HttpEventStream.h"
#include "PasswordQueue.h"
#include "system/ServerSocket.h"

namespace calvora::ctl {

// What the server knows of one open connection: its socket and client address, and since when
// it waits for a request (none is under way) or whether one is being answered.
struct HttpServer::Connection {
  SocketHandle fd = kNoSocket;
  std::string address;  // the client's address without its port, as bytes
  Clock::time_point waitingSince;
  bool busy = false;     // a request came whole and is being answered
  bool closing = false;  // overdue: its socket was shut down
  std::shared_ptr<HttpEventStream> stream;

  // Holds room against the reserve kept for plain answers.
  bool Held() const { return stream || (!busy && !closing); }
};

// A request whose password is being checked, its connection suspended meanwhile.
struct HttpServer::PasswordWait {
  enum class Verdict { Waiting, Passed, Failed, Stopping };
  MHD_Connection* connection = nullptr;
  std::string address;
  Verdict verdict = Verdict::Waiting;  // under the gate's mutex
};

// What the check threads share with the server, and keep while a check they let go finishes.
struct HttpServer::PasswordGate {
  explicit PasswordGate(const HttpLimits& limits)
      : guesses(limits.passwordFailures, limits.passwordWindow) {}
  std::mutex mutex;
  std::set<std::shared_ptr<PasswordWait>> waiting;
  GuessLimit guesses;
  bool stopped = false;
};

namespace {

// What the library takes from a stream at a time, and what the system may hold unsent for it:
// an event is a few hundred bytes, and a client that stops reading fills these soon, so the
// time it takes nothing counts from early on.
constexpr std::size_t kStreamBlock = 4 * 1024;
constexpr int kStreamSocketBuffer = 8 * 1024;
const char* const kPlainText = "text/plain; charset=utf-8";
// Where a request stands with the password check.
enum class Admission { Let, Unauthorised, Waiting, Limited, QueueFull, Stopping };

using HeaderList = std::vector<std::pair<std::string, std::string>>;

void AddHeaders(MHD_Response* response, const HeaderList& headers) {
  for (const auto& [name, value] : headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
}

MHD_Response* BufferResponse(const HttpResponse& answer, const HeaderList& headers) {
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  AddHeaders(response, headers);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.type.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  // Said also to HTTP/1.1 clients, as this server always did.
  MHD_set_response_options(response, MHD_RF_SEND_KEEP_ALIVE_HEADER, MHD_RO_END);
  return response;
}

// The answer; with `close`, the connection ends after it (a request refused as unsound).
MHD_Result Queue(MHD_Connection* connection, const HeaderList& headers, const HttpResponse& answer,
                 bool close = false) {
  MHD_Response* response = BufferResponse(answer, headers);
  if (close)
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned int>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

// HTTP/1.1 asks for exactly one Host header, HTTP/1.0 for at most one.
bool HostHeadersValid(MHD_Connection* connection, const char* version) {
  int hosts = 0;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* count, MHD_ValueKind, const char* key, const char*) {
        if (strcasecmp(key, MHD_HTTP_HEADER_HOST) == 0)
          ++*static_cast<int*>(count);
        return MHD_YES;
      },
      &hosts);
  return hosts == 1 || (hosts == 0 && strcmp(version, MHD_HTTP_VERSION_1_0) == 0);
}

// Whether the request announces a body: a length above 0, or any transfer coding.
bool AnnouncesBody(MHD_Connection* connection) {
  if (MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) !=
      nullptr)
    return true;
  const char* length =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  return length != nullptr && std::strspn(length, "0") != std::strlen(length);
}

// A refusal that says when to come again.
MHD_Result QueueRetryAfter(MHD_Connection* connection, const HeaderList& headers, int status,
                           long seconds, const std::string& text) {
  MHD_Response* response = BufferResponse({status, kPlainText, text}, headers);
  MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, std::to_string(seconds).c_str());
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned int>(status), response);
  MHD_destroy_response(response);
  return queued;
}

// The client's address without its port, as bytes: the key of its limits.
std::string AddressOf(MHD_Connection* connection) {
  const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  const sockaddr* address = info ? info->client_addr : nullptr;
  if (!address)
    return {};
  if (address->sa_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    return std::string("4") + std::string(reinterpret_cast<const char*>(&v4), sizeof v4);
  }
  if (address->sa_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    return std::string("6") + std::string(reinterpret_cast<const char*>(&v6), sizeof v6);
  }
  return {};
}

}  // namespace

// libmicrohttpd's callbacks, which reach into the server.
class HttpServerCallbacks {
 public:
  static MHD_Result Request(void* cls, MHD_Connection* connection, const char* url,
                            const char* method, const char* version, const char*,
                            size_t* uploadSize, void** requestContext) {
    auto& server = *static_cast<HttpServer*>(cls);
    if (!*requestContext) {
      // The head has come whole. An answer queued now, before the request's end, closes the
      // connection: only a method that is not served, and a GET or HEAD that announces a body
      // (which could come as slowly as its client likes), are answered at once.
      *requestContext = new RequestState;
      MarkBusy(server, connection);
      if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return NotAllowed(connection, server.headers_);
      if (AnnouncesBody(connection))
        return Queue(connection, server.headers_,
                     {400, kPlainText, "a GET or HEAD request carries no body\n"}, true);
      return MHD_YES;
    }
    if (*uploadSize) {
      *uploadSize = 0;  // a body nobody asked for is read and let go
      return MHD_YES;
    }
    return Answer(server, connection, url, method, version,
                  *static_cast<RequestState*>(*requestContext));
  }

  static void Completed(void* cls, MHD_Connection* connection, void** requestContext,
                        MHD_RequestTerminationCode code) {
    auto& server = *static_cast<HttpServer*>(cls);
    delete static_cast<RequestState*>(*requestContext);
    *requestContext = nullptr;
    auto* c = ConnectionOf(connection);
    if (!c)
      return;
    std::lock_guard lock(server.mutex_);
    c->busy = false;
    c->waitingSince = HttpServer::Clock::now();  // the next request may take its time from here
    if (c->stream) {
      server.streams_.erase(c->stream);
      server.fed_.erase(c->stream);
      // A client that took nothing for the stalled time and was closed by the library.
      if (code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED && !c->stream->WasDropped())
        ++server.dropped_;
      c->stream->Closed();
      c->stream.reset();
    }
  }

  static void ConnectionNotice(void* cls, MHD_Connection* connection, void** socketContext,
                               MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<HttpServer*>(cls);
    std::lock_guard lock(server.mutex_);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* c = new HttpServer::Connection;
      c->fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
      c->waitingSince = HttpServer::Clock::now();
      c->address = AddressOf(connection);
      server.open_.insert(c);
      *socketContext = c;
      ++server.connections_;
      server.KeepRoomLocked(c);
    } else if (auto* c = static_cast<HttpServer::Connection*>(*socketContext)) {
      // Told before the library closes the socket, so the housekeeping never shuts down a
      // descriptor that was given to someone else.
      server.open_.erase(c);
      delete c;
      *socketContext = nullptr;
      --server.connections_;
    }
  }

  static ssize_t ReadStream(void* cls, uint64_t, char* buffer, size_t max) {
    return (*static_cast<std::shared_ptr<HttpEventStream>*>(cls))->Read(buffer, max);
  }

  static void FreeStream(void* cls) { delete static_cast<std::shared_ptr<HttpEventStream>*>(cls); }

  // What one request carries between the calls of the library: the check of its password.
  struct RequestState {
    std::shared_ptr<HttpServer::PasswordWait> check;
  };

  static MHD_Result Answer(HttpServer& server, MHD_Connection* connection, const char* url,
                           const char* method, const char* version, RequestState& request);
  // Whether the request's password lets it in, or why not; with Waiting, the connection is
  // suspended until its check is done, and `retryAfter` is set for Limited.
  static Admission Admit(HttpServer& server, MHD_Connection* connection, RequestState& request,
                         long& retryAfter);
  // The check of a password on the check thread: its verdict, and the connection resumed.
  static void RunCheck(const std::shared_ptr<HttpServer::PasswordGate>& gate,
                       const std::shared_ptr<HttpServer::PasswordWait>& wait, bool passed);
  // An event stream that opens with `first`, or a fed stream (`fed`) of `type`.
  static MHD_Result OpenStream(HttpServer& server, MHD_Connection* connection,
                               const std::string& first, const std::string& type, bool fed,
                               bool head, std::shared_ptr<HttpEventStream>* opened,
                               std::size_t maxFed = 0);
  static HttpServer::Connection* ConnectionOf(MHD_Connection* connection) {
    return static_cast<HttpServer::Connection*>(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
  }

  static void MarkBusy(HttpServer& server, MHD_Connection* connection) {
    std::lock_guard lock(server.mutex_);
    if (auto* c = ConnectionOf(connection))
      c->busy = true;
  }

  static MHD_Result NotAllowed(MHD_Connection* connection, const HeaderList& headers) {
    MHD_Response* response =
        BufferResponse({405, kPlainText, "only GET and HEAD are served\n"}, headers);
    MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, 405, response);
    MHD_destroy_response(response);
    return queued;
  }

  static void Log(void* cls, const char* format, va_list arguments) {
    auto& server = *static_cast<HttpServer*>(cls);
    char text[512];
    vsnprintf(text, sizeof text, format, arguments);
    std::lock_guard lock(server.mutex_);
    if (server.starting_)  // what hostile clients cause later is counted, not printed
      server.startMessage_ = text;
  }
};

MHD_Result HttpServerCallbacks::Answer(HttpServer& server, MHD_Connection* connection,
                                       const char* url, const char* method, const char* version,
                                       RequestState& request) {
  if (strcmp(version, MHD_HTTP_VERSION_1_1) != 0 && strcmp(version, MHD_HTTP_VERSION_1_0) != 0)
    return Queue(connection, server.headers_,
                 {505, kPlainText, "only HTTP/1.0 and HTTP/1.1 are served\n"}, true);
  if (!HostHeadersValid(connection, version))
    return Queue(connection, server.headers_, {400, kPlainText, "one Host header is needed\n"},
                 true);
  if (!server.security_.certPem.empty()) {
    const auto* tls = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    const std::string refusal = ClientCertificateRefusal(tls ? tls->tls_session : nullptr,
                                                         server.security_.clientCertificates);
    if (!refusal.empty())
      return Queue(connection, server.headers_, {403, kPlainText, refusal}, true);
  }
  if (server.security_.checkPassword) {
    long retryAfter = 0;
    switch (Admit(server, connection, request, retryAfter)) {
      case Admission::Let:
        break;
      case Admission::Waiting:
        return MHD_YES;  // answered when the check resumes the connection
      case Admission::Unauthorised: {
        MHD_Response* response =
            BufferResponse({401, kPlainText, "unauthorised\n"}, server.headers_);
        const MHD_Result queued = MHD_queue_basic_auth_fail_response(
            connection, server.security_.realm.c_str(), response);
        MHD_destroy_response(response);
        return queued;
      }
      case Admission::Limited:
        ++server.refused_;
        return QueueRetryAfter(connection, server.headers_, 429, retryAfter,
                               "too many wrong passwords from this address\n");
      case Admission::QueueFull:
        ++server.refused_;
        return QueueRetryAfter(connection, server.headers_, 503, 1,
                               "too many password checks waiting\n");
      case Admission::Stopping:
        return Queue(connection, server.headers_, {503, kPlainText, "the server is stopping\n"},
                     true);
    }
  }
  const bool head = strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
  const std::string path = url;
  if (auto stream = server.streamsAt_.find(path); stream != server.streamsAt_.end())
    return OpenStream(server, connection, head ? "" : stream->second(), "text/event-stream", false,
                      head, nullptr);
  if (auto feed = server.feedsAt_.find(path); feed != server.feedsAt_.end()) {
    std::shared_ptr<HttpEventStream> opened;
    const MHD_Result queued = OpenStream(server, connection, "", feed->second.type, true, head,
                                         &opened, feed->second.maxOpen);
    if (queued == MHD_YES && opened)
      feed->second.opened(opened);
    return queued;
  }
  if (auto handler = server.handlers_.find(path); handler != server.handlers_.end())
    return Queue(connection, server.headers_, handler->second());
  for (const auto& [prefix, handler] : server.prefixes_)
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
      return Queue(connection, server.headers_, handler(path.substr(prefix.size())));
  return Queue(connection, server.headers_, {404, kPlainText, "not found: " + path + "\n"});
}

Admission HttpServerCallbacks::Admit(HttpServer& server, MHD_Connection* connection,
                                     RequestState& request, long& retryAfter) {
  using Verdict = HttpServer::PasswordWait::Verdict;
  HttpServer::PasswordGate& gate = *server.passwordGate_;
  if (request.check) {  // resumed: the check is done
    std::lock_guard lock(gate.mutex);
    const Verdict verdict = request.check->verdict;
    return verdict == Verdict::Passed   ? Admission::Let
           : verdict == Verdict::Failed ? Admission::Unauthorised
                                        : Admission::Stopping;
  }
  // Read here rather than by the library, which takes the scheme in one case only and cuts a
  // password at a NUL byte.
  const char* header =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
  const auto credentials = ParseBasicAuthorization(header ? header : "");
  if (!credentials)
    return Admission::Unauthorised;  // no usable password: nothing to check, nothing counted
  const std::string& name = credentials->user;
  const std::string& secret = credentials->password;
  const auto& remembered = server.security_.passedBefore;
  if (remembered && remembered(name, secret))
    return Admission::Let;

  const HttpServer::Clock::time_point now = HttpServer::Clock::now();
  auto wait = std::make_shared<HttpServer::PasswordWait>();
  wait->connection = connection;
  if (const HttpServer::Connection* c = ConnectionOf(connection))
    wait->address = c->address;
  std::lock_guard lock(gate.mutex);
  if (gate.stopped)
    return Admission::Stopping;
  retryAfter = gate.guesses.RetryAfter(wait->address, now);
  if (retryAfter > 0)
    return Admission::Limited;
  auto check = server.security_.checkPassword;
  const bool queued =
      server.passwordQueue_->Submit([gateShared = server.passwordGate_, wait, check, name, secret] {
        RunCheck(gateShared, wait, check(name, secret));
      });
  if (!queued)
    return Admission::QueueFull;
  gate.guesses.Began(wait->address, now);
  gate.waiting.insert(wait);
  request.check = wait;
  // Under the gate's lock, so that the check cannot resume the connection before this.
  MHD_suspend_connection(connection);
  return Admission::Waiting;
}

void HttpServerCallbacks::RunCheck(const std::shared_ptr<HttpServer::PasswordGate>& gate,
                                   const std::shared_ptr<HttpServer::PasswordWait>& wait,
                                   bool passed) {
  using Verdict = HttpServer::PasswordWait::Verdict;
  std::lock_guard lock(gate->mutex);
  if (wait->verdict != Verdict::Waiting)
    return;  // the server stopped and answered it: its connection is not to be touched
  gate->waiting.erase(wait);
  if (passed)
    gate->guesses.Passed(wait->address);
  else
    gate->guesses.Failed(wait->address, HttpServer::Clock::now());
  wait->verdict = passed ? Verdict::Passed : Verdict::Failed;
  MHD_resume_connection(wait->connection);
}

MHD_Result HttpServerCallbacks::OpenStream(HttpServer& server, MHD_Connection* connection,
                                           const std::string& first, const std::string& type,
                                           bool fed, bool head,
                                           std::shared_ptr<HttpEventStream>* opened,
                                           std::size_t maxFed) {
  HttpServer::Connection* c = ConnectionOf(connection);
  auto stream = std::make_shared<HttpEventStream>(connection, c ? c->fd : kNoSocket, first,
                                                  server.limits_.maxUnsent, server.limits_.stalled);
  {
    std::lock_guard lock(server.mutex_);
    if (server.streamsClosed_)
      return Queue(connection, server.headers_, {503, kPlainText, "the server is stopping\n"});
    // Counted under the lock where the stream is added, so two requests cannot both pass it.
    if (fed && maxFed > 0 && server.fed_.size() >= maxFed)
      return QueueRetryAfter(connection, server.headers_, 503, 10,
                             "too many listeners, try later\n");
    if (c && !head && !server.StreamFitsLocked(c->address)) {
      ++server.refused_;
      return QueueRetryAfter(connection, server.headers_, 503, 10, "no room for another stream\n");
    }
    // A HEAD request gets the head alone and is no stream to feed.
    if (c && !head) {
      c->stream = stream;
      (fed ? server.fed_ : server.streams_).insert(stream);
      if (opened)
        *opened = stream;
      LimitSendBuffer(c->fd, kStreamSocketBuffer);
    }
  }
  MHD_Response* response = MHD_create_response_from_callback(
      MHD_SIZE_UNKNOWN, kStreamBlock, &HttpServerCallbacks::ReadStream,
      new std::shared_ptr<HttpEventStream>(stream), &HttpServerCallbacks::FreeStream);
  AddHeaders(response, server.headers_);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  // The stream's bytes as they are, without chunks, until the connection closes.
  MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return queued;
}

HttpServer::HttpServer(HttpLimits limits, HttpSecurity security)
    : limits_(limits),
      security_(std::move(security)),
      passwordGate_(std::make_shared<PasswordGate>(limits_)) {}

HttpServer::~HttpServer() {
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  if (housekeeping_.joinable())
    housekeeping_.join();
  StopPasswordChecks();
  if (daemon_) {
    // No new connection, no new stream, and every stream resumed to end: the library must not
    // be stopped with a connection suspended.
    const MHD_socket listening = MHD_quiesce_daemon(daemon_);
    {
      std::lock_guard lock(mutex_);
      streamsClosed_ = true;
      for (const auto& stream : streams_)
        stream->End();
      for (const auto& stream : fed_)
        stream->End();
    }
    MHD_stop_daemon(daemon_);
    if (listening != MHD_INVALID_SOCKET)
      CloseSocket(listening);
  } else if (listenSocket_ != kNoSocket) {
    CloseSocket(listenSocket_);
  }
}

void HttpServer::StopPasswordChecks() {
  // Every request waiting for its check is answered that the server stops (its connection
  // resumed, as the library must not be stopped with one suspended); a check under way is let
  // finish on its own and finds its request answered.
  {
    std::lock_guard lock(passwordGate_->mutex);
    passwordGate_->stopped = true;
    for (const auto& wait : passwordGate_->waiting) {
      wait->verdict = PasswordWait::Verdict::Stopping;
      passwordGate_->guesses.Abandoned(wait->address);
      MHD_resume_connection(wait->connection);
    }
    passwordGate_->waiting.clear();
  }
  if (passwordQueue_)
    passwordQueue_->Stop();
}

void HttpServer::Get(const std::string& path, Handler handler) {
  handlers_[path] = std::move(handler);
}

void HttpServer::Stream(const std::string& path, StreamStart start) {
  streamsAt_[path] = std::move(start);
}

void HttpServer::GetUnder(const std::string& prefix, PrefixHandler handler) {
  prefixes_[prefix] = std::move(handler);
}

void HttpServer::Feed(const std::string& path, const std::string& type, FeedOpened opened,
                      std::size_t maxOpen) {
  feedsAt_[path] = {type, std::move(opened), maxOpen};
}

void HttpServer::Header(const std::string& name, const std::string& value) {
  const auto same = std::find_if(headers_.begin(), headers_.end(), [&name](const auto& header) {
    return strcasecmp(header.first.c_str(), name.c_str()) == 0;
  });
  if (same != headers_.end())
    same->second = value;
  else
    headers_.emplace_back(name, value);
}

void HttpServer::Every(std::chrono::milliseconds period, std::function<void()> tick) {
  tickPeriod_ = period;
  tick_ = std::move(tick);
}

std::size_t HttpServer::Streams() const {
  std::lock_guard lock(mutex_);
  return streams_.size();
}

std::size_t HttpServer::PasswordChecksWaiting() const {
  std::lock_guard lock(passwordGate_->mutex);
  return passwordGate_->waiting.size();
}

std::size_t HttpServer::Fed() const {
  std::lock_guard lock(mutex_);
  return fed_.size();
}

int HttpServer::Start(const ListenAddress& address) {
  int port = -1;
  if (!BindListener(address, port)) {
    error_ = "in use, or not an address of this host";
    return -1;
  }
  if (!StartDaemon())
    return -1;
  housekeeping_ = std::thread([this] { Housekeeping(); });
  return port;
}

bool HttpServer::BindListener(const ListenAddress& address, int& port) {
  listenSocket_ = OpenListenSocket(address.host, address.port, port);
  return listenSocket_ != kNoSocket;
}

bool HttpServer::StartDaemon() {
  const bool tls = !security_.certPem.empty() || !security_.keyPem.empty();
  const bool verifies = security_.clientCertificates == ClientCertificates::VerifyIfGiven ||
                        security_.clientCertificates == ClientCertificates::RequireAndVerify;
  if (tls && (security_.certPem.empty() || security_.keyPem.empty())) {
    error_ = "TLS needs both a certificate and its key";
    return false;
  }
  if (security_.clientCertificates != ClientCertificates::None && !tls) {
    error_ = "client certificates need TLS";
    return false;
  }
  if (verifies && security_.clientCaPem.empty()) {
    error_ = "client certificates are verified against a client CA, and none is given";
    return false;
  }
  const auto timeout = static_cast<unsigned int>((limits_.stalled.count() + 999) / 1000);
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&HttpServerCallbacks::Log), this},
      {MHD_OPTION_LISTEN_SOCKET, static_cast<intptr_t>(listenSocket_), nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(limits_.maxConnections), nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(limits_.maxPerAddress), nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, std::max(1u, timeout), nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits_.connectionMemory),
       nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpServerCallbacks::Completed),
       this},
      {MHD_OPTION_NOTIFY_CONNECTION,
       reinterpret_cast<intptr_t>(&HttpServerCallbacks::ConnectionNotice), this},
  };
  if (tls) {
    options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(security_.certPem.c_str())});
    options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(security_.keyPem.c_str())});
    options.push_back(
        {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(security_.tlsPriorities.c_str())});
  }
  if (security_.clientCertificates != ClientCertificates::None) {
    // The library asks TLS clients for a certificate only when it has authorities to trust;
    // where none are given (any certificate will do) it is told of the server's own.
    const std::string& trust =
        security_.clientCaPem.empty() ? security_.certPem : security_.clientCaPem;
    options.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, const_cast<char*>(trust.c_str())});
  }
  if (security_.checkPassword)
    passwordQueue_ =
        std::make_unique<PasswordQueue>(limits_.passwordThreads, limits_.passwordQueue);
  options.push_back({MHD_OPTION_END, 0, nullptr});

  // poll() rather than epoll: the library's edge-triggered epoll loop misses a client's end
  // that comes with its request, and a half-closed connection would wait for the idle limit.
  unsigned int flags = MHD_USE_POLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  if (tls)
    flags |= MHD_USE_TLS;
  starting_ = true;
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &HttpServerCallbacks::Request, this,
                             MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
  std::lock_guard lock(mutex_);
  starting_ = false;
  if (daemon_)
    return true;
  // The library's own words, as "Failed to ...", when it said why.
  error_ = startMessage_.substr(0, startMessage_.find_last_not_of("\n") + 1);
  if (error_.empty())
    error_ = tls ? "the certificate or its key cannot be used" : "the server did not start";
  return false;
}

void HttpServer::KeepRoomLocked(const Connection* newcomer) {
  const std::size_t inAll =
      limits_.maxConnections - std::min(limits_.maxConnections, limits_.reservedForAnswers);
  const std::size_t perAddress =
      limits_.maxPerAddress - std::min(limits_.maxPerAddress, limits_.reservedPerAddress);
  for (;;) {
    std::size_t held = 0, heldHere = 0;
    Connection *oldest = nullptr, *oldestHere = nullptr;
    for (Connection* c : open_) {
      if (c == newcomer || !c->Held())
        continue;
      ++held;
      const bool here = c->address == newcomer->address;
      heldHere += here ? 1 : 0;
      if (c->stream)
        continue;  // a stream is let be: it was let in within its share
      if (!oldest || c->waitingSince < oldest->waitingSince)
        oldest = c;
      if (here && (!oldestHere || c->waitingSince < oldestHere->waitingSince))
        oldestHere = c;
    }
    Connection* closed = heldHere >= perAddress && oldestHere ? oldestHere
                         : held >= inAll                      ? oldest
                                                              : nullptr;
    if (!closed)
      return;
    ShutdownSocket(closed->fd);
    closed->closing = true;
    ++refused_;
  }
}

bool HttpServer::StreamFitsLocked(const std::string& address) const {
  std::size_t streams = 0, streamsHere = 0;
  for (const Connection* c : open_)
    if (c->stream) {
      ++streams;
      streamsHere += c->address == address ? 1 : 0;
    }
  return streams + std::min(limits_.maxConnections, limits_.reservedForAnswers) <
             limits_.maxConnections &&
         streamsHere + std::min(limits_.maxPerAddress, limits_.reservedPerAddress) <
             limits_.maxPerAddress;
}

void HttpServer::Broadcast(const std::string& text) {
  std::lock_guard lock(mutex_);
  for (const auto& stream : streams_)
    if (stream->Append(text))
      ++dropped_;
}

bool HttpServer::Deliver(const std::shared_ptr<HttpEventStream>& stream, const std::string& bytes) {
  if (stream->Append(bytes)) {
    ++dropped_;
    return false;
  }
  return !stream->Over();
}

void HttpServer::Housekeeping() {
  // Checks the time limits four times a second, and runs the tick when one is set.
  constexpr std::chrono::milliseconds kCheck{250};
  Clock::time_point nextTick = Clock::now() + tickPeriod_;
  Clock::time_point nextCheck = Clock::now() + kCheck;
  std::unique_lock stopLock(stopMutex_);
  while (!stopping_) {
    stopSignal_.wait_until(stopLock, tick_ ? std::min(nextTick, nextCheck) : nextCheck,
                           [this] { return stopping_; });
    if (stopping_)
      break;
    stopLock.unlock();
    const Clock::time_point now = Clock::now();
    if (tick_ && now >= nextTick) {
      nextTick = now + tickPeriod_;
      tick_();
    }
    if (now >= nextCheck) {
      nextCheck = now + kCheck;
      CloseOverdue(now);
    }
    stopLock.lock();
  }
}

void HttpServer::CloseOverdue(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  for (Connection* c : open_) {
    // A request that has not come whole within the idle time, however slowly its bytes come:
    // the socket is shut down and the library closes the connection on seeing it.
    if (!c->busy && !c->closing && now - c->waitingSince > limits_.idle) {
      ShutdownSocket(c->fd);
      c->closing = true;
    }
  }
  for (const auto* streams : {&streams_, &fed_})
    for (const auto& stream : *streams)
      if (stream->DropIfStalled(now))
        ++dropped_;
}

}  // namespace calvora::ctl
