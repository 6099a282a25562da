// The programme as serve keeps it: the ring's timeline with its gaps and its bound, the clips'
// names and the folder's bounds, and a clip written whole around its event, in a folder whose
// name has letters beyond ASCII and a blank (on Windows too, where such a name must stay wide
// down to the file); and the listening feed's one stream, shared by its listeners, which the
// bus handler only hands its blocks to.
#include <gtest/gtest.h>
#include <opus.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <numbers>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "audio/ClipFolder.h"
#include "audio/ClipKeeper.h"
#include "audio/ClipNames.h"
#include "audio/ListenFeed.h"
#include "audio/ProgrammeRing.h"
#include "monitor/DetectionTimes.h"
#include "system/Utf8Path.h"

namespace calvora::ctl {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A 10 ms block at 1 kHz whose samples all hold `value` (left) and -`value` (right).
std::vector<int16_t> Block(int16_t value, int frames = 10) {
  std::vector<int16_t> block;
  for (int i = 0; i < frames; ++i) {
    block.push_back(value);
    block.push_back(static_cast<int16_t>(-value));
  }
  return block;
}

TEST(ProgrammeRing, BlocksFollowEachOtherGapsReadAsSilenceAndTheRingStaysBounded) {
  ProgrammeRing ring(milliseconds(2000));
  const auto t0 = ProgrammeRing::Clock::time_point{} + seconds(1000);
  // 1 kHz: blocks of 10 frames every 10 ms, a little late (within the gap limit) at times.
  for (int i = 1; i <= 50; ++i)
    ring.Append(t0 + milliseconds(10 * i + (i % 7 == 0 ? 40 : 0)), 1000, 2, Block(1));
  // Nothing for 500 ms (the utility stopped), then blocks again.
  for (int i = 1; i <= 20; ++i)
    ring.Append(t0 + milliseconds(1000 + 10 * i), 1000, 2, Block(2));
  int rate = 0, channels = 0;
  const auto all = ring.Take(t0, t0 + milliseconds(1200), rate, channels);
  EXPECT_EQ(rate, 1000);
  EXPECT_EQ(channels, 2);
  ASSERT_EQ(all.size(), 1200u * 2);
  // The late blocks did not move the timeline: 500 frames of programme, back to back.
  for (int frame = 0; frame < 500; ++frame)
    ASSERT_EQ(all[frame * 2], 1) << frame;
  // The gap is silence, and the blocks after it sit at their own time.
  for (int frame = 500; frame < 1000; ++frame)
    ASSERT_EQ(all[frame * 2], 0) << frame;
  for (int frame = 1000; frame < 1200; ++frame) {
    ASSERT_EQ(all[frame * 2], 2) << frame;
    ASSERT_EQ(all[frame * 2 + 1], -2) << frame;
  }
  // A window is cut to the audio received: nothing is made up past the newest block nor
  // before the first, and a window wholly outside it is empty.
  const auto ahead = ring.Take(t0 + milliseconds(1150), t0 + milliseconds(1250), rate, channels);
  ASSERT_EQ(ahead.size(), 50u * 2);
  EXPECT_EQ(ahead[2 * 49], 2);
  const auto early = ring.Take(t0 - milliseconds(500), t0 + milliseconds(100), rate, channels);
  ASSERT_EQ(early.size(), 100u * 2);
  EXPECT_EQ(early[0], 1);
  EXPECT_TRUE(ring.Take(t0 + milliseconds(1300), t0 + milliseconds(1400), rate, channels).empty());
  EXPECT_TRUE(ring.HoldsAudioAfter(t0 + milliseconds(1199)));
  EXPECT_FALSE(ring.HoldsAudioAfter(t0 + milliseconds(1200)));

  // However long the programme runs, the ring holds its length and no more.
  for (int i = 1; i <= 1000; ++i)
    ring.Append(t0 + milliseconds(1200 + 10 * i), 1000, 2, Block(3));
  EXPECT_LE(ring.FramesHeld(), 2000u + 10);
  EXPECT_GE(ring.FramesHeld(), 1990u);
  // A new rate starts it afresh.
  ring.Append(t0 + milliseconds(12000), 2000, 2, Block(4, 20));
  EXPECT_EQ(ring.SampleRate(), 2000);
  EXPECT_EQ(ring.FramesHeld(), 20u);
}

TEST(ClipNames, NamedByDayTimeAndEventAndOnlySuchNamesPass) {
  Stamp at{"2026-12-07", "14:03:07.250", "2026-12-07T14:03:07.250+01:00"};
  EXPECT_EQ(ClipName(at, EventKind::kSilence), "2026-12-07/14-03-07.250-silence.opus");
  EXPECT_EQ(ClipName(at, EventKind::kPhaseReversed), "2026-12-07/14-03-07.250-phase-reversed.opus");
  for (const auto kind : {EventKind::kSilence, EventKind::kChannelLost, EventKind::kLoudnessOk})
    EXPECT_TRUE(IsClipName(ClipName(at, kind)));
  for (const char* unsafe :
       {"../2026-12-07/14-03-07.250-silence.opus", "/etc/passwd", "2026-12-07/../../x.opus",
        "2026-12-07/14-03-07.250-silence.opus.tmp", "2026-12-07/.14-03-07.250-silence.opus.tmp",
        "2026-12-07/14-03-07.250-Silence.opus", "2026-12-07//14-03-07.250-silence.opus",
        "2026-12-07/14-03-07.250-silence.opus/..", "", "2026-12-07"})
    EXPECT_FALSE(IsClipName(unsafe)) << unsafe;
}

class ClipFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // "calvora Clips Łódź-N" in UTF-8.
    root_ = fs::temp_directory_path() / PathFromUtf8(
                                            "calvora Clips \xc5\x81\xc3\xb3"
                                            "d\xc5\xba-" +
                                            std::to_string(std::random_device()()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  // A file of `bytes` under the folder, written `age` ago.
  void Put(const std::string& name, std::size_t bytes, std::chrono::hours age = {}) {
    fs::create_directories((root_ / name).parent_path());
    std::ofstream(root_ / name, std::ios::binary) << std::string(bytes, 'x');
    fs::last_write_time(root_ / name, ClipFolder::FileClock::now() - age);
  }
  fs::path root_;
};

TEST_F(ClipFolderTest, OldestGoFirstUnderTheSizeAndAgeAndNothingElseIsTouched) {
  Put("2026-11-01/10-00-00.000-silence.opus", 1000, std::chrono::hours(24 * 31));
  Put("2026-12-06/10-00-00.000-silence.opus", 1000);
  Put("2026-12-07/09-00-00.000-sound.opus", 1000);
  Put("2026-12-07/10-00-00.000-clipping.opus", 1000);
  Put("2026-12-07/.10-00-01.000-silence.opus.tmp", 500);  // left by a stopped program
  Put("2026-12-07/notes.txt", 5000);                      // the station's own file
  const ClipFolder folder(root_, ClipBounds{2500, 30});
  EXPECT_EQ(folder.Prune(), 2000u);
  // The month-old clip went for its age (and its day's folder with it), then the oldest of
  // the rest for the size; the newest stay.
  EXPECT_FALSE(fs::exists(root_ / "2026-11-01"));
  EXPECT_FALSE(fs::exists(root_ / "2026-12-06/10-00-00.000-silence.opus"));
  EXPECT_TRUE(fs::exists(root_ / "2026-12-07/09-00-00.000-sound.opus"));
  EXPECT_TRUE(fs::exists(root_ / "2026-12-07/10-00-00.000-clipping.opus"));
  EXPECT_FALSE(fs::exists(root_ / "2026-12-07/.10-00-01.000-silence.opus.tmp"));
  EXPECT_TRUE(fs::exists(root_ / "2026-12-07/notes.txt"));
  // A folder that is not there yet holds nothing.
  EXPECT_EQ(ClipFolder(root_ / "none", ClipBounds{}).Prune(), 0u);
}

// Pruning by age alone: every clip is small, so only the days decide, to the hour.
TEST_F(ClipFolderTest, ClipsOlderThanTheDaysGoAndTheYoungerStay) {
  Put("2026-11-06/10-00-00.000-silence.opus", 10, std::chrono::hours(24 * 30 + 1));
  Put("2026-11-07/10-00-00.000-sound.opus", 10, std::chrono::hours(24 * 30 - 1));
  Put("2026-11-07/11-00-00.000-clipping.opus", 10, std::chrono::hours(24 * 29 + 1));
  EXPECT_EQ(ClipFolder(root_, ClipBounds{1000000, 30}).Prune(), 20u);
  EXPECT_FALSE(fs::exists(root_ / "2026-11-06"));
  EXPECT_TRUE(fs::exists(root_ / "2026-11-07/10-00-00.000-sound.opus"));
  EXPECT_TRUE(fs::exists(root_ / "2026-11-07/11-00-00.000-clipping.opus"));
  EXPECT_EQ(ClipFolder(root_, ClipBounds{1000000, 1}).Prune(), 0u);
  EXPECT_TRUE(fs::is_empty(root_));
}

#ifndef _WIN32
// The folder is the program's own: what a link or a pipe in it names is never pruned, however
// old and whatever its name, and the link itself stays too.
TEST_F(ClipFolderTest, PruningGoesThroughNoLinkAndRemovesOnlyWhatItMade) {
  const fs::path outside = root_.string() + "-outside";
  fs::create_directories(outside / "2026-01-01");
  const auto old = ClipFolder::FileClock::now() - std::chrono::hours(24 * 400);
  for (const char* name : {"2026-01-01/10-00-00.000-silence.opus", "10-00-00.000-sound.opus"}) {
    std::ofstream(outside / name) << std::string(5000, 'x');
    fs::last_write_time(outside / name, old);
  }
  fs::create_directory_symlink(outside / "2026-01-01", root_ / "2026-01-02");
  Put("2026-01-03/09-00-00.000-silence.opus", 10, std::chrono::hours(24 * 400));
  fs::create_symlink(outside / "10-00-00.000-sound.opus",
                     root_ / "2026-01-03/10-00-00.000-sound.opus");
  fs::create_symlink(outside / "10-00-00.000-sound.opus",
                     root_ / "2026-01-03/.10-00-01.000-sound.opus.tmp");
  ASSERT_EQ(mkfifo((root_ / "2026-01-03/11-00-00.000-sound.opus").c_str(), 0600), 0);
  Put("2026-01-03/notes.tmp",
      10);  // the station's own, though its name ends like a half-written clip

  EXPECT_EQ(ClipFolder(root_, ClipBounds{1, 1}).Prune(), 0u);
  EXPECT_TRUE(fs::exists(outside / "2026-01-01/10-00-00.000-silence.opus"));
  EXPECT_TRUE(fs::exists(outside / "10-00-00.000-sound.opus"));
  EXPECT_TRUE(fs::is_symlink(root_ / "2026-01-02"));
  EXPECT_FALSE(fs::exists(root_ / "2026-01-03/09-00-00.000-silence.opus"));  // its own clip
  EXPECT_TRUE(fs::is_symlink(root_ / "2026-01-03/10-00-00.000-sound.opus"));
  EXPECT_TRUE(fs::is_symlink(root_ / "2026-01-03/.10-00-01.000-sound.opus.tmp"));
  EXPECT_TRUE(fs::is_fifo(root_ / "2026-01-03/11-00-00.000-sound.opus"));
  EXPECT_TRUE(fs::exists(root_ / "2026-01-03/notes.tmp"));
  fs::remove_all(outside);
}
#endif

// The granule position of a stream's last Ogg page: the samples at 48 kHz, with the encoder's
// pre-skip.
int64_t LastGranule(const std::string& bytes) {
  const std::size_t page = bytes.rfind("OggS");
  if (page == std::string::npos || page + 14 > bytes.size())
    return -1;
  int64_t granule = 0;
  std::memcpy(&granule, bytes.data() + page + 6, 8);
  return granule;
}

std::string Slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool Within(seconds limit, const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(20));
  return condition();
}

TEST_F(ClipFolderTest, AClipHoldsOnlyTheAudioReceivedAndAFullDiskStopsOnlyTheClips) {
  std::vector<std::string> reports;
  std::mutex reported;
  ClipKeeper keeper(ClipFolder(root_, ClipBounds{}), 64000, [&](const std::string& line) {
    std::lock_guard lock(reported);
    reports.push_back(line);
  });
  StationEvent event;
  event.kind = EventKind::kSilence;
  event.at = {"2026-12-07", "14:03:07.250", "2026-12-07T14:03:07.250+01:00"};
  // Before any programme has come there is nothing to keep: no clip is named.
  EXPECT_EQ(keeper.OnEvent(event, ClipKeeper::Clock::now() - seconds(10)), "");
  // 15 s of programme at 48 kHz received up to now, the event 10 s ago: the clip is due now,
  // and holds the 15 s received (the 5 s before the first block are not made up).
  const auto now = ClipKeeper::Clock::now();
  for (int i = 0; i < 1500; ++i)
    keeper.OnAudio(48000, 2, Block(1000, 480), now - seconds(15) + milliseconds(10 * (i + 1)));
  const std::string name = keeper.OnEvent(event, now - seconds(10));
  EXPECT_EQ(name, "2026-12-07/14-03-07.250-silence.opus");
  ASSERT_TRUE(Within(seconds(5), [&] { return keeper.Figures().written == 1; }));
  const std::string clip = Slurp(root_ / name);
  ASSERT_EQ(clip.rfind("OggS", 0), 0u);
  EXPECT_NE(clip.find("OpusHead"), std::string::npos);
  const int64_t samples = LastGranule(clip) - 312;  // libopus's pre-skip at 48 kHz
  EXPECT_NEAR(static_cast<double>(samples), 15 * 48000, 480);
  EXPECT_EQ(keeper.Figures().bytesKept, clip.size());

  // The day's folder cannot be made (a file stands in its place): the clips stop with one
  // message however many fail, and resume with the next one written.
  std::ofstream(root_ / "2026-12-08") << "in the way";
  event.at.date = "2026-12-08";
  keeper.OnEvent(event, ClipKeeper::Clock::now() - seconds(10));
  keeper.OnEvent(event, ClipKeeper::Clock::now() - seconds(10));
  ASSERT_TRUE(Within(seconds(5), [&] { return keeper.Figures().failed == 2; }));
  EXPECT_TRUE(keeper.Figures().stopped);
  {
    std::lock_guard lock(reported);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("clips stopped"), std::string::npos) << reports[0];
  }
  fs::remove(root_ / "2026-12-08");
  keeper.OnEvent(event, ClipKeeper::Clock::now() - seconds(10));
  ASSERT_TRUE(Within(seconds(5), [&] { return keeper.Figures().written == 2; }));
  EXPECT_FALSE(keeper.Figures().stopped);
  std::lock_guard lock(reported);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_NE(reports[1].find("clips resumed"), std::string::npos) << reports[1];
}

// The Ogg pages in a stream's bytes, each whole.
std::vector<std::string> Pages(const std::string& bytes) {
  std::vector<std::string> pages;
  std::size_t at = 0;
  while (at + 27 <= bytes.size() && bytes.compare(at, 4, "OggS") == 0) {
    const auto segments = static_cast<unsigned char>(bytes[at + 26]);
    std::size_t size = 27 + segments;
    for (std::size_t i = 0; i < segments && at + 27 + i < bytes.size(); ++i)
      size += static_cast<unsigned char>(bytes[at + 27 + i]);
    if (at + size > bytes.size())
      break;
    pages.push_back(bytes.substr(at, size));
    at += size;
  }
  return pages;
}

// A listener of the feed: what it was sent, and whether its stream was ended.
struct Heard {
  std::mutex mutex;
  std::string bytes;
  bool ended = false;
  ListenFeed::Sink Sink() {
    return [this](const std::string& more) {
      std::lock_guard lock(mutex);
      bytes += more;
      return true;
    };
  }
  ListenFeed::End End() {
    return [this] {
      std::lock_guard lock(mutex);
      ended = true;
    };
  }
  std::vector<std::string> Got() {
    std::lock_guard lock(mutex);
    return Pages(bytes);
  }
};

// A second of a tone at 48 kHz as the utility sends it, 10 ms blocks at the clock's pace.
void FeedTone(ListenFeed& feed, int blocks) {
  std::vector<int16_t> tone;
  for (int i = 0; i < 480; ++i) {
    const auto value = static_cast<int16_t>(8000 * std::sin(i * 2 * 3.14159265 / 48));
    tone.insert(tone.end(), {value, value});
  }
  for (int i = 0; i < blocks; ++i) {
    feed.OnAudio(48000, 2, tone);
    if (i % 10 == 9)
      std::this_thread::sleep_for(milliseconds(100));
  }
}

TEST(ListenFeed, OneStreamForEveryListenerAndALateJoinerGetsItsHeadersThenTheNextPage) {
  Heard first, late;  // outlive the feed, whose thread calls their sinks
  ListenFeed feed(64000);
  // Nobody listens: blocks are let go, nothing is encoded.
  FeedTone(feed, 10);
  EXPECT_EQ(feed.Read().pagesMade, 0u);
  feed.Join(first.Sink(), first.End());
  FeedTone(feed, 60);
  ASSERT_TRUE(Within(seconds(3), [&] { return first.Got().size() >= 4; }));
  feed.Join(late.Sink(), late.End());
  EXPECT_EQ(feed.Listeners(), 2u);
  FeedTone(feed, 60);
  ASSERT_TRUE(Within(seconds(3), [&] { return late.Got().size() >= 4; }));

  // The late joiner's stream opens with the same two header pages, then goes on with pages the
  // first listener also got, from a page after its own first pages: one stream, not two.
  const auto firstPages = first.Got();
  const auto latePages = late.Got();
  ASSERT_EQ(latePages[0], firstPages[0]);
  ASSERT_EQ(latePages[1], firstPages[1]);
  // Each header packet opens its page's body, after the page's head and segment table.
  const auto body = [](const std::string& page) { return 27u + static_cast<uint8_t>(page[26]); };
  EXPECT_EQ(latePages[0].find("OpusHead"), body(latePages[0]));
  EXPECT_EQ(latePages[1].find("OpusTags"), body(latePages[1]));
  const auto joinedAt = std::find(firstPages.begin(), firstPages.end(), latePages[2]);
  ASSERT_NE(joinedAt, firstPages.end());
  EXPECT_GE(joinedAt - firstPages.begin(), 4);
  for (std::size_t i = 2; i < latePages.size() && joinedAt + (i - 2) < firstPages.end(); ++i)
    EXPECT_EQ(latePages[i], *(joinedAt + (i - 2))) << i;

  // A change of rate ends the stream with its last page, and every listener with it.
  feed.OnAudio(44100, 2, Block(1, 441));
  ASSERT_TRUE(Within(seconds(3), [&] { return feed.Listeners() == 0; }));
  for (Heard* heard : {&first, &late}) {
    std::lock_guard lock(heard->mutex);
    EXPECT_TRUE(heard->ended);
  }
  const auto ended = first.Got();
  EXPECT_EQ(ended.back()[5] & 4, 4) << "the last page is marked the stream's end";
  EXPECT_EQ(late.Got().back(), ended.back());
  // Each page was made once, however many listened.
  EXPECT_EQ(feed.Read().pagesMade, ended.size());
}

TEST(ListenFeed, TheBusHandlerNeverWaitsOnAHeldEncoderAndWhatItCannotTakeIsCounted) {
  // A listener whose sink holds the encoder's thread from its first page of audio on, as an
  // encoder far behind would. What the sink uses outlives the feed, whose thread may still
  // call it until the feed is gone.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  ListenFeed feed(64000);
  feed.Join([&](const std::string&) {
    if (++calls > 1)
      released.wait();
    return true;
  });
  ASSERT_TRUE(Within(seconds(3), [&] { return calls.load() > 1; }));

  // The blocks of ten seconds come at once; each is handed over or dropped, never waited for,
  // and the figures are read meanwhile.
  auto handed = std::async(std::launch::async, [&] {
    const std::vector<int16_t> block(960, 100);
    for (int i = 0; i < 1000; ++i)
      feed.OnAudio(48000, 2, block);
    return feed.Read();
  });
  const bool returned = handed.wait_for(seconds(5)) == std::future_status::ready;
  release.set_value();
  ASSERT_TRUE(returned) << "the bus handler waited on the encoder";
  const ListenFeed::Figures figures = handed.get();
  EXPECT_EQ(figures.listeners, 1u);
  EXPECT_GE(figures.blocksDropped, 1000u - ListenFeed::kQueuedAtMost);
  EXPECT_LE(figures.blocksDropped, 1000u);
}

// The Ogg packets of a stream, in order (a packet may span pages).
std::vector<std::string> OggPackets(const std::string& bytes) {
  std::vector<std::string> packets;
  std::string packet;
  for (std::size_t page = 0; page + 27 <= bytes.size() && bytes.compare(page, 4, "OggS") == 0;) {
    const auto segments = static_cast<unsigned char>(bytes[page + 26]);
    std::size_t body = page + 27 + segments;
    for (std::size_t i = 0; i < segments; ++i) {
      const auto lacing = static_cast<unsigned char>(bytes[page + 27 + i]);
      packet.append(bytes, body, lacing);
      body += lacing;
      if (lacing < 255)
        packets.push_back(std::move(packet)), packet.clear();
    }
    page = body;
  }
  return packets;
}

// A clip decoded to interleaved stereo at 48 kHz, without the encoder's pre-skip.
std::vector<int16_t> DecodeStereo(const std::string& clip) {
  const auto packets = OggPackets(clip);
  if (packets.size() < 3 || packets[0].compare(0, 8, "OpusHead") != 0)
    return {};
  const int preSkip =
      static_cast<unsigned char>(packets[0][10]) | static_cast<unsigned char>(packets[0][11]) << 8;
  int error = 0;
  OpusDecoder* decoder = opus_decoder_create(48000, 2, &error);
  std::vector<int16_t> pcm;
  std::vector<int16_t> frame(5760 * 2);
  for (std::size_t i = 2; i < packets.size(); ++i) {
    const int n = opus_decode(decoder, reinterpret_cast<const unsigned char*>(packets[i].data()),
                              static_cast<opus_int32>(packets[i].size()), frame.data(), 5760, 0);
    if (n > 0)
      pcm.insert(pcm.end(), frame.begin(), frame.begin() + n * 2);
  }
  opus_decoder_destroy(decoder);
  pcm.erase(pcm.begin(), pcm.begin() + std::min<std::size_t>(pcm.size(), preSkip * 2));
  return pcm;
}

// The root mean square of one channel over frames [from, to).
double Rms(const std::vector<int16_t>& stereo, int channel, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t frame = from; frame < to; ++frame)
    sum += std::pow(stereo[frame * 2 + channel], 2);
  return std::sqrt(sum / static_cast<double>(to - from));
}

// A clip reaches back over its event's detection time: the channel lost is still in its first
// second. And a clip due is written at once when asked, or when the keeper ends, with the audio
// there is.
TEST_F(ClipFolderTest, AClipHoldsTheMomentTheFaultBeganAndIsWrittenBeforeTheEnd) {
  const CheckSettings checks;  // a channel lost for 10 s is told
  auto keeper = std::make_unique<ClipKeeper>(
      ClipFolder(root_, ClipBounds{}), 64000, [](const std::string&) {}, DetectionTimesOf(checks));
  // 30 s of two tones at 48 kHz; the right channel goes at 15 s and is found lost 10.1 s later.
  const auto start = ClipKeeper::Clock::now() - seconds(30);
  std::vector<int16_t> block(480 * 2);
  for (int i = 0; i < 3000; ++i) {
    for (int f = 0; f < 480; ++f) {
      const double t = (i * 480 + f) / 48000.0;
      block[f * 2] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * t));
      block[f * 2 + 1] =
          i < 1500 ? static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 660 * t)) : 0;
    }
    keeper->OnAudio(48000, 2, block, start + milliseconds(10 * (i + 1)));
  }
  StationEvent lost;
  lost.kind = EventKind::kChannelLost;
  lost.at = {"2026-12-07", "14:03:07.250", "2026-12-07T14:03:07.250+01:00"};
  const std::string name = keeper->OnEvent(lost, start + milliseconds(25100));
  ASSERT_FALSE(name.empty());
  // Due 10 s from its event, written now with the audio received so far.
  keeper->WriteDueNow();
  EXPECT_EQ(keeper->Figures().written, 1u);
  const auto pcm = DecodeStereo(Slurp(root_ / name));
  ASSERT_GE(pcm.size(), 48000u * 2 * 2) << name;
  EXPECT_GT(Rms(pcm, 0, 2400, 48000), 3000);  // past the codec's first frames
  EXPECT_GT(Rms(pcm, 1, 2400, 48000), 3000);
  // From 10.1 s before the event plus 10 s, to the newest audio (4.9 s after it).
  EXPECT_NEAR(static_cast<double>(pcm.size()) / 2, 25 * 48000, 960);

  // The end of the monitor writes the clip due too.
  lost.at.clock = "14:03:17.250";
  const std::string last = keeper->OnEvent(lost, start + seconds(30));
  ASSERT_FALSE(last.empty());
  keeper.reset();
  EXPECT_FALSE(DecodeStereo(Slurp(root_ / last)).empty()) << last;
}

}  // namespace
}  // namespace calvora::ctl
