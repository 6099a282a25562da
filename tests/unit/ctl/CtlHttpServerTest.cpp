// The server of calvora-ctl serve: many event streams and idle connections never take a
// scrape's place, idle connections are closed, a client that stops reading is dropped, and
// requests are answered as HTTP/1.1 says; password checks and guessers hold no scrape up;
// listeners get the programme in pace, and clips are served by their names alone.
#include <arpa/inet.h>
#include <crypt.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/ClipKeeper.h"
#include "audio/ListenFeed.h"
#include "cli/CtlHelp.h"
#include "http/HttpServer.h"
#include "http/WebConfig.h"
#include "http/WebSecurity.h"
#include "monitor/StationMonitor.h"
#include "server/StationWebServer.h"

namespace calvora::ctl {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A client socket on the loopback.
class Client {
 public:
  // From `source`, another address of the loopback, as another host would come.
  explicit Client(int port, int receiveBuffer = 0, const char* source = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (source) {
      sockaddr_in from{};
      from.sin_family = AF_INET;
      inet_pton(AF_INET, source, &from.sin_addr);
      ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { ::close(fd_); }
  bool Connected() const { return connected_; }
  void Send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  void CloseSending() { ::shutdown(fd_, SHUT_WR); }
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

// Whether the condition holds within a second (what the server's thread does next).
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = Clock::now() + milliseconds(1000);
  while (!condition() && Clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(10));
  return condition();
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

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
  HttpLimits limits;
  limits.maxPerAddress = 100;  // every client here comes from 127.0.0.1
  StationWebServer server(monitor, limits);
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
      // The server's own figures beside the station's: the scrape's connection is one.
      if (std::string(path) == "/metrics") {
        EXPECT_NE(answer.find("\ncalvora_http_streams 50\n"), std::string::npos) << answer;
        const std::size_t connections = answer.find("\ncalvora_http_connections ");
        ASSERT_NE(connections, std::string::npos) << answer;
        EXPECT_GE(std::stoi(answer.substr(connections + 26)), 71) << answer;
      }
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
  EXPECT_NE(Lower(kept.ReadUntil("hi")).find("connection: keep-alive"), std::string::npos);
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
  EXPECT_TRUE(Eventually([&] { return server.Connections() == 0; }));
}

TEST(HttpServer, AClientThatStopsReadingIsDroppedAndTheOthersGoOn) {
  HttpLimits limits;
  limits.maxUnsent = 64 * 1024;
  HttpServer server(limits);
  server.Stream("/events", [] { return std::string("event: hello\ndata: {}\n\n"); });
  server.Get("/metrics", [] { return HttpResponse{200, "text/plain", "m 1\n"}; });
  const int port = server.Start({"127.0.0.1", 0});
  Client stuck(port, 4096), reader(port);
  stuck.Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
  reader.Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
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
  // The dropped client's connection is closed at once, not at a time limit.
  EXPECT_TRUE(Eventually([&] { return server.Connections() == 1; }));
  EXPECT_EQ(server.Streams(), 1u);
}

TEST(HttpServer, AnswersAsHttpSays) {
  HttpServer server;
  server.Get("/a", [] { return HttpResponse{200, "text/plain", "alpha"}; });
  server.Stream("/events", [] { return std::string("retry: 2000\n\n"); });
  // A header set again under another case takes the place of the first.
  server.Header("Content-Security-Policy", "default-src 'self'");
  server.Header("content-security-policy", "default-src 'none'");
  const int port = server.Start({"127.0.0.1", 0});
  struct Case {
    std::string request;
    std::string starts;
    std::string contains;
    bool closes;
  };
  const std::string host = " HTTP/1.1\r\nHost: x\r\n";
  for (const Case& c : std::vector<Case>{
           {"GET /a?x=1" + host + "\r\n", "HTTP/1.1 200 OK", "\r\n\r\nalpha", false},
           {"HEAD /a" + host + "\r\n", "HTTP/1.1 200 OK", "Content-Length: 5\r\n", false},
           {"GET /b" + host + "\r\n", "HTTP/1.1 404", "\r\n\r\nnot found: /b\n", false},
           {"GET /a HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", "Connection: close", true},
           {"GET /a" + host + "connection: Close\r\n\r\n", "HTTP/1.1 200", "alpha", true},
           {"POST /a" + host + "Content-Length: 3\r\n\r\nabc", "HTTP/1.1 405",
            "Allow: GET, HEAD\r\n", true},
           {"GET /events" + host + "\r\n", "HTTP/1.1 200 OK",
            "Content-Type: text/event-stream\r\nCache-Control: no-store\r\n\r\nretry: 2000\n\n",
            false},
           {"HEAD /events" + host + "\r\n", "HTTP/1.1 200 OK", "text/event-stream", true},
           // Refused: no Host, two, a version not served, a line without one, heads too large.
           {"GET /a HTTP/1.1\r\n\r\n", "HTTP/1.1 400", "Host", true},
           {"GET /a" + host + "Host: y\r\n\r\n", "HTTP/1.1 400", "Host", true},
           {"GET /a HTTP/9.9\r\nHost: x\r\n\r\n", "HTTP/1.1 505", "", true},
           {"GET /a\r\n\r\n", "HTTP/1.1 400", "", true},
           {"GET /" + std::string(20000, 'a'), "HTTP/1.1 414", "", true},
           {"GET /a" + host + "X: " + std::string(100000, 'x') + "\r\n\r\n", "HTTP/1.1 431", "",
            true},
           // A GET or HEAD that announces a body is refused before any of it comes, so that a
           // body sent a byte at a time holds no connection; an empty one is no body.
           {"GET /a" + host + "Content-Length: 100000\r\n\r\nx", "HTTP/1.1 400", "no body", true},
           {"HEAD /a" + host + "Transfer-Encoding: chunked\r\n\r\n1\r\n", "HTTP/1.1 400", "", true},
           {"GET /events" + host + "Content-Length: 5\r\n\r\n", "HTTP/1.1 400", "no body", true},
           {"GET /a" + host + "Content-Length: 0\r\n\r\n", "HTTP/1.1 200 OK", "alpha", false}}) {
    Client client(port);
    client.Send(c.request);
    const std::string answer = client.ReadUntil("\x01never", milliseconds(c.closes ? 3000 : 300));
    const std::string what = c.request.substr(0, 60);
    EXPECT_EQ(answer.rfind(c.starts, 0), 0u) << what << " -> " << answer;
    EXPECT_NE(answer.find(c.contains), std::string::npos) << what << " -> " << answer;
    EXPECT_EQ(client.Closed(), c.closes) << what;
    if (c.request.rfind("HEAD", 0) == 0) {
      EXPECT_EQ(answer.find("alpha"), std::string::npos);
      EXPECT_EQ(answer.find("retry"), std::string::npos);
    }
  }
  // Every answer of the server's own, refusals and streams included, carries the headers that
  // keep a browser from guessing types, framing the pages, or running what they do not name.
  for (const std::string& request : std::vector<std::string>{
           "GET /a" + host + "\r\n", "GET /b" + host + "\r\n", "GET /events" + host + "\r\n",
           "HEAD /events" + host + "\r\n", "POST /a" + host + "Content-Length: 3\r\n\r\nabc",
           "GET /a HTTP/1.1\r\n\r\n"}) {
    Client client(port);
    client.Send(request);
    const std::string answer = client.ReadUntil("\r\n\r\n", milliseconds(1000));
    const std::string head = answer.substr(0, answer.find("\r\n\r\n"));
    ASSERT_EQ(head.rfind("HTTP/1.1 ", 0), 0u) << request << " -> " << answer;
    for (const char* header :
         {"\r\nX-Content-Type-Options: nosniff\r\n", "\r\nX-Frame-Options: DENY\r\n",
          "\r\nContent-Security-Policy: default-src 'none'\r\n"})
      EXPECT_NE((head + "\r\n").find(header), std::string::npos) << request << " -> " << head;
    EXPECT_EQ(head.find("'self'"), std::string::npos) << head;
  }
  // Requests sent in one write are all answered, in order, at once; so is one whose client
  // closes its side right after sending it.
  Client pipelined(port);
  pipelined.Send("GET /a" + host + "\r\nGET /b" + host + "\r\nGET /c" + host + "\r\n");
  const std::string three = pipelined.ReadUntil("not found: /c\n", milliseconds(1000));
  std::vector<std::size_t> starts;
  for (std::size_t at = three.find("HTTP/1.1 "); at != std::string::npos;
       at = three.find("HTTP/1.1 ", at + 1))
    starts.push_back(at);
  ASSERT_EQ(starts.size(), 3u) << three;
  EXPECT_EQ(three.compare(starts[0], 15, "HTTP/1.1 200 OK"), 0);
  EXPECT_EQ(three.compare(starts[1], 12, "HTTP/1.1 404"), 0);
  EXPECT_EQ(three.compare(starts[2], 12, "HTTP/1.1 404"), 0);
  EXPECT_LT(three.find("alpha"), starts[1]);
  EXPECT_LT(three.find("not found: /b"), starts[2]);
  EXPECT_EQ(three.substr(three.size() - 14), "not found: /c\n");
  Client halfClosed(port);
  halfClosed.Send("GET /a" + host + "\r\n");
  halfClosed.CloseSending();
  EXPECT_NE(halfClosed.ReadUntil("alpha").find("\r\n\r\nalpha"), std::string::npos);
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

namespace calvora::ctl {
namespace {

// Whether the condition holds within the time.
bool Within(milliseconds limit, const std::function<bool()>& condition) {
  const auto deadline = Clock::now() + limit;
  while (!condition() && Clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(20));
  return condition();
}

// The granule positions of the Ogg pages in the bytes, in order.
std::vector<int64_t> Granules(const std::string& bytes) {
  std::vector<int64_t> granules;
  for (std::size_t at = bytes.find("OggS"); at != std::string::npos && at + 14 <= bytes.size();
       at = bytes.find("OggS", at + 4)) {
    int64_t granule = 0;
    std::memcpy(&granule, bytes.data() + at + 6, 8);
    granules.push_back(granule);
  }
  return granules;
}

TEST(HttpServer, ListenersGetOggOpusKeptInPaceOnePastTheCapIsToldToComeBackAndAStuckOneIsDropped) {
  StationMonitor monitor;
  HttpLimits limits;
  limits.maxUnsent = 8 * 1024;
  limits.stalled = milliseconds(1000);
  ListenFeed feed(64000);  // outlives the server, which closes it
  StationWebServer server(monitor, limits);
  server.ServeAudio(feed, nullptr, 2);
  const int port = server.Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  // Nothing is encoded before anyone listens.
  EXPECT_EQ(feed.Listeners(), 0u);
  auto owned = std::make_unique<Client>(port);
  Client& listener = *owned;
  Client stuck(port, 4096);
  listener.Send("GET /listen HTTP/1.1\r\nHost: x\r\n\r\n");
  stuck.Send("GET /listen HTTP/1.1\r\nHost: x\r\n\r\n");
  // The headers come at once, before any audio: a player starts.
  const std::string head = listener.ReadUntil("OpusTags");
  EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head;
  EXPECT_NE(Lower(head).find("content-type: audio/ogg"), std::string::npos) << head;
  ASSERT_NE(stuck.ReadUntil("OpusTags").find("OpusTags"), std::string::npos);
  ASSERT_TRUE(Eventually([&] { return feed.Listeners() == 2; }));
  EXPECT_NE(TimedGet(port, "/metrics").first.find("\ncalvora_listeners 2\n"), std::string::npos);
  // A third, past the cap of two, is answered at once and told when to come back.
  const std::string refused = TimedGet(port, "/listen").first;
  EXPECT_EQ(refused.rfind("HTTP/1.1 503", 0), 0u) << refused;
  EXPECT_NE(Lower(refused).find("\r\nretry-after: "), std::string::npos) << refused;
  EXPECT_EQ(feed.Listeners(), 2u);

  // No blocks come (the utility stopped): the server's tick fills silence, so the stream goes
  // on at the clock's pace and the stuck client, which reads nothing, is dropped.
  listener.Forget();
  const auto start = Clock::now();
  std::this_thread::sleep_for(milliseconds(1500));
  const std::string silence = listener.ReadUntil("\x01never", milliseconds(300));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const auto granules = Granules(silence);
  ASSERT_GE(granules.size(), 3u) << silence.size() << " bytes; listeners " << feed.Listeners()
                                 << " dropped " << server.Http().DroppedSlowClients();
  // Behind the clock by no more than the fill's margin and the page delay, never ahead of it.
  EXPECT_LE(static_cast<double>(granules.back()), (seconds + 0.1) * 48000);
  EXPECT_GE(static_cast<double>(granules.back()), (seconds - 0.8) * 48000);

  // A burst of blocks (the utility catching up after a stall) is not let run far ahead.
  std::vector<int16_t> block(480 * 2, 1000);
  for (int i = 0; i < 500; ++i)
    feed.OnAudio(48000, 2, block);
  listener.Forget();
  const std::string burst = listener.ReadUntil("\x01never", milliseconds(300));
  const double after = std::chrono::duration<double>(Clock::now() - start).count();
  const auto ahead = Granules(burst);
  ASSERT_FALSE(ahead.empty());
  EXPECT_LE(static_cast<double>(ahead.back()), (after + 1.1) * 48000);

  // The programme goes on (noise, which takes the whole bitrate) while the stuck client reads
  // nothing: once what waits for it passes the bound or stops moving, it is dropped, and the
  // listener that reads stays.
  std::vector<int16_t> noise(480 * 2);
  uint32_t seed = 1;
  for (auto& sample : noise)
    sample = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 17);
  const auto until = Clock::now() + milliseconds(15000);
  while (feed.Listeners() > 1 && Clock::now() < until) {
    for (int i = 0; i < 10; ++i)
      feed.OnAudio(48000, 2, noise);
    listener.Forget();
    listener.ReadUntil("\x01never", milliseconds(100));
  }
  EXPECT_EQ(feed.Listeners(), 1u);
  EXPECT_GE(server.Http().DroppedSlowClients(), 1u);
  // A listener that leaves is let go with its encoder at its next pages.
  owned.reset();
  EXPECT_TRUE(Within(milliseconds(3000), [&] { return feed.Listeners() == 0; }));
}

// Whether `text` holds `name` as a whole word (not only as a part of a longer metric's name).
bool NamesWhole(const std::string& text, const std::string& name) {
  const auto inName = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  };
  for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    const std::size_t end = at + name.size();
    if ((at == 0 || !inName(text[at - 1])) && (end == text.size() || !inName(text[end])))
      return true;
  }
  return false;
}

TEST(HttpServer, ClipsAreServedByTheirNamesAloneAndCounted) {
  const auto root = std::filesystem::temp_directory_path() /
                    ("calvora-served-clips-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root / "2026-12-07");
  std::ofstream(root / "2026-12-07/14-03-07.250-silence.opus") << "OggS clip";
  std::ofstream(root / "2026-12-07/notes.txt") << "private";
  std::ofstream(root / "secret.opus") << "private";
  // What is named like a clip but is no file the keeper wrote: links to a file outside the
  // folder and to an endless device, a pipe that nobody writes, a linked day's folder, a file
  // larger than any clip.
  const auto outside = std::filesystem::path(root.string() + "-outside");
  std::filesystem::create_directories(outside);
  std::ofstream(outside / "14-03-07.250-silence.opus") << "private";
  std::filesystem::create_symlink(outside / "14-03-07.250-silence.opus",
                                  root / "2026-12-07/14-03-08.000-silence.opus");
  std::filesystem::create_symlink("/dev/zero", root / "2026-12-07/14-03-09.000-silence.opus");
  const auto pipe = root / "2026-12-07/14-03-10.000-silence.opus";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::filesystem::create_directory_symlink(outside, root / "2026-12-08");
  std::ofstream(root / "2026-12-07/14-03-11.000-silence.opus") << "private";
  std::filesystem::resize_file(root / "2026-12-07/14-03-11.000-silence.opus",
                               ClipKeeper::kLargestClipBytes + 1);
  {
    StationMonitor monitor("studio-1");
    ListenFeed feed(64000);
    StationWebServer server(monitor);
    ClipKeeper clips(ClipFolder(root, ClipBounds{}), 64000, [](const std::string&) {});
    server.ServeAudio(feed, &clips);
    const int port = server.Start({"127.0.0.1", 0});
    ASSERT_GT(port, 0);
    const std::string clip = TimedGet(port, "/clips/2026-12-07/14-03-07.250-silence.opus").first;
    EXPECT_EQ(clip.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << clip;
    EXPECT_NE(Lower(clip).find("content-type: audio/ogg"), std::string::npos) << clip;
    EXPECT_NE(clip.find("\r\n\r\nOggS clip"), std::string::npos) << clip;
    for (const char* path :
         {"/clips/2026-12-07/notes.txt", "/clips/../secret.opus", "/clips/%2e%2e/secret.opus",
          "/clips/2026-12-07/../secret.opus", "/clips/2026-12-07/15-00-00.000-sound.opus",
          "/clips/2026-12-07/14-03-08.000-silence.opus",
          "/clips/2026-12-07/14-03-09.000-silence.opus",
          "/clips/2026-12-07/14-03-10.000-silence.opus",
          "/clips/2026-12-08/14-03-07.250-silence.opus",
          "/clips/2026-12-07/14-03-11.000-silence.opus"}) {
      const auto [refused, ms] = TimedGet(port, path);
      EXPECT_EQ(refused.rfind("HTTP/1.1 404", 0), 0u) << path << ": " << refused.substr(0, 200);
      EXPECT_EQ(refused.find("private"), std::string::npos) << path;
      EXPECT_LT(ms, 1000) << path;
      // A server thread stuck opening the pipe is let go, so that a failure ends.
      const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0)
        ::close(writer);
    }
    const std::string metrics = TimedGet(port, "/metrics").first;
    EXPECT_NE(metrics.find("\ncalvora_clips_written_total{station=\"studio-1\"} 0\n"),
              std::string::npos)
        << metrics;
    // --help names every metric a server with listening in and clips exposes (the section both
    // systems share), so that a metric added is a metric documented.
    std::size_t served = 0;
    for (std::size_t at = metrics.find("# TYPE "); at != std::string::npos;
         at = metrics.find("# TYPE ", at + 1), ++served) {
      const std::size_t start = at + 7;
      const std::string name = metrics.substr(start, metrics.find(' ', start) - start);
      EXPECT_TRUE(NamesWhole(UsageText(), name)) << name << " is not named in --help";
    }
    EXPECT_GE(served, 25u) << metrics;
    EXPECT_TRUE(Within(milliseconds(2000), [&] {
      return TimedGet(port, "/metrics")
                 .first.find("\ncalvora_clips_bytes{station=\"studio-1\"} " +
                             std::to_string(9 + ClipKeeper::kLargestClipBytes + 1) + "\n") !=
             std::string::npos;
    }));
  }
  std::filesystem::remove_all(root);
  std::filesystem::remove_all(outside);
}

}  // namespace
}  // namespace calvora::ctl

namespace calvora::ctl {
namespace {

std::string Base64(const std::string& text) {
  static const char* const kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(text[i]) << 16;
    if (i + 1 < text.size())
      group |= static_cast<uint8_t>(text[i + 1]) << 8;
    if (i + 2 < text.size())
      group |= static_cast<uint8_t>(text[i + 2]);
    for (std::size_t k = 0; k < 4; ++k)
      out += i + k <= text.size() ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::string GetWithPassword(const std::string& user, const std::string& password) {
  return "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Basic " +
         Base64(user + ":" + password) + "\r\n\r\n";
}

// One request on a new connection from `source`: the whole answer, and its time in ms.
std::pair<std::string, double> Timed(int port, const std::string& request,
                                     const char* source = nullptr) {
  const auto start = Clock::now();
  Client client(port, 0, source);
  client.Send(request);
  std::string answer = client.ReadUntil("\x01never", milliseconds(5000));
  return {answer, std::chrono::duration<double, std::milli>(Clock::now() - start).count()};
}

std::string StatusOf(const std::string& answer) {
  return answer.size() >= 12 ? answer.substr(9, 3) : "none: " + answer;
}

// A password check that holds every check until let go; the right password is "right". The
// check thread shares it, and may outlive the server.
struct HeldCheck {
  std::mutex mutex;
  std::condition_variable changed;
  bool let = false;
  int begun = 0, ended = 0;

  bool Check(const std::string& password) {
    std::unique_lock lock(mutex);
    ++begun;
    changed.notify_all();
    changed.wait(lock, [this] { return let; });
    ++ended;
    changed.notify_all();
    return password == "right";
  }
  void Let() {
    std::lock_guard lock(mutex);
    let = true;
    changed.notify_all();
  }
  bool Reached(int HeldCheck::*count, int value) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, milliseconds(3000), [&] { return this->*count >= value; });
  }
};

HttpSecurity Held(const std::shared_ptr<HeldCheck>& held) {
  HttpSecurity security;
  security.checkPassword = [held](const std::string&, const std::string& password) {
    return held->Check(password);
  };
  security.passedBefore = [](const std::string& user, const std::string& password) {
    return user == "prometheus" && password == "remembered";
  };
  return security;
}

TEST(HttpServer, PasswordChecksWaitInABoundedQueueAndARememberedPasswordPassesAtOnce) {
  auto held = std::make_shared<HeldCheck>();
  HttpLimits limits;
  limits.passwordQueue = 2;
  HttpServer server(limits, Held(held));
  server.Get("/metrics", [] { return HttpResponse{200, "text/plain", "m 1\n"}; });
  const int port = server.Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  // One check under way and two waiting, each from an address of its own.
  std::vector<std::unique_ptr<Client>> waiting;
  for (const char* source : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
    waiting.push_back(std::make_unique<Client>(port, 0, source));
    waiting.back()->Send(GetWithPassword("prometheus", "guess"));
    // The first is taken off the queue before the others come.
    ASSERT_TRUE(held->Reached(&HeldCheck::begun, 1));
  }
  ASSERT_TRUE(Eventually([&] { return server.PasswordChecksWaiting() == 3; }));
  // The queue is full: the next is answered at once.
  const std::string full = Timed(port, GetWithPassword("prometheus", "x"), "127.0.0.5").first;
  EXPECT_EQ(StatusOf(full), "503") << full;
  EXPECT_NE(full.find("Retry-After: 1\r\n"), std::string::npos) << full;
  // A remembered password, and none at all, wait for no check.
  const auto [remembered, ms] = Timed(port, GetWithPassword("prometheus", "remembered"));
  EXPECT_EQ(StatusOf(remembered), "200") << remembered;
  EXPECT_LT(ms, 500);
  const std::string none =
      Timed(port, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").first;
  EXPECT_EQ(StatusOf(none), "401") << none;
  EXPECT_EQ(held->begun, 1);
  // Let go, the waiting checks are answered in turn, and a right password passes.
  held->Let();
  for (auto& client : waiting) {
    const std::string answer = client->ReadUntil("unauthorised");
    EXPECT_EQ(StatusOf(answer), "401") << answer;
    EXPECT_NE(answer.find("WWW-Authenticate: Basic"), std::string::npos) << answer;
  }
  const std::string right = Timed(port, GetWithPassword("prometheus", "right"), "127.0.0.6").first;
  EXPECT_EQ(StatusOf(right), "200") << right;
  EXPECT_NE(right.find("m 1"), std::string::npos);
}

TEST(HttpServer, StoppingWaitsForNoPasswordCheck) {
  auto held = std::make_shared<HeldCheck>();
  auto server = std::make_unique<HttpServer>(HttpLimits{}, Held(held));
  server->Get("/metrics", [] { return HttpResponse{200, "text/plain", "m 1\n"}; });
  const int port = server->Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  Client checked(port), queued(port);
  checked.Send(GetWithPassword("prometheus", "right"));
  ASSERT_TRUE(held->Reached(&HeldCheck::begun, 1));
  queued.Send(GetWithPassword("prometheus", "right"));
  ASSERT_TRUE(Eventually([&] { return server->PasswordChecksWaiting() == 2; }));
  const auto start = Clock::now();
  server.reset();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
  // Neither request was let in: both connections end, with 503 or without an answer.
  for (Client* client : {&checked, &queued}) {
    const std::string answer = client->ReadUntil("\x01never", milliseconds(2000));
    EXPECT_TRUE(client->Closed());
    EXPECT_EQ(answer.find("m 1"), std::string::npos) << answer;
  }
  // The check let go finishes on its own, after the server has gone.
  held->Let();
  EXPECT_TRUE(held->Reached(&HeldCheck::ended, 1));
  EXPECT_EQ(held->begun, 1);
}

TEST(HttpServer, AnAddressPastItsWrongPasswordsGets429WithoutACheck) {
  auto checks = std::make_shared<std::atomic<int>>(0);
  HttpSecurity security;
  security.checkPassword = [checks](const std::string&, const std::string& password) {
    ++*checks;
    return password == "right";
  };
  HttpLimits limits;
  limits.passwordFailures = 3;
  HttpServer server(limits, security);
  server.Get("/metrics", [] { return HttpResponse{200, "text/plain", "m 1\n"}; });
  const int port = server.Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(StatusOf(Timed(port, GetWithPassword("a", "wrong"), "127.0.0.2").first), "401");
  for (const char* password : {"wrong", "right"}) {
    const std::string limited = Timed(port, GetWithPassword("a", password), "127.0.0.2").first;
    EXPECT_EQ(StatusOf(limited), "429") << limited;
    const std::size_t retry = limited.find("Retry-After: ");
    ASSERT_NE(retry, std::string::npos) << limited;
    const int seconds = std::stoi(limited.substr(retry + 13));
    EXPECT_GE(seconds, 59);
    EXPECT_LE(seconds, 60);
  }
  EXPECT_EQ(checks->load(), 3);
  // Another address is not held to the first one's guesses.
  EXPECT_EQ(StatusOf(Timed(port, GetWithPassword("a", "right"), "127.0.0.3").first), "200");
  EXPECT_EQ(checks->load(), 4);
}

// 16 clients guessing without pause (never limited here, so that the checks never stop) beside
// a scraper whose password passed before: its scrapes wait for none of their checks.
TEST(HttpServer, SixteenGuessersLeaveARememberedScrapeUnderHalfASecond) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  crypt_data data{};
  ASSERT_NE(crypt_gensalt_rn("$2y$", 10, nullptr, 0, setting, sizeof setting), nullptr);
  ASSERT_NE(crypt_rn("scrape me", setting, &data, sizeof data), nullptr);
  WebConfig config;
  config.users["prometheus"] = data.output;
  std::string error;
  auto security = MakeHttpSecurity(config, "web.yml", error);
  ASSERT_TRUE(security) << error;
  HttpLimits limits;
  limits.passwordFailures = 1000000;
  HttpServer server(limits, *security);
  server.Get("/metrics", [] { return HttpResponse{200, "text/plain", "m 1\n"}; });
  const int port = server.Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  ASSERT_EQ(StatusOf(Timed(port, GetWithPassword("prometheus", "scrape me")).first), "200");

  std::atomic<bool> stop{false};
  std::atomic<int> refused{0};
  std::vector<std::thread> guessers;
  for (int n = 0; n < 16; ++n)
    guessers.emplace_back([&, n] {
      const std::string source = "127.0.1." + std::to_string(n + 1);
      while (!stop) {
        const std::string answer =
            Timed(port, GetWithPassword("prometheus", "guess"), source.c_str()).first;
        refused += StatusOf(answer) == "401" ? 1 : 0;
      }
    });
  // Every guesser is under way (each has had a wrong password answered) before the scrapes.
  EXPECT_TRUE(Within(milliseconds(10000), [&] { return refused.load() >= 16; }));
  double slowest = 0;
  for (int i = 0; i < 15; ++i) {
    const auto [answer, ms] = Timed(port, GetWithPassword("prometheus", "scrape me"));
    EXPECT_EQ(StatusOf(answer), "200") << answer;
    slowest = std::max(slowest, ms);
    std::this_thread::sleep_for(milliseconds(100));
  }
  stop = true;
  for (auto& guesser : guessers)
    guesser.join();
  RecordProperty("slowest_ms", std::to_string(slowest));
  std::printf("slowest of 15 remembered scrapes beside 16 guessers: %.1f ms (%d guesses)\n",
              slowest, refused.load());
  EXPECT_LT(slowest, 500);
  EXPECT_GE(refused.load(), 10);  // the guessing went on meanwhile
}

// Streams and connections that never send their request cannot take the connections kept for
// plain answers, in all or from one address.
TEST(HttpServer, StreamsAndUnfinishedRequestsLeaveRoomForScrapes) {
  HttpLimits limits;
  limits.maxConnections = 40;
  limits.reservedForAnswers = 8;
  limits.maxPerAddress = 30;
  limits.reservedPerAddress = 4;
  HttpServer server(limits);
  server.Stream("/events", [] { return std::string("event: hello\n\n"); });
  server.Get("/metrics", [] { return HttpResponse{200, "text/plain", "m 1\n"}; });
  const int port = server.Start({"127.0.0.1", 0});
  ASSERT_GT(port, 0);
  // From one address 26 streams at most (30 less 4); in all 32 (40 less 8).
  std::vector<std::unique_ptr<Client>> streams;
  int opened = 0, refused = 0;
  for (int i = 0; i < 40; ++i) {
    const char* source = i < 30 ? "127.0.0.2" : "127.0.0.3";
    streams.push_back(std::make_unique<Client>(port, 0, source));
    streams.back()->Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string answer = streams.back()->ReadUntil("\r\n\r\n");
    opened += StatusOf(answer) == "200" ? 1 : 0;
    if (StatusOf(answer) == "503") {
      ++refused;
      EXPECT_NE(answer.find("Retry-After: "), std::string::npos) << answer;
    }
  }
  EXPECT_EQ(opened, 26 + 6);
  EXPECT_EQ(refused, 40 - 32);
  EXPECT_EQ(server.Streams(), 32u);
  // Connections that never send a request, from one address and from many: the oldest are
  // closed as new ones come, and a scrape still finds room at once.
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < 60; ++i) {
    const std::string source = "127.0.2." + std::to_string(i < 30 ? 1 : i);
    idle.push_back(std::make_unique<Client>(port, 0, source.c_str()));
  }
  ASSERT_TRUE(Eventually([&] { return server.Connections() >= 33; }));
  const auto [answer, ms] =
      Timed(port, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), "200") << answer;
  EXPECT_LT(ms, 1000);
  EXPECT_LE(server.Connections(), 40u);
  EXPECT_EQ(server.Streams(), 32u);
}

}  // namespace
}  // namespace calvora::ctl
