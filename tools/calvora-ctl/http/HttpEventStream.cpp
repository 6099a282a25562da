#include "HttpEventStream.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstring>

namespace calvora::ctl {

HttpEventStream::HttpEventStream(MHD_Connection* connection, SocketHandle socket, std::string first,
                                 std::size_t maxUnsent, std::chrono::milliseconds stalled)
    : connection_(connection),
      socket_(socket),
      pending_(std::move(first)),
      maxUnsent_(maxUnsent),
      stalled_(stalled) {}

bool HttpEventStream::Append(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (dropped_ || ended_ || finishing_ || closed_)
    return false;
  const std::size_t unsent = pending_.size() - taken_;
  if (unsent + text.size() > maxUnsent_ || (unsent > 0 && Clock::now() - lastTaken_ > stalled_)) {
    DropLocked();
    return true;
  }
  if (unsent == 0)
    lastTaken_ = Clock::now();  // the time to take these bytes starts now
  pending_ += text;
  ResumeLocked();
  return false;
}

bool HttpEventStream::DropIfStalled(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (dropped_ || ended_ || closed_ || pending_.size() == taken_ || now - lastTaken_ <= stalled_)
    return false;
  DropLocked();
  return true;
}

void HttpEventStream::End() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  ResumeLocked();
}

void HttpEventStream::Finish() {
  std::lock_guard lock(mutex_);
  finishing_ = true;
  ResumeLocked();
}

void HttpEventStream::Closed() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

bool HttpEventStream::WasDropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

bool HttpEventStream::Over() const {
  std::lock_guard lock(mutex_);
  return dropped_ || ended_ || finishing_ || closed_;
}

void HttpEventStream::DropLocked() {
  dropped_ = true;
  std::string().swap(pending_);
  taken_ = 0;
  // The library, which may be waiting to write to the client, sees the socket's end at once;
  // the socket is still open, as the connection has not been closed yet.
  if (!closed_ && socket_ != kNoSocket)
    ShutdownSocket(socket_);
  ResumeLocked();
}

void HttpEventStream::ResumeLocked() {
  // A suspended connection is never closed meanwhile, so it is still there to resume.
  if (suspended_ && !closed_) {
    suspended_ = false;
    MHD_resume_connection(connection_);
  }
}

ssize_t HttpEventStream::Read(char* buffer, std::size_t max) {
  std::lock_guard lock(mutex_);
  if (dropped_ || ended_)
    return MHD_CONTENT_READER_END_WITH_ERROR;
  const std::size_t unsent = pending_.size() - taken_;
  if (unsent == 0 && finishing_)
    return MHD_CONTENT_READER_END_OF_STREAM;
  if (unsent == 0) {
    // Nothing to send: waits, off the server's loop, for the next broadcast.
    suspended_ = true;
    MHD_suspend_connection(connection_);
    return 0;
  }
  const std::size_t n = std::min(max, unsent);
  std::memcpy(buffer, pending_.data() + taken_, n);
  taken_ += n;
  lastTaken_ = Clock::now();
  if (taken_ == pending_.size()) {
    pending_.clear();
    taken_ = 0;
  } else if (taken_ > 65536) {
    pending_.erase(0, taken_);  // keeps the buffer to what is unsent
    taken_ = 0;
  }
  return static_cast<ssize_t>(n);
}

}  // namespace calvora::ctl
