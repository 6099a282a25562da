#include "link/WinMSG.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "VirtualDesktop.h"
#include "VirtualTimers.h"

namespace calvora::link {
namespace {

using testing::VirtualDesktop;

constexpr WindowHandle kOwn = 100;
constexpr uint32_t kBye = 0x7FFF0002;

class WinMSG : public ::testing::Test {
 protected:
  WinMSG() {
    desktop.SetMessageHandler([this](const platform::IncomingMessage& m) {
      TMessage message{m.message, m.wParam, m.lParam, 0};
      uint16_t code = 0;
      uint16_t argument = 0;
      channel.HandleControl(message, code, argument);
      return message.Result;
    });
  }

  void Hello(WindowHandle from) { desktop.Deliver(WM_WINMSG, from, 0x7FFF0000); }
  void Control(WindowHandle from, uint16_t argument) {
    desktop.Deliver(WM_WINMSG, from, 0x7FFF0000u | argument);
  }
  // Lets exactly one scan run.
  void Scan() { timers.Advance(TWinMSG::kScanIntervalMs); }
  std::vector<WindowHandle> PeerHandles() const {
    std::vector<WindowHandle> handles;
    for (const PeerEntry& p : channel.Peers())
      handles.push_back(p.Handle);
    return handles;
  }
  void Admit(std::initializer_list<WindowHandle> windows) {
    for (WindowHandle w : windows) {
      desktop.AddWindow(w, "Controller");
      Hello(w);
    }
    Scan();
  }

  VirtualDesktop desktop{kOwn};
  testing::VirtualClock clock;
  testing::VirtualTimers timers{clock};
  TWinMSG channel{desktop, timers};
};

TEST(WinMSGCodec, HeaderIsTwentyTwoLittleEndianBytes) {
  AudioBlockHeader header;
  header.SampleRate = 48000;
  header.LeftLevel = -6.0;  // 0xC018000000000000
  header.RightLevel = 1.0;  // 0x3FF0000000000000
  std::array<uint8_t, AudioBlockHeader::kSize> bytes{};
  header.Write(bytes);
  const std::array<uint8_t, 22> expected{0x80, 0xBB, 0x00, 0x00, 2, 16, 0, 0, 0, 0,    0,
                                         0,    0x18, 0xC0, 0,    0, 0,  0, 0, 0, 0xF0, 0x3F};
  EXPECT_EQ(bytes, expected);

  const std::vector<uint8_t> samples{1, 2, 3, 4, 5};
  const std::vector<uint8_t> packet = header.Pack(samples);
  ASSERT_EQ(packet.size(), 22u + samples.size());
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), packet.begin() + 22));
  const auto read = AudioBlockHeader::Read(packet);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->SampleRate, 48000);
  EXPECT_EQ(read->Channels, 2);
  EXPECT_EQ(read->BitsPerSample, 16);
  EXPECT_EQ(read->LeftLevel, -6.0);
  EXPECT_EQ(read->RightLevel, 1.0);

  // A negative rate survives the trip, and a packet shorter than a header has none.
  header.SampleRate = -2;
  EXPECT_EQ(AudioBlockHeader::Read(header.Pack({}))->SampleRate, -2);
  EXPECT_FALSE(AudioBlockHeader::Read(std::vector<uint8_t>(21, 0)));
}

TEST(WinMSGCodec, CommandWordSplitsIntoCodeAndArgument) {
  uint16_t code = 0;
  uint16_t argument = 0;
  TWinMSG::DecodeCommand(0x7FFF0002, code, argument);
  EXPECT_EQ(code, WINMSG_CONTROL);
  EXPECT_EQ(argument, CTRL_BYE);
  TWinMSG::DecodeCommand(0x0001FFFF, code, argument);
  EXPECT_EQ(code, CMD_STOP);
  EXPECT_EQ(argument, 0xFFFF);
  EXPECT_EQ(TWinMSG::EncodeCommand(WINMSG_CONTROL, CTRL_IDENTIFY), 2147450879u);
}

TEST_F(WinMSG, AnnouncedWindowBecomesPeerOnlyAtTheNextScan) {
  desktop.AddWindow(7, "Controller");
  Hello(7);
  Hello(7);  // twice within one scan period
  EXPECT_TRUE(channel.Peers().empty());
  EXPECT_EQ(channel.Announced().size(), 2u);
  channel.SendToPeers(NTF_SILENCE, 0);
  EXPECT_TRUE(desktop.sent.empty());

  Scan();
  ASSERT_EQ(PeerHandles(), std::vector<WindowHandle>{7});
  EXPECT_EQ(channel.Peers()[0].ClassName, "Controller");
  EXPECT_TRUE(channel.Announced().empty());

  Hello(7);  // a peer's hello is discarded at once
  EXPECT_TRUE(channel.Announced().empty());
}

TEST_F(WinMSG, HelloFromAWindowNotListedIsDiscarded) {
  Hello(55);  // not a top-level window
  desktop.AddWindow(8, "Controller");
  Hello(8);
  desktop.RemoveWindow(8);  // destroyed before the scan
  Scan();
  EXPECT_TRUE(channel.Peers().empty());
  EXPECT_TRUE(channel.Announced().empty());
}

TEST_F(WinMSG, ControlArgumentsHelloIdentifyBye) {
  Admit({7, 9});
  Control(7, CTRL_IDENTIFY);
  EXPECT_EQ(PeerHandles(), (std::vector<WindowHandle>{7, 9}));
  Control(7, 5);  // any argument other than hello and identify is a goodbye, acted on at once
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{9});

  TMessage run{WM_WINMSG, 9, 0x00000002, 0};
  uint16_t code = 0xFFFF;
  uint16_t argument = 0;
  EXPECT_FALSE(channel.HandleControl(run, code, argument));
  EXPECT_EQ(code, CMD_RUN);
  EXPECT_EQ(argument, 2);
  TMessage identify{WM_WINMSG, 9, 0x7FFF7FFF, 0};
  EXPECT_TRUE(channel.HandleControl(identify, code, argument));
  EXPECT_EQ(argument, CTRL_IDENTIFY);
  EXPECT_EQ(identify.Result, 0);  // the answer is the main window's to write
}

TEST_F(WinMSG, ByeFromAnAnnouncedWindowDoesNotCancelIt) {
  desktop.AddWindow(7, "Controller");
  Hello(7);
  Control(7, CTRL_BYE);
  Scan();
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{7});
}

TEST_F(WinMSG, ScanDropsPeersWhoseWindowIsGoneOrChangedClass) {
  Admit({7, 8, 9});
  desktop.RemoveWindow(7);
  desktop.AddWindow(8, "OtherProgram");  // the handle was reused by another class
  Scan();
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{9});
  desktop.AddWindow(9, "controller");  // letter case counts
  Scan();
  EXPECT_TRUE(channel.Peers().empty());

  channel.SendToPeers(NTF_SOUND, 0);
  EXPECT_TRUE(desktop.sent.empty());
}

TEST_F(WinMSG, PeersStaySortedAsSignedHandles) {
  Admit({0x00000007, 0xFFFFFFFF, 0x80000005, 0x00000003, 0x7FFFFFFF});
  EXPECT_EQ(PeerHandles(),
            (std::vector<WindowHandle>{0x80000005, 0xFFFFFFFF, 0x3, 0x7, 0x7FFFFFFF}));
  for (WindowHandle h : PeerHandles())
    EXPECT_GE(TWinMSG::FindPeer(channel.Peers(), h), 0);
  EXPECT_EQ(TWinMSG::FindPeer(channel.Peers(), 0x80000006), -1);
  EXPECT_EQ(TWinMSG::FindPeer({}, 7), -1);

  // Notifications go out in list order.
  channel.SendToPeers(NTF_ONLINE, DEV_MIXER);
  EXPECT_EQ(desktop.TargetsOf(0x10010001), PeerHandles());
  for (const auto& s : desktop.sent)
    EXPECT_EQ(s.wParam, kOwn);
}

TEST_F(WinMSG, LongClassNamesAreCutTo252) {
  desktop.AddWindow(7, std::string(300, 'A'));
  Hello(7);
  Scan();
  ASSERT_EQ(channel.Peers().size(), 1u);
  EXPECT_EQ(channel.Peers()[0].ClassName.size(), 252u);
  Scan();  // the cut name still matches the window
  EXPECT_EQ(channel.Peers().size(), 1u);
}

TEST_F(WinMSG, SendLoopSurvivesByesDuringTheSends) {
  Admit({1, 2, 3, 4, 5});
  // While the message to 2 is under way, 2 and 3 say goodbye; while 4 handles it, 1 does
  // (1 was already served) and 5 says hello again (it is a peer, so nothing changes).
  desktop.onSend = [this](const VirtualDesktop::Sent& s) {
    if (s.target == 2) {
      Control(2, CTRL_BYE);
      Control(3, CTRL_BYE);
    }
    if (s.target == 4) {
      Control(1, CTRL_BYE);
      Hello(5);
    }
    return 0;
  };
  channel.SendToPeers(NTF_SILENCE, 0);
  EXPECT_EQ(desktop.TargetsOf(0x04000000), (std::vector<WindowHandle>{1, 2, 4, 5}));
  EXPECT_EQ(PeerHandles(), (std::vector<WindowHandle>{4, 5}));

  // The same for data messages, when every peer leaves during the first send.
  desktop.sent.clear();
  desktop.onSend = [this](const VirtualDesktop::Sent&) {
    Control(4, CTRL_BYE);
    Control(5, CTRL_BYE);
    return 0;
  };
  const uint8_t block[4] = {1, 2, 3, 4};
  channel.SendDataToPeers(0, 0, block, sizeof block);
  ASSERT_EQ(desktop.sent.size(), 1u);
  EXPECT_TRUE(channel.Peers().empty());
}

TEST_F(WinMSG, DataMessagesCarryKindZeroAndThePacket) {
  Admit({7, 9});
  AudioBlockHeader header;
  header.SampleRate = 44100;
  header.LeftLevel = -20.5;
  header.RightLevel = -90.3;
  const std::vector<uint8_t> samples(1764, 0x5A);
  const std::vector<uint8_t> packet = header.Pack(samples);
  channel.SendDataToPeers(0, 0, packet.data(), packet.size());
  ASSERT_EQ(desktop.sent.size(), 2u);
  for (const auto& s : desktop.sent) {
    EXPECT_TRUE(s.data);
    EXPECT_EQ(s.wParam, kOwn);
    EXPECT_EQ(s.lParam, 0u);
    EXPECT_EQ(s.bytes, packet);
  }
  EXPECT_EQ(AudioBlockHeader::Read(desktop.sent[1].bytes)->LeftLevel, -20.5);
}

TEST_F(WinMSG, NotificationsAndDataArePostedWithoutWaiting) {
  Admit({7, 9});
  channel.SendToPeers(NTF_SILENCE, 0);
  const uint8_t block[2] = {0, 0};
  channel.SendDataToPeers(0, 0, block, sizeof block);
  ASSERT_EQ(desktop.sent.size(), 4u);
  for (const auto& s : desktop.sent) {
    EXPECT_TRUE(s.posted);
    EXPECT_EQ(s.answer, platform::Desktop::Answer::kWatch);  // a hung peer must be noticed
  }
  EXPECT_FALSE(desktop.sent[0].data);
  EXPECT_TRUE(desktop.sent[2].data);
}

TEST_F(WinMSG, HungPeerIsDroppedWithAGoodbyeThatAsksForNoAnswer) {
  Admit({7, 8, 9});
  desktop.SetHung(8, true);
  channel.SendToPeers(NTF_OFFLINE, DEV_CARD);
  EXPECT_EQ(desktop.TargetsOf(0x10000000), (std::vector<WindowHandle>{7, 8, 9}));
  EXPECT_EQ(PeerHandles(), (std::vector<WindowHandle>{7, 8, 9}));  // nothing waited

  desktop.sent.clear();
  desktop.ExpireUnanswered();
  EXPECT_EQ(PeerHandles(), (std::vector<WindowHandle>{7, 9}));
  ASSERT_EQ(desktop.sent.size(), 1u);
  EXPECT_EQ(desktop.sent[0].target, 8u);
  EXPECT_EQ(desktop.sent[0].lParam, kBye);
  EXPECT_EQ(desktop.sent[0].answer, platform::Desktop::Answer::kNone);

  // A data message left unanswered drops its peer the same way; the goodbye itself, asking
  // for no answer, never reports the window again.
  const uint8_t block[2] = {0, 0};
  desktop.SetHung(9, true);
  channel.SendDataToPeers(0, 0, block, sizeof block);
  desktop.ExpireUnanswered();
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{7});
  desktop.sent.clear();
  desktop.ExpireUnanswered();
  EXPECT_TRUE(desktop.sent.empty());

  // A window that is merely gone is left to the scan, as before.
  desktop.RemoveWindow(7);
  EXPECT_EQ(channel.SendCommand(7, CMD_RUN, 0), 0);
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{7});
  Scan();
  EXPECT_TRUE(channel.Peers().empty());

  // The hung program recovers and comes back.
  desktop.SetHung(8, false);
  Hello(8);
  Scan();
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{8});

  // A command that waits for its answer in vain answers 0, but the peer may only be busy:
  // it stays, and no goodbye goes out.
  desktop.SetHung(8, true);
  desktop.sent.clear();
  EXPECT_EQ(channel.SendCommand(8, WINMSG_CONTROL, CTRL_IDENTIFY), 0);
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{8});
  EXPECT_EQ(desktop.TargetsOf(kBye), std::vector<WindowHandle>{});
}

TEST_F(WinMSG, PeerThatIsBehindMissesAudioBlocksButNoNotification) {
  Admit({7, 8, 9});
  desktop.SetBehind(8, true);
  const std::vector<uint8_t> samples{1, 2};
  const std::vector<uint8_t> first = AudioBlockHeader{44100, 2, 16, -10.0, -11.0}.Pack(samples);
  const std::vector<uint8_t> second = AudioBlockHeader{44100, 2, 16, -30.0, -31.0}.Pack(samples);
  channel.SendDataToPeers(0, 0, first.data(), first.size());
  channel.SendToPeers(NTF_SILENCE, 0);
  channel.SendDataToPeers(0, 0, first.data(), first.size());
  channel.SendToPeers(NTF_SOUND, 0);

  // The notifications reach every peer, in order; the blocks only the peers that keep up.
  EXPECT_EQ(desktop.TargetsOf(0x04000000), (std::vector<WindowHandle>{7, 8, 9}));
  EXPECT_EQ(desktop.TargetsOf(0x04010000), (std::vector<WindowHandle>{7, 8, 9}));
  std::vector<WindowHandle> blockTargets;
  for (const auto& s : desktop.sent)
    if (s.data)
      blockTargets.push_back(s.target);
  EXPECT_EQ(blockTargets, (std::vector<WindowHandle>{7, 9, 7, 9}));
  EXPECT_EQ(PeerHandles(), (std::vector<WindowHandle>{7, 8, 9}));
  EXPECT_EQ(channel.Peers()[0].SkippedBlocks, 0u);
  EXPECT_EQ(channel.Peers()[1].SkippedBlocks, 2u);
  EXPECT_EQ(channel.Peers()[2].SkippedBlocks, 0u);

  // Caught up, the peer gets the next block whole, with that block's own header.
  desktop.SetBehind(8, false);
  desktop.sent.clear();
  channel.SendDataToPeers(0, 0, second.data(), second.size());
  ASSERT_EQ(desktop.sent.size(), 3u);
  EXPECT_EQ(desktop.sent[1].target, 8u);
  EXPECT_EQ(desktop.sent[1].bytes, second);
  EXPECT_EQ(channel.Peers()[1].SkippedBlocks, 2u);
}

TEST_F(WinMSG, HelloOrGoodbyeNamingAnotherWindowChangesNoPeer) {
  Admit({7, 9});
  desktop.AddWindow(8, "Controller");
  // 8 says goodbye for 7 and hello for itself under 9's name; both are ignored.
  desktop.DeliverFrom(8, WM_WINMSG, 7, 0x7FFF0002);
  desktop.DeliverFrom(8, WM_WINMSG, 9, 0x7FFF0000);
  desktop.DeliverFrom(0, WM_WINMSG, 0, 0x7FFF0000);  // a sender that is no window at all
  EXPECT_TRUE(channel.Announced().empty());
  EXPECT_EQ(PeerHandles(), (std::vector<WindowHandle>{7, 9}));
  // A hello for another window is not announced either.
  desktop.DeliverFrom(7, WM_WINMSG, 8, 0x7FFF0000);
  Scan();
  EXPECT_EQ(PeerHandles(), (std::vector<WindowHandle>{7, 9}));

  // Identify stays open to anyone, whatever wParam says, and is still a control message.
  TMessage identify{WM_WINMSG, 0, 0x7FFF7FFF, 0};
  uint16_t code = 0;
  uint16_t argument = 0;
  EXPECT_TRUE(channel.HandleControl(identify, code, argument));
  EXPECT_EQ(argument, CTRL_IDENTIFY);
  // Each window speaks for itself.
  desktop.DeliverFrom(7, WM_WINMSG, 7, 0x7FFF0002);
  EXPECT_EQ(PeerHandles(), std::vector<WindowHandle>{9});
}

TEST_F(WinMSG, SendCommandReturnsTheAnswer) {
  desktop.AddWindow(7, "TCV_AudioMixer");
  desktop.onSend = [](const VirtualDesktop::Sent& s) { return s.lParam == 0x7FFF7FFF ? -1234 : 0; };
  EXPECT_EQ(channel.SendCommand(7, WINMSG_CONTROL, CTRL_IDENTIFY), -1234);
  EXPECT_EQ(channel.SendCommand(8, WINMSG_CONTROL, CTRL_IDENTIFY), 0);  // no such window
}

TEST_F(WinMSG, ScanStartedInsideAScanReturnsAtOnce) {
  desktop.onEnumWindows = [this] {
    EXPECT_TRUE(channel.Scanning());
    channel.ScanPeers();
  };
  channel.ScanPeers();
  EXPECT_EQ(desktop.enumCount, 1);
  EXPECT_FALSE(channel.Scanning());
}

TEST(WinMSGLifetime, ScanRunsEvery100MsWhileThereArePeersAndUntilDestroyed) {
  VirtualDesktop desktop{kOwn};
  testing::VirtualClock clock;
  testing::VirtualTimers timers{clock};
  {
    TWinMSG channel{desktop, timers};
    EXPECT_EQ(channel.OwnWindow(), kOwn);
    // Nobody announced, nobody to watch: an idle channel wakes for nothing.
    timers.Advance(1000);
    EXPECT_EQ(desktop.enumCount, 0);
    EXPECT_EQ(timers.ActiveTimers(), 0);
    desktop.AddWindow(0x0200, "Controller");
    desktop.SetMessageHandler([&channel](const platform::IncomingMessage& m) {
      TMessage message{m.message, m.wParam, m.lParam, 0};
      uint16_t code = 0;
      uint16_t argument = 0;
      channel.HandleControl(message, code, argument);
      return message.Result;
    });
    desktop.Deliver(WM_WINMSG, 0x0200, 0x7FFF0000);
    timers.Advance(1000);
    EXPECT_EQ(desktop.enumCount, 10);
    EXPECT_EQ(channel.Peers().size(), 1u);
    // The peer's window is gone: the scan that finds it out is the last one.
    desktop.RemoveWindow(0x0200);
    timers.Advance(1000);
    EXPECT_EQ(desktop.enumCount, 11);
    EXPECT_TRUE(channel.Peers().empty());
    desktop.AddWindow(0x0200, "Controller");
    desktop.Deliver(WM_WINMSG, 0x0200, 0x7FFF0000);  // a hello starts the scans again
    timers.Advance(500);
    EXPECT_EQ(desktop.enumCount, 16);
    desktop.SetMessageHandler(nullptr);
  }
  timers.Advance(1000);
  EXPECT_EQ(desktop.enumCount, 16);
  EXPECT_EQ(timers.ActiveTimers(), 0);
}

}  // namespace
}  // namespace calvora::link
