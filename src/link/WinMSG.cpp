#include "link/WinMSG.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace calvora::link {

namespace {

// Windows are ordered by their handles read as signed 32-bit numbers.
int32_t SignedHandle(WindowHandle handle) {
  return static_cast<int32_t>(handle);
}

bool HandleLess(const PeerEntry& entry, WindowHandle handle) {
  return SignedHandle(entry.Handle) < SignedHandle(handle);
}

void PutLittleEndian(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLittleEndian(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

}  // namespace

void AudioBlockHeader::Write(std::span<uint8_t, kSize> out) const {
  PutLittleEndian(&out[0], static_cast<uint32_t>(SampleRate), 4);
  out[4] = Channels;
  out[5] = BitsPerSample;
  PutLittleEndian(&out[6], std::bit_cast<uint64_t>(LeftLevel), 8);
  PutLittleEndian(&out[14], std::bit_cast<uint64_t>(RightLevel), 8);
}

std::optional<AudioBlockHeader> AudioBlockHeader::Read(std::span<const uint8_t> packet) {
  if (packet.size() < kSize)
    return std::nullopt;
  AudioBlockHeader header;
  header.SampleRate = static_cast<int32_t>(static_cast<uint32_t>(GetLittleEndian(&packet[0], 4)));
  header.Channels = packet[4];
  header.BitsPerSample = packet[5];
  header.LeftLevel = std::bit_cast<double>(GetLittleEndian(&packet[6], 8));
  header.RightLevel = std::bit_cast<double>(GetLittleEndian(&packet[14], 8));
  return header;
}

std::vector<uint8_t> AudioBlockHeader::Pack(std::span<const uint8_t> samples) const {
  std::vector<uint8_t> packet(kSize + samples.size());
  Write(std::span<uint8_t, kSize>(packet.data(), kSize));
  if (!samples.empty())
    std::memcpy(packet.data() + kSize, samples.data(), samples.size());
  return packet;
}

TWinMSG::TWinMSG(platform::Desktop& desktop, platform::Timers& timers)
    : TWinMSG(desktop, timers, desktop.OwnWindow()) {}

TWinMSG::TWinMSG(platform::Desktop& desktop, platform::Timers& timers, WindowHandle ownWindow)
    : desktop_(desktop), ownWindow_(ownWindow) {
  desktop_.SetUnansweredHandler([this](WindowHandle window) { DropUnanswering(window); });
  // Started by the first hello: an idle program wakes for nothing.
  scanTimer_ = timers.CreateTimer(kScanIntervalMs, [this] { ScanPeers(); });
}

TWinMSG::~TWinMSG() {
  desktop_.SetUnansweredHandler(nullptr);
  scanTimer_->SetEnabled(false);
  scanTimer_.reset();
  peers_.clear();
  announced_.clear();
}

void TWinMSG::DecodeCommand(uint32_t lParam, uint16_t& code, uint16_t& argument) {
  code = static_cast<uint16_t>(lParam >> 16);
  argument = static_cast<uint16_t>(lParam & 0xFFFFu);
}

uint32_t TWinMSG::EncodeCommand(uint16_t code, uint16_t argument) {
  return (static_cast<uint32_t>(code) << 16) | argument;
}

bool TWinMSG::HandleControl(const TMessage& message, uint16_t& code, uint16_t& argument) {
  DecodeCommand(message.LParam, code, argument);
  if (code != WINMSG_CONTROL)
    return false;
  // Identify is open to anyone; a hello or goodbye only counts for the sender's own window,
  // or any program could drop another's peer or sign another window up.
  const WindowHandle sender = desktop_.MessageSender();
  if (argument == CTRL_IDENTIFY || sender == 0 || message.WParam != sender)
    return true;
  if (argument == CTRL_HELLO)
    AnnouncePeer(message.WParam);
  else
    DropPeer(message.WParam);
  return true;
}

void TWinMSG::DropUnanswering(WindowHandle target) {
  if (FindPeer(peers_, target) < 0)
    return;
  DropPeer(target);
  desktop_.PostMessage(target, WM_WINMSG, ownWindow_, EncodeCommand(WINMSG_CONTROL, CTRL_BYE),
                       platform::Desktop::Answer::kNone);
}

int32_t TWinMSG::SendCommand(WindowHandle target, uint16_t code, uint16_t argument) {
  const platform::SendResult sent =
      desktop_.SendMessage(target, WM_WINMSG, ownWindow_, EncodeCommand(code, argument));
  return sent.status == platform::result::kOk ? sent.answer : 0;
}

void TWinMSG::SendData(WindowHandle target, uint16_t code, uint16_t argument, const void* bytes,
                       std::size_t count) {
  const std::span<const uint8_t> data(static_cast<const uint8_t*>(bytes), bytes ? count : 0);
  desktop_.PostData(target, ownWindow_, EncodeCommand(code, argument), data,
                    platform::Desktop::Answer::kWatch);
}

int TWinMSG::NextPeerAfter(WindowHandle after, bool first) const {
  if (first)
    return peers_.empty() ? -1 : 0;
  const auto next = std::upper_bound(peers_.begin(), peers_.end(), after,
                                     [](WindowHandle handle, const PeerEntry& e) {
                                       return SignedHandle(handle) < SignedHandle(e.Handle);
                                     });
  return next == peers_.end() ? -1 : static_cast<int>(next - peers_.begin());
}

void TWinMSG::SendToPeers(uint16_t code, uint16_t argument) {
  // A desktop may let messages in while it hands one over, and a bye among them changes
  // Peers, so the walk goes by handle rather than by position: a removed peer is skipped,
  // none is visited twice.
  const uint32_t lParam = EncodeCommand(code, argument);
  for (int i = NextPeerAfter(0, true); i >= 0;) {
    const WindowHandle target = peers_[static_cast<std::size_t>(i)].Handle;
    desktop_.PostMessage(target, WM_WINMSG, ownWindow_, lParam, platform::Desktop::Answer::kWatch);
    i = NextPeerAfter(target, false);
  }
}

void TWinMSG::SendDataToPeers(uint16_t code, uint16_t argument, const void* bytes,
                              std::size_t count) {
  // A peer that is behind already has a queue of blocks to work through; more would only
  // grow it. Notifications are never left out.
  for (int i = NextPeerAfter(0, true); i >= 0;) {
    PeerEntry& peer = peers_[static_cast<std::size_t>(i)];
    const WindowHandle target = peer.Handle;
    if (desktop_.Behind(target))
      ++peer.SkippedBlocks;
    else
      SendData(target, code, argument, bytes, count);
    i = NextPeerAfter(target, false);
  }
}

void TWinMSG::AnnouncePeer(WindowHandle window) {
  if (FindPeer(peers_, window) >= 0)
    return;
  announced_.push_back(PeerEntry{window, {}});
  if (!scanTimer_->Enabled())
    scanTimer_->SetEnabled(true);
}

void TWinMSG::DropPeer(WindowHandle window) {
  std::erase_if(peers_, [window](const PeerEntry& e) { return e.Handle == window; });
}

int TWinMSG::FindPeer(const std::vector<PeerEntry>& list, WindowHandle handle) {
  const auto found = std::lower_bound(list.begin(), list.end(), handle, HandleLess);
  if (found == list.end() || found->Handle != handle)
    return -1;
  return static_cast<int>(found - list.begin());
}

void TWinMSG::ScanPeers() {
  if (scanning_)
    return;
  scanning_ = true;

  std::vector<PeerEntry> snapshot;
  for (platform::WindowInfo& window : desktop_.EnumWindows()) {
    PeerEntry entry{window.handle, std::move(window.className)};
    if (entry.ClassName.size() > PeerEntry::kMaxClassName)
      entry.ClassName.resize(PeerEntry::kMaxClassName);
    snapshot.push_back(std::move(entry));
  }
  std::sort(snapshot.begin(), snapshot.end(), [](const PeerEntry& a, const PeerEntry& b) {
    return SignedHandle(a.Handle) < SignedHandle(b.Handle);
  });

  // Admit the announced windows that are top-level windows now.
  while (!announced_.empty()) {
    PeerEntry entry = std::move(announced_.front());
    announced_.pop_front();
    if (FindPeer(peers_, entry.Handle) >= 0)
      continue;
    const int window = FindPeer(snapshot, entry.Handle);
    if (window < 0)
      continue;
    entry.ClassName = snapshot[static_cast<std::size_t>(window)].ClassName;
    const auto at = std::lower_bound(peers_.begin(), peers_.end(), entry.Handle, HandleLess);
    peers_.insert(at, std::move(entry));
  }

  // Keep only peers whose window still exists with the same class.
  std::erase_if(peers_, [&snapshot](const PeerEntry& peer) {
    const int window = FindPeer(snapshot, peer.Handle);
    return window < 0 || snapshot[static_cast<std::size_t>(window)].ClassName != peer.ClassName;
  });

  // Nothing left to admit or to watch: the next hello starts the scans again.
  if (peers_.empty() && announced_.empty())
    scanTimer_->SetEnabled(false);
  scanning_ = false;
}

}  // namespace calvora::link
