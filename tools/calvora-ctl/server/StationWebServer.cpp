#include "StationWebServer.h"

#include "ExpositionWriter.h"
#include "LiveJson.h"
#include "LivePage.h"
#include "MetricsExposition.h"
#include "StatusJson.h"
#include "audio/ClipNames.h"
#include "events/JsonValues.h"
#include "events/LocalTime.h"
#include "http/HttpEventStream.h"
#include "system/ClipFiles.h"
#include "system/Utf8Path.h"

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
  // Set on every answer: the policy is the page's, and tells a browser nothing harmful about
  // the metrics, the state or the sound.
  server_.Header("Content-Security-Policy", LivePagePolicy());
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
    if (clips_) {
      const ClipFigures clips = clips_->Figures();
      if (clips.stopped != clipsStopped_)
        OnNotice(clips.stopped ? "clips-stopped" : "clips-resumed", clips.why);
      clipsStopped_ = clips.stopped;
    }
    if (server_.Streams() > 0)
      server_.Broadcast(StreamMessage("live", LiveJson(monitor_.Snapshot())));
  });
}

StationWebServer::~StationWebServer() {
  // The feed's thread stops, and ends the listeners' streams, before the server goes.
  if (listen_)
    listen_->Close();
}

std::string StationWebServer::ServerMetrics() const {
  ExpositionWriter out(station_);
  out.Add("calvora_http_connections", "gauge", "Connections open to this server.",
          {static_cast<double>(server_.Connections())});
  out.Add("calvora_http_streams", "gauge", "Event streams of the live page open.",
          {static_cast<double>(server_.Streams())});
  out.Add("calvora_http_dropped_slow_clients_total", "counter", "Clients dropped for not reading.",
          {static_cast<double>(server_.DroppedSlowClients())});
  if (listen_) {
    // The feed's figures are atomics: a scrape never waits on the encoder.
    const ListenFeed::Figures listen = listen_->Read();
    out.Add("calvora_listeners", "gauge", "Listeners of the programme at /listen.",
            {static_cast<double>(listen.listeners)});
    out.Add("calvora_listen_blocks_dropped_total", "counter",
            "Blocks left out of /listen because its encoder was behind.",
            {static_cast<double>(listen.blocksDropped)});
  }
  if (clips_) {
    const ClipFigures clips = clips_->Figures();
    out.Add("calvora_clips_written_total", "counter", "Clips of events written.",
            {static_cast<double>(clips.written)});
    out.Add("calvora_clips_failed_total", "counter", "Clips of events that could not be written.",
            {static_cast<double>(clips.failed)});
    out.Add("calvora_clips_bytes", "gauge", "Bytes the clips folder keeps.",
            {static_cast<double>(clips.bytesKept)});
  }
  return out.Text();
}

void StationWebServer::ServeAudio(ListenFeed& listen, const ClipKeeper* clips,
                                  std::size_t maxListeners) {
  listen_ = &listen;
  clips_ = clips;
  server_.Feed(
      "/listen", "audio/ogg",
      [this](std::shared_ptr<HttpEventStream> stream) {
        listen_->Join(
            [this, stream](const std::string& bytes) { return server_.Deliver(stream, bytes); },
            [stream] { stream->Finish(); });
      },
      maxListeners);
  if (clips_)
    server_.GetUnder("/clips/", [this](const std::string& name) { return Clip(name); });
}

HttpResponse StationWebServer::Clip(const std::string& name) const {
  // Only a clip's name is looked up: nothing outside the folder, and no other file in it. It is
  // read only as the regular file it is there, never through a link and never waiting on a
  // pipe, and only at a clip's size.
  if (!IsClipName(name))
    return {404, "text/plain; charset=utf-8", "no such clip\n"};
  FileRead clip =
      ReadFileUnder(clips_->Folder().Root(), PathFromUtf8(name), ClipKeeper::kLargestClipBytes);
  if (clip.result != FileRead::kRead)
    return {404, "text/plain; charset=utf-8", "no such clip (yet)\n"};
  return {200, "audio/ogg", std::move(clip.bytes)};
}

void StationWebServer::OnNotice(const std::string& what, const std::string& why) {
  if (server_.Streams() > 0)
    server_.Broadcast(StreamMessage(
        "station", Json{{"time", StampNow().iso}, {"event", what}, {"why", why}}.dump()));
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
