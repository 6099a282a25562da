#pragma once
// One open event stream: what was broadcast and its client has not taken yet, handed to
// libmicrohttpd as the client takes it. With nothing to send the connection is suspended, so
// the server's thread does not spin on it, and the next broadcast resumes it. A client that
// leaves more than its share unread, or takes nothing for a while, is dropped: its buffer is
// let go and its socket shut down at once, so the library closes the connection.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "system/ServerSocket.h"

struct MHD_Connection;

namespace calvora::ctl {

class HttpEventStream {
 public:
  using Clock = std::chrono::steady_clock;

  // `socket` is the connection's, shut down when the client is dropped.
  HttpEventStream(MHD_Connection* connection, SocketHandle socket, std::string first,
                  std::size_t maxUnsent, std::chrono::milliseconds stalled);

  // Appends the text; false when that drops the client (it left too much unread, or took
  // nothing for the stalled time) and it was not dropped before.
  bool Append(const std::string& text);
  // Drops the client if it has taken nothing for the stalled time; true when it did now.
  bool DropIfStalled(Clock::time_point now);
  // Ends the stream at its next read (the server stops).
  void End();
  // Ends the stream once its client has taken what was appended (the stream's own end).
  void Finish();
  // The connection is over: nothing is resumed any more.
  void Closed();
  bool WasDropped() const;
  // Dropped, ended, finishing or closed: nothing more reaches the client.
  bool Over() const;

  // libmicrohttpd's content reader: copies what waits into `buffer`.
  ssize_t Read(char* buffer, std::size_t max);

 private:
  void DropLocked();
  void ResumeLocked();

  mutable std::mutex mutex_;
  MHD_Connection* connection_;
  const SocketHandle socket_;
  std::string pending_;
  std::size_t taken_ = 0;  // of pending_
  const std::size_t maxUnsent_;
  const std::chrono::milliseconds stalled_;
  Clock::time_point lastTaken_ = Clock::now();
  bool suspended_ = false;
  bool dropped_ = false;
  bool ended_ = false;
  bool finishing_ = false;
  bool closed_ = false;
};

}  // namespace calvora::ctl
