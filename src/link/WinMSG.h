#pragma once
// The command channel to controlling programs: window messages between the utility's
// window and the windows of the programs that announced themselves ("peers"). Peers get the
// device and silence notifications and every captured audio block; their commands reach the
// main window through HandleControl. The channel checks its peers every 100 ms and keeps
// only windows that still exist with the class they had when they were admitted; with no peer
// and none announced there is nothing to check, and the channel sleeps until a hello.
//
// Notifications and audio blocks are posted: the utility never waits on a peer, and the
// peers' answers to them are not read; the messages to one peer keep their order. A peer
// that is busy for a while keeps its place and gets every notification, late; the audio
// blocks it is sent while it is behind are left out (and counted), so its next block is a
// whole one with its own header. Only a peer that answers nothing for the desktop's give-up
// time is dropped and posted a goodbye that asks for no answer; it may announce itself
// again. Only a window itself can announce itself or say goodbye: a hello or goodbye whose
// wParam names another window than its sender's changes nothing.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/Timers.h"

namespace calvora::link {

using platform::WindowHandle;

// The command message: wParam the sender's window, lParam code x 65536 + argument.
constexpr uint32_t WM_WINMSG = 2102;
// Audio blocks travel as the desktop's data message (SendData/PostData): wParam the sender's
// window, kind code x 65536 + argument, then the bytes.

// Codes, the high word of lParam.
constexpr uint16_t WINMSG_CONTROL = 0x7FFF;
constexpr uint16_t CMD_RUN = 0;
constexpr uint16_t CMD_STOP = 1;
constexpr uint16_t CMD_UNMUTE = 2;
constexpr uint16_t CMD_MUTE = 3;
// Asks for the current verdict on the sound card; answered with one of VERDICT_*. A utility
// that does not know the code answers 0, as it does every unknown code.
constexpr uint16_t CMD_VERDICT = 4;
constexpr uint16_t NTF_SILENCE = 0x0400;
constexpr uint16_t NTF_SOUND = 0x0401;
constexpr uint16_t NTF_OFFLINE = 0x1000;
constexpr uint16_t NTF_ONLINE = 0x1001;

// Arguments of WINMSG_CONTROL. Any argument other than hello and identify is a goodbye.
constexpr uint16_t CTRL_HELLO = 0;
constexpr uint16_t CTRL_BYE = 2;
constexpr uint16_t CTRL_IDENTIFY = 0x7FFF;

// Arguments of CMD_RUN, CMD_STOP and the device notifications.
constexpr uint16_t RUN_RESTORE = 2;
constexpr uint16_t STOP_MUTE = 3;
constexpr uint16_t DEV_CARD = 0;
constexpr uint16_t DEV_MIXER = 1;

// Answers to CMD_VERDICT. 0 is no answer: a utility that does not know the question.
constexpr int32_t VERDICT_UNKNOWN = 0;
constexpr int32_t VERDICT_SOUND = 1;
constexpr int32_t VERDICT_SILENCE = 2;
constexpr int32_t VERDICT_NOT_STARTED = 3;   // the work is stopped or not started yet
constexpr int32_t VERDICT_NO_CAPTURE = 4;    // the work runs but the sound card is not capturing
constexpr int32_t VERDICT_NO_DETECTION = 5;  // the card captures but no silence is looked for

// A received window message; the handler writes Result, the answer to the sender.
struct TMessage {
  uint32_t Msg = 0;
  uint32_t WParam = 0;
  uint32_t LParam = 0;
  int32_t Result = 0;
};

// The header in front of every forwarded audio block: 22 bytes, packed, little-endian,
// followed by the block's bytes exactly as captured.
struct AudioBlockHeader {
  static constexpr std::size_t kSize = 22;

  int32_t SampleRate = 0;
  uint8_t Channels = 2;
  uint8_t BitsPerSample = 16;
  double LeftLevel = 0.0;
  double RightLevel = 0.0;

  // Writes the 22 header bytes to out.
  void Write(std::span<uint8_t, kSize> out) const;
  // The header of a packet; nothing when the packet is shorter than a header.
  static std::optional<AudioBlockHeader> Read(std::span<const uint8_t> packet);
  // A fresh packet: this header followed by the samples.
  std::vector<uint8_t> Pack(std::span<const uint8_t> samples) const;
};

struct PeerEntry {
  static constexpr std::size_t kMaxClassName = 252;

  WindowHandle Handle = 0;
  std::string ClassName;       // as read when the peer was admitted; empty while announced
  uint64_t SkippedBlocks = 0;  // audio blocks left out while the peer was behind
};

class TWinMSG {
 public:
  static constexpr int32_t kScanIntervalMs = 100;

  // ownWindow is sent as wParam in every message (0 for a program without a window);
  // it defaults to the desktop's own window.
  TWinMSG(platform::Desktop& desktop, platform::Timers& timers);
  TWinMSG(platform::Desktop& desktop, platform::Timers& timers, WindowHandle ownWindow);
  // Stops the scan and forgets every peer; sends nothing.
  ~TWinMSG();
  TWinMSG(const TWinMSG&) = delete;
  TWinMSG& operator=(const TWinMSG&) = delete;

  // For a received WM_WINMSG: decodes code and argument and acts on control messages
  // (hello announces the sender, identify does nothing, any other argument drops the
  // sender), provided wParam is the sender's own window as the desktop saw it. Returns
  // whether it was a control message. Does not write the answer.
  bool HandleControl(const TMessage& message, uint16_t& code, uint16_t& argument);
  static void DecodeCommand(uint32_t lParam, uint16_t& code, uint16_t& argument);
  static uint32_t EncodeCommand(uint16_t code, uint16_t argument);

  // Sends WM_WINMSG, waits, and returns the target's answer (0 from a window that is gone,
  // does not handle it or did not answer in time). A peer that did not answer in time stays
  // a peer: it may only be busy, and its posts show whether it answers again.
  int32_t SendCommand(WindowHandle target, uint16_t code, uint16_t argument);
  // Posts WM_WINMSG to every peer, in list order, without waiting for the answers.
  void SendToPeers(uint16_t code, uint16_t argument);
  // Posts a data message with kind code x 65536 + argument; the answer is not read. To the
  // peers, only to those that are not behind.
  void SendData(WindowHandle target, uint16_t code, uint16_t argument, const void* bytes,
                std::size_t count);
  void SendDataToPeers(uint16_t code, uint16_t argument, const void* bytes, std::size_t count);

  // Queues the window for admission by the next scan, unless it already is a peer.
  void AnnouncePeer(WindowHandle window);
  // Removes the window from the peers at once (announcements stay queued).
  void DropPeer(WindowHandle window);
  // Binary search in a handle-sorted list: the index of the handle, or -1.
  static int FindPeer(const std::vector<PeerEntry>& list, WindowHandle handle);
  // Admits the announced windows that exist and drops peers whose window is gone or
  // changed class. Runs every 100 ms while there are peers or announcements; a run started
  // inside a run returns at once.
  void ScanPeers();
  bool ScanRunning() const { return scanTimer_->Enabled(); }

  WindowHandle OwnWindow() const { return ownWindow_; }
  bool Scanning() const { return scanning_; }
  const std::vector<PeerEntry>& Peers() const { return peers_; }
  const std::deque<PeerEntry>& Announced() const { return announced_; }

 private:
  // The first peer whose handle follows `after` (signed order), or -1. Send-to-all loops
  // step with it, so a peer list that changes during a send is never read past its end.
  int NextPeerAfter(WindowHandle after, bool first) const;
  // A peer that has answered nothing for the give-up time leaves with a goodbye posted to it.
  void DropUnanswering(WindowHandle target);

  platform::Desktop& desktop_;
  WindowHandle ownWindow_;
  bool scanning_ = false;
  std::vector<PeerEntry> peers_;     // sorted by handle as signed 32-bit, no duplicates
  std::deque<PeerEntry> announced_;  // in arrival order, duplicates allowed
  std::unique_ptr<platform::Timer> scanTimer_;
};

}  // namespace calvora::link
