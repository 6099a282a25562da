#include "HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace calvora::ctl {

struct HttpServer::Connection {
  int fd = -1;
  std::string in;
  std::string out;
  std::size_t sent = 0;  // of out
  bool stream = false;
  bool closeWhenSent = false;
  bool closed = false;
  // Since when the connection waits for a request (idle), and since when its unsent bytes
  // have not moved (stalled).
  Clock::time_point waitingSince;
  Clock::time_point lastProgress;

  std::size_t Unsent() const { return out.size() - sent; }
};

namespace {

const char* StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

// The value of a header in the request's head, or "" (names compared without case).
std::string HeaderValue(const std::string& head, const char* name) {
  const std::size_t length = std::strlen(name);
  std::size_t line = head.find("\r\n");
  while (line != std::string::npos && line + 2 < head.size()) {
    const std::size_t start = line + 2;
    const std::size_t end = head.find("\r\n", start);
    const std::string text = head.substr(start, end - start);
    if (text.size() > length && text[length] == ':' &&
        strncasecmp(text.c_str(), name, length) == 0) {
      std::size_t from = length + 1;
      while (from < text.size() && (text[from] == ' ' || text[from] == '\t'))
        ++from;
      return text.substr(from);
    }
    line = end;
  }
  return "";
}

bool ContainsWord(std::string text, const char* word) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text.find(word) != std::string::npos;
}

}  // namespace

HttpServer::HttpServer(HttpLimits limits) : limits_(limits) {}

HttpServer::~HttpServer() {
  if (thread_.joinable()) {
    stopping_ = true;
    Wake();
    thread_.join();
  }
  for (auto& c : open_)
    ::close(c->fd);
  for (int fd : {listenFd_, wakeFds_[0], wakeFds_[1]})
    if (fd >= 0)
      ::close(fd);
}

void HttpServer::Get(const std::string& path, Handler handler) {
  handlers_[path] = std::move(handler);
}

void HttpServer::Stream(const std::string& path, StreamStart start) {
  streamsAt_[path] = std::move(start);
}

void HttpServer::Every(std::chrono::milliseconds period, std::function<void()> tick) {
  tickPeriod_ = period;
  tick_ = std::move(tick);
}

int HttpServer::Start(const ListenAddress& address) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
    return -1;
  int bound = -1;
  for (addrinfo* a = found; a && listenFd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
      continue;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 128) == 0) {
      sockaddr_storage local{};
      socklen_t length = sizeof local;
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
      bound = local.ss_family == AF_INET6
                  ? ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port)
                  : ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
      listenFd_ = fd;
    } else {
      ::close(fd);
    }
  }
  freeaddrinfo(found);
  if (listenFd_ < 0 || pipe2(wakeFds_, O_NONBLOCK | O_CLOEXEC) != 0)
    return -1;
  thread_ = std::thread([this] { Serve(); });
  return bound;
}

void HttpServer::Broadcast(std::string text) {
  if (streams_.load() == 0)
    return;
  {
    std::lock_guard lock(broadcastMutex_);
    pendingBroadcasts_.push_back(std::move(text));
  }
  Wake();
}

void HttpServer::Wake() {
  const char byte = 1;
  if (wakeFds_[1] >= 0) [[maybe_unused]]
    auto written = ::write(wakeFds_[1], &byte, 1);
}

void HttpServer::Serve() {
  std::vector<pollfd> polled;
  Clock::time_point nextTick = Clock::now() + tickPeriod_;
  while (!stopping_) {
    polled.clear();
    polled.push_back({listenFd_, POLLIN, 0});
    polled.push_back({wakeFds_[0], POLLIN, 0});
    for (auto& c : open_)
      polled.push_back({c->fd, static_cast<short>(POLLIN | (c->Unsent() ? POLLOUT : 0)), 0});
    // Wakes at least every 250 ms for the time limits, and for the tick.
    Clock::time_point now = Clock::now();
    auto wait = std::chrono::milliseconds(250);
    if (tick_)
      wait = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now),
                        std::chrono::milliseconds(0), wait);
    ::poll(polled.data(), polled.size(), static_cast<int>(wait.count()));
    now = Clock::now();

    if (polled[1].revents & POLLIN) {
      char drain[64];
      while (::read(wakeFds_[0], drain, sizeof drain) > 0) {
      }
    }
    for (std::size_t i = 2; i < polled.size(); ++i) {
      Connection& c = *open_[i - 2];
      if (polled[i].revents & (POLLIN | POLLHUP | POLLERR))
        Read(c, now);
      if (!c.closed && (polled[i].revents & POLLOUT)) {
        Write(c, now);
        if (!c.in.empty() && c.Unsent() == 0) {  // a request that came behind the last one
          HandleRequests(c);
          Write(c, now);
        }
      }
    }
    DeliverBroadcasts(now);
    if (tick_ && now >= nextTick) {
      nextTick = now + tickPeriod_;
      tick_();
      DeliverBroadcasts(now);
    }
    // The time limits: a connection that waits too long for its request, or a client that
    // does not take what is sent to it.
    for (auto& c : open_) {
      if (c->closed)
        continue;
      if (c->Unsent() > limits_.maxUnsent ||
          (c->Unsent() > 0 && now - c->lastProgress > limits_.stalled)) {
        c->closed = true;
        ++dropped_;
      } else if (!c->stream && c->Unsent() == 0 && now - c->waitingSince > limits_.idle) {
        c->closed = true;
      }
    }
    if (polled[0].revents & POLLIN)
      Accept(now);
    std::erase_if(open_, [this](const std::unique_ptr<Connection>& c) {
      if (!c->closed)
        return false;
      // Counted out before the client can see the end.
      if (c->stream)
        --streams_;
      --connections_;
      ::close(c->fd);
      return true;
    });
  }
}

void HttpServer::Accept(Clock::time_point now) {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      return;  // none waiting (or out of descriptors: tried again on the next round)
    if (open_.size() >= limits_.maxConnections) {
      static const char kBusy[] =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      [[maybe_unused]] auto written = ::send(fd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL);
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->waitingSince = now;
    c->lastProgress = now;
    open_.push_back(std::move(c));
    ++connections_;
  }
}

void HttpServer::Read(Connection& c, Clock::time_point now) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      c.closed = true;  // the client has gone
      return;
    }
    if (n < 0)
      break;
    if (!c.stream && !c.closeWhenSent)
      c.in.append(buffer, static_cast<std::size_t>(n));  // a stream's client has no more to say
  }
  HandleRequests(c);
  Write(c, now);
}

void HttpServer::HandleRequests(Connection& c) {
  // Requests in turn; one whose answer is still being sent waits for it (a pipelined client).
  while (!c.closed && !c.stream && !c.closeWhenSent && c.Unsent() == 0) {
    const std::size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (c.in.size() > limits_.maxRequestBytes) {
        c.closeWhenSent = true;
        Append(c,
               "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
               "Connection: close\r\n\r\n");
      }
      break;
    }
    const std::string head = c.in.substr(0, end + 2);
    c.in.erase(0, end + 4);
    const std::size_t firstSpace = head.find(' ');
    const std::size_t secondSpace =
        firstSpace == std::string::npos ? std::string::npos : head.find(' ', firstSpace + 1);
    const std::size_t lineEnd = head.find("\r\n");
    if (secondSpace == std::string::npos || secondSpace > lineEnd) {
      c.closeWhenSent = true;
      Append(c, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      break;
    }
    const std::string method = head.substr(0, firstSpace);
    const std::string target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string version = head.substr(secondSpace + 1, lineEnd - secondSpace - 1);
    const std::string connection = HeaderValue(head, "Connection");
    const bool keepAlive = version == "HTTP/1.1" ? !ContainsWord(connection, "close")
                                                 : ContainsWord(connection, "keep-alive");
    // A request with a body is none this server takes; its body is not read.
    const bool body = !HeaderValue(head, "Content-Length").empty() ||
                      !HeaderValue(head, "Transfer-Encoding").empty();
    Answer(c, method, target, keepAlive && !body);
  }
}

void HttpServer::Answer(Connection& c, const std::string& method, const std::string& target,
                        bool keepAlive) {
  const std::string path = target.substr(0, target.find('?'));
  const bool head = method == "HEAD";
  HttpResponse response;
  if (method != "GET" && !head) {
    response = {405, "text/plain; charset=utf-8", "only GET and HEAD are served\n"};
    keepAlive = false;
  } else if (auto stream = streamsAt_.find(path); stream != streamsAt_.end()) {
    c.stream = true;
    ++streams_;
    Append(c,
           "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
           "Connection: close\r\n\r\n");
    if (head)
      c.closeWhenSent = true;
    else
      Append(c, stream->second());
    return;
  } else if (auto handler = handlers_.find(path); handler != handlers_.end()) {
    response = handler->second();
  } else {
    response = {404, "text/plain; charset=utf-8", "not found: " + path + "\n"};
  }
  std::string text =
      "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) +
      "\r\nContent-Type: " + response.type +
      "\r\nContent-Length: " + std::to_string(response.body.size()) +
      "\r\nCache-Control: no-store\r\nConnection: " + (keepAlive ? "keep-alive" : "close") +
      "\r\n\r\n";
  if (!head)
    text += response.body;
  Append(c, text);
  if (!keepAlive)
    c.closeWhenSent = true;
}

void HttpServer::Append(Connection& c, const std::string& text) {
  if (c.Unsent() == 0) {
    c.out.clear();
    c.sent = 0;
    c.lastProgress = Clock::now();  // the time to take these bytes starts now
  }
  c.out += text;
}

void HttpServer::Write(Connection& c, Clock::time_point now) {
  if (c.Unsent() == 0)
    return;
  while (c.Unsent() > 0) {
    const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.Unsent(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        c.closed = true;
      break;
    }
    c.sent += static_cast<std::size_t>(n);
    c.lastProgress = now;
  }
  if (c.Unsent() == 0) {
    c.out.clear();
    c.sent = 0;
    c.lastProgress = now;
    if (c.closeWhenSent)
      c.closed = true;
    else if (!c.stream)
      c.waitingSince = now;  // the next request may take its time from here
  } else if (c.sent > 65536) {
    c.out.erase(0, c.sent);  // keeps the buffer to what is unsent
    c.sent = 0;
  }
}

void HttpServer::DeliverBroadcasts(Clock::time_point now) {
  std::vector<std::string> texts;
  {
    std::lock_guard lock(broadcastMutex_);
    texts.swap(pendingBroadcasts_);
  }
  if (texts.empty())
    return;
  for (auto& c : open_) {
    if (!c->stream || c->closed || c->closeWhenSent)
      continue;
    for (const auto& text : texts)
      Append(*c, text);
    Write(*c, now);
  }
}

}  // namespace calvora::ctl
