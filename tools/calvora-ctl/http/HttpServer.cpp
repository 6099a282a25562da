#include "HttpServer.h"

#include <microhttpd.h>
#include <strings.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "HttpClientCertificate.h"
#include "HttpEventStream.h"
#include "system/ServerSocket.h"

namespace calvora::ctl {

// What the server knows of one open connection: its socket, and since when it waits for a
// request (none is under way) or whether one is being answered.
struct HttpServer::Connection {
  SocketHandle fd = kNoSocket;
  Clock::time_point waitingSince;
  bool busy = false;     // a request came whole and is being answered
  bool closing = false;  // overdue: its socket was shut down
  std::shared_ptr<HttpEventStream> stream;
};

namespace {

// What the library takes from a stream at a time, and what the system may hold unsent for it:
// an event is a few hundred bytes, and a client that stops reading fills these soon, so the
// time it takes nothing counts from early on.
constexpr std::size_t kStreamBlock = 4 * 1024;
constexpr int kStreamSocketBuffer = 8 * 1024;
const char* const kPlainText = "text/plain; charset=utf-8";
// The threads that answer when passwords are checked.
constexpr intptr_t kPasswordThreads = 4;

MHD_Response* BufferResponse(const HttpResponse& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.type.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  // Said also to HTTP/1.1 clients, as this server always did.
  MHD_set_response_options(response, MHD_RF_SEND_KEEP_ALIVE_HEADER, MHD_RO_END);
  return response;
}

// The answer; with `close`, the connection ends after it (a request refused as unsound).
MHD_Result Queue(MHD_Connection* connection, const HttpResponse& answer, bool close = false) {
  MHD_Response* response = BufferResponse(answer);
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

}  // namespace

// libmicrohttpd's callbacks, which reach into the server.
class HttpServerCallbacks {
 public:
  static MHD_Result Request(void* cls, MHD_Connection* connection, const char* url,
                            const char* method, const char* version, const char*,
                            size_t* uploadSize, void** requestContext) {
    auto& server = *static_cast<HttpServer*>(cls);
    if (!*requestContext) {
      // The head has come whole. An answer queued now, before the request's end, would close
      // the connection: only a method that is not served is answered at once.
      static int underWay;
      *requestContext = &underWay;
      MarkBusy(server, connection);
      if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return NotAllowed(connection);
      return MHD_YES;
    }
    if (*uploadSize) {
      *uploadSize = 0;  // a body nobody asked for is read and let go
      return MHD_YES;
    }
    return Answer(server, connection, url, method, version);
  }

  static void Completed(void* cls, MHD_Connection* connection, void**,
                        MHD_RequestTerminationCode code) {
    auto& server = *static_cast<HttpServer*>(cls);
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
      server.open_.insert(c);
      *socketContext = c;
      ++server.connections_;
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

  static MHD_Result Answer(HttpServer& server, MHD_Connection* connection, const char* url,
                           const char* method, const char* version);
  static bool Authorised(HttpServer& server, MHD_Connection* connection);
  // An event stream that opens with `first`, or a fed stream (`fed`) of `type`.
  static MHD_Result OpenStream(HttpServer& server, MHD_Connection* connection,
                               const std::string& first, const std::string& type, bool fed,
                               bool head, std::shared_ptr<HttpEventStream>* opened,
                               std::size_t maxFed = 0);
  static MHD_Result FeedFull(MHD_Connection* connection);

  static HttpServer::Connection* ConnectionOf(MHD_Connection* connection) {
    return static_cast<HttpServer::Connection*>(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
  }

  static void MarkBusy(HttpServer& server, MHD_Connection* connection) {
    std::lock_guard lock(server.mutex_);
    if (auto* c = ConnectionOf(connection))
      c->busy = true;
  }

  static MHD_Result NotAllowed(MHD_Connection* connection) {
    MHD_Response* response = BufferResponse({405, kPlainText, "only GET and HEAD are served\n"});
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
                                       const char* url, const char* method, const char* version) {
  if (strcmp(version, MHD_HTTP_VERSION_1_1) != 0 && strcmp(version, MHD_HTTP_VERSION_1_0) != 0)
    return Queue(connection, {505, kPlainText, "only HTTP/1.0 and HTTP/1.1 are served\n"}, true);
  if (!HostHeadersValid(connection, version))
    return Queue(connection, {400, kPlainText, "one Host header is needed\n"}, true);
  if (!server.security_.certPem.empty()) {
    const auto* tls = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    const std::string refusal = ClientCertificateRefusal(tls ? tls->tls_session : nullptr,
                                                         server.security_.clientCertificates);
    if (!refusal.empty())
      return Queue(connection, {403, kPlainText, refusal}, true);
  }
  if (server.security_.checkPassword && !Authorised(server, connection)) {
    MHD_Response* response = BufferResponse({401, kPlainText, "unauthorised\n"});
    const MHD_Result queued =
        MHD_queue_basic_auth_fail_response(connection, server.security_.realm.c_str(), response);
    MHD_destroy_response(response);
    return queued;
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
    return Queue(connection, handler->second());
  for (const auto& [prefix, handler] : server.prefixes_)
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
      return Queue(connection, handler(path.substr(prefix.size())));
  return Queue(connection, {404, kPlainText, "not found: " + path + "\n"});
}

bool HttpServerCallbacks::Authorised(HttpServer& server, MHD_Connection* connection) {
  char* password = nullptr;
  char* user = MHD_basic_auth_get_username_password(connection, &password);
  const bool matches = user && password && server.security_.checkPassword(user, password);
  MHD_free(user);
  MHD_free(password);
  return matches;
}

MHD_Result HttpServerCallbacks::FeedFull(MHD_Connection* connection) {
  MHD_Response* response = BufferResponse({503, kPlainText, "too many listeners, try later\n"});
  MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "10");
  const MHD_Result queued = MHD_queue_response(connection, 503, response);
  MHD_destroy_response(response);
  return queued;
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
      return Queue(connection, {503, kPlainText, "the server is stopping\n"});
    // Counted where the stream is added, so that the server's threads cannot pass it together.
    if (fed && maxFed > 0 && server.fed_.size() >= maxFed)
      return FeedFull(connection);
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
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  // The stream's bytes as they are, without chunks, until the connection closes.
  MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return queued;
}

HttpServer::HttpServer(HttpLimits limits, HttpSecurity security)
    : limits_(limits), security_(std::move(security)) {}

HttpServer::~HttpServer() {
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  if (housekeeping_.joinable())
    housekeeping_.join();
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

void HttpServer::Every(std::chrono::milliseconds period, std::function<void()> tick) {
  tickPeriod_ = period;
  tick_ = std::move(tick);
}

std::size_t HttpServer::Streams() const {
  std::lock_guard lock(mutex_);
  return streams_.size();
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
  }
  if (security_.clientCertificates != ClientCertificates::None) {
    // The library asks TLS clients for a certificate only when it has authorities to trust;
    // where none are given (any certificate will do) it is told of the server's own.
    const std::string& trust =
        security_.clientCaPem.empty() ? security_.certPem : security_.clientCaPem;
    options.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, const_cast<char*>(trust.c_str())});
  }
  if (security_.checkPassword) {
    // A password check costs a bcrypt (tens of milliseconds) on the thread that answers: with
    // several threads, a client guessing passwords holds up only the connections beside it on
    // its own thread, not every scrape.
    options.push_back({MHD_OPTION_THREAD_POOL_SIZE, kPasswordThreads, nullptr});
  }
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
