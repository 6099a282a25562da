// calvora-ctl.exe started as a process of its own against a stand-in utility window: it finds
// the window by class, delivers each command with the right code and argument, watches and
// answers from a hidden window of its own, and gives up on a utility that does not answer.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// Before windows.h, which the stand-in brings.
#include <winsock2.h>

#include "CtlStandInUtility.h"
// After windows.h, which the stand-in brings and it needs.
#include <shellapi.h>

#include "actions/WindowsCommandWords.h"
#include "link/WinMSG.h"
#include "platform/win32/WideText.h"

namespace calvora::e2e {
namespace {

namespace fs = std::filesystem;
using Behaviour = CtlStandInUtility::Behaviour;

std::wstring gProgram;  // calvora-ctl.exe, as a Windows path

using platform::win32::Narrow;
using platform::win32::Widen;

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    path_ =
        fs::temp_directory_path() / ("calvora-ctl-e2e-" + std::to_string(GetCurrentProcessId()) +
                                     "-" + std::to_string(GetTickCount64()));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  std::erase(s, '\r');  // the console's line ends
  return s;
}

// calvora-ctl.exe running with its output in files.
class Ctl {
 public:
  struct Outcome {
    bool ended = false;
    DWORD exitCode = 0;
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
  };

  explicit Ctl(const std::vector<std::string>& args) {
    EXPECT_FALSE(gProgram.empty()) << "usage: e2e-win32-ctl calvora-ctl.exe";
    std::vector<std::string> words{Narrow(gProgram)};
    words.insert(words.end(), args.begin(), args.end());
    std::wstring commandLine = Widen(ctl::JoinWindowsCommandWords(words));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto open = [&](const fs::path& path) {
      return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    outFile_ = open(folder_.Path() / "out.txt");
    errFile_ = open(folder_.Path() / "err.txt");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outFile_;
    startup.hStdError = errFile_;
    started_ = std::chrono::steady_clock::now();
    running_ = CreateProcessW(gProgram.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                              nullptr, nullptr, &startup, &process_);
    EXPECT_TRUE(running_) << "cannot start calvora-ctl.exe, error " << GetLastError();
  }

  ~Ctl() {
    if (running_) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    CloseHandle(outFile_);
    CloseHandle(errFile_);
  }

  // What it has written to stderr so far, while it runs.
  std::string ErrorsSoFar() const { return ReadFile(folder_.Path() / "err.txt"); }

  // Waits up to timeoutMs for the end; a process still running then is ended.
  Outcome Finish(int timeoutMs) {
    Outcome outcome;
    if (!running_)
      return outcome;
    outcome.ended =
        WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
    outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started_);
    if (!outcome.ended)
      TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
    GetExitCodeProcess(process_.hProcess, &outcome.exitCode);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    running_ = false;
    outcome.out = ReadFile(folder_.Path() / "out.txt");
    outcome.err = ReadFile(folder_.Path() / "err.txt");
    return outcome;
  }

 private:
  TempFolder folder_;
  HANDLE outFile_ = INVALID_HANDLE_VALUE;
  HANDLE errFile_ = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION process_{};
  bool running_ = false;
  std::chrono::steady_clock::time_point started_;
};

// Runs calvora-ctl.exe to its end (at most 20 s).
Ctl::Outcome RunCtl(const std::vector<std::string>& args) {
  return Ctl(args).Finish(20000);
}

std::string Text(uint32_t value) {
  return std::to_string(value);
}

TEST(CtlExe, ListAndIdentifyTellTheHandleAndTheProgramId) {
  const CtlStandInUtility utility(42);
  const std::string handle = Text(utility.Handle());

  auto list = RunCtl({"list"});
  EXPECT_EQ(list.exitCode, 0u) << list.err;
  EXPECT_NE(list.out.find(handle + "\t42\n"), std::string::npos) << list.out;
  list = RunCtl({"list", "--json"});
  EXPECT_NE(list.out.find("{\"handle\":" + handle + ",\"pid\":42}"), std::string::npos) << list.out;

  auto identify = RunCtl({"identify"});
  EXPECT_EQ(identify.exitCode, 0u) << identify.err;
  EXPECT_EQ(identify.out, "42\n");
  identify = RunCtl({"--json", "identify", "--handle", handle});
  EXPECT_EQ(identify.out, "{\"handle\":" + handle + ",\"pid\":42}\n");
  identify = RunCtl({"identify", "--pid", "42"});
  EXPECT_EQ(identify.out, "42\n");

  const auto otherPid = RunCtl({"identify", "--pid", "7"});
  EXPECT_EQ(otherPid.exitCode, 2u);
  EXPECT_NE(otherPid.err.find("no Calvora Audio Mixer answers the program ID 7 on this desktop"),
            std::string::npos)
      << otherPid.err;
  const auto noSuchHandle = RunCtl({"identify", "--handle", "12345678"});
  EXPECT_EQ(noSuchHandle.exitCode, 2u);
  EXPECT_NE(noSuchHandle.err.find("(running: " + handle + ")"), std::string::npos)
      << noSuchHandle.err;
}

TEST(CtlExe, EachCommandArrivesWithItsCodeAndArgument) {
  const CtlStandInUtility utility(42);
  const std::string handle = Text(utility.Handle());
  const std::vector<std::pair<std::vector<std::string>, std::pair<uint16_t, uint16_t>>> commands{
      {{"run"}, {link::CMD_RUN, 0}},
      {{"run", "--restore"}, {link::CMD_RUN, link::RUN_RESTORE}},
      {{"stop"}, {link::CMD_STOP, 0}},
      {{"stop", "--mute"}, {link::CMD_STOP, link::STOP_MUTE}},
      {{"mute"}, {link::CMD_MUTE, 0}},
      {{"unmute"}, {link::CMD_UNMUTE, 0}},
      {{"bye"}, {link::WINMSG_CONTROL, link::CTRL_BYE}},
  };
  for (const auto& [args, expected] : commands) {
    std::vector<std::string> withHandle = args;
    withHandle.insert(withHandle.end(), {"--handle", handle});
    const auto before = utility.ReceivedSoFar().size();
    const auto outcome = RunCtl(withHandle);
    EXPECT_EQ(outcome.exitCode, 0u) << args[0] << ": " << outcome.err;
    const auto received = utility.ReceivedSoFar();
    ASSERT_EQ(received.size(), before + 1) << args[0];
    EXPECT_EQ(received.back().code, expected.first) << args[0];
    EXPECT_EQ(received.back().argument, expected.second) << args[0];
    // wParam names the sender's own window, which lived as long as the program.
    EXPECT_NE(received.back().from, 0u) << args[0];
    EXPECT_NE(received.back().from, utility.Handle()) << args[0];
  }
}

// Drives a watch: waits for its hello, sends what a utility sends, then says goodbye.
void PlayToWatcher(const CtlStandInUtility& utility) {
  ASSERT_NE(utility.WaitForPeer(15000), 0u) << "no hello came";
  EXPECT_TRUE(utility.Notify(link::NTF_SILENCE, 0));
  EXPECT_TRUE(utility.SendAudioBlock(48000, 2, -20.5, -21.25, 1920));
  EXPECT_TRUE(utility.SendAudioBlock(44100, 1, -3, -3, 882));
  EXPECT_TRUE(utility.SendAudioBlock(48000, 2, -60, -61, 1920));
  EXPECT_TRUE(utility.Notify(link::NTF_ONLINE, link::DEV_MIXER));
  const std::vector<uint8_t> shortPacket{1, 2, 3};
  EXPECT_TRUE(utility.SendData(5, shortPacket));
  EXPECT_TRUE(utility.Notify(link::WINMSG_CONTROL, link::CTRL_BYE));
}

TEST(CtlExe, WatchPrintsNotificationsAndAudioBlocksAndEndsOnTheGoodbye) {
  const CtlStandInUtility utility(42);
  Ctl watch({"watch", "--duration", "30"});
  PlayToWatcher(utility);
  const auto outcome = watch.Finish(10000);
  ASSERT_TRUE(outcome.ended) << "watch did not end on the utility's goodbye";
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.err;

  const std::string time = R"(\d\d:\d\d:\d\d\.\d\d\d )";
  const std::vector<std::string> lines{
      time + "NTF_SILENCE 0",
      time + "AUDIO rate=48000 channels=2 bits=16 left=-20.50 right=-21.25 bytes=1920",
      time + "AUDIO rate=44100 channels=1 bits=16 left=-3.00 right=-3.00 bytes=882",
      time + "AUDIO rate=48000 channels=2 bits=16 left=-60.00 right=-61.00 bytes=1920",
      time + "NTF_ONLINE 1",
      time + "DATA kind=5 size=3 \\(not an audio block\\)",
      time + "WINMSG_CONTROL 2",
  };
  std::string expected;
  for (const std::string& line : lines)
    expected += line + "\n";
  EXPECT_TRUE(std::regex_match(outcome.out, std::regex(expected))) << outcome.out;
  // The utility said goodbye first: no goodbye goes back.
  for (const auto& r : utility.ReceivedSoFar())
    EXPECT_FALSE(r.code == link::WINMSG_CONTROL && r.argument == link::CTRL_BYE);
}

TEST(CtlExe, WatchWithJsonAndLevelsEveryPrintsObjectsForEveryNthBlock) {
  const CtlStandInUtility utility(42);
  Ctl watch({"watch", "--json", "--levels-every", "2", "--duration", "30"});
  PlayToWatcher(utility);
  const auto outcome = watch.Finish(10000);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.err;
  const std::string from = "\"from\":" + Text(utility.Handle());
  const std::string time = R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\d[+-]\d\d:\d\d",)";
  const std::vector<std::string> lines{
      time + from + R"(,"code":"NTF_SILENCE","argument":0\})",
      time + from +
          R"(,"code":"AUDIO","kind":0,"size":1942,"rate":48000,"channels":2,"bits":16,)"
          R"("left":-20\.5,"right":-21\.25,"bytes":1920\})",
      // The second block is left out; the third is printed.
      time + from +
          R"(,"code":"AUDIO","kind":0,"size":1942,"rate":48000,"channels":2,"bits":16,)"
          R"("left":-60\.0,"right":-61\.0,"bytes":1920\})",
      time + from + R"(,"code":"NTF_ONLINE","argument":1\})",
      time + from + R"(,"code":"DATA","kind":5,"size":3\})",
      time + from + R"(,"code":"WINMSG_CONTROL","argument":2\})",
  };
  std::string expected;
  for (const std::string& line : lines)
    expected += line + "\n";
  EXPECT_TRUE(std::regex_match(outcome.out, std::regex(expected))) << outcome.out;
}

TEST(CtlExe, WatchForItsDurationSaysGoodbyeAndLogsEvents) {
  const CtlStandInUtility utility(42);
  TempFolder logs;
  const fs::path folder = logs.Path() / "not yet" / "made";
  Ctl watch({"watch", "--duration", "3", "--log", folder.string()});
  ASSERT_NE(utility.WaitForPeer(15000), 0u);
  EXPECT_TRUE(utility.SendAudioBlock(48000, 2, -41.5, -40.25, 1920));
  EXPECT_TRUE(utility.Notify(link::NTF_SILENCE, 0));
  EXPECT_TRUE(utility.Notify(link::NTF_SILENCE, 0));  // a repeat is no event
  EXPECT_TRUE(utility.Notify(link::NTF_OFFLINE, link::DEV_CARD));
  const auto outcome = watch.Finish(15000);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.err;
  EXPECT_TRUE(utility.WaitForCommand(link::WINMSG_CONTROL, link::CTRL_BYE, 0))
      << "no goodbye at the end of the duration";

  std::vector<fs::path> files;
  if (fs::exists(folder))
    for (const auto& entry : fs::directory_iterator(folder))
      files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u) << "one log file of today in the folder made for it";
  EXPECT_TRUE(
      std::regex_match(files[0].filename().string(), std::regex(R"(\d{4}-\d\d-\d\d\.log)")));
  // ISO 8601 local time with the zone's offset, the event, the device, the last levels.
  const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\d[+-]\d\d:\d\d)";
  EXPECT_TRUE(std::regex_match(
      ReadFile(files[0]), std::regex(stamp + " silence card left=-41.50 right=-40.25\n" + stamp +
                                     " offline card left=-41.50 right=-40.25\n")))
      << ReadFile(files[0]);
}

TEST(CtlExe, WatchEndsWhenTheUtilitysWindowGoesWithoutAGoodbye) {
  auto utility = std::make_unique<CtlStandInUtility>(42);
  Ctl watch({"watch", "--duration", "30"});
  ASSERT_NE(utility->WaitForPeer(15000), 0u);
  utility.reset();
  const auto outcome = watch.Finish(10000);
  ASSERT_TRUE(outcome.ended) << "watch did not notice the window's end";
  EXPECT_EQ(outcome.exitCode, 3u);
  EXPECT_NE(outcome.err.find("the utility's window has gone"), std::string::npos) << outcome.err;
}

TEST(CtlExe, AutoAnswersSilenceWithMuteAndSoundWithUnmute) {
  const CtlStandInUtility utility(42);
  Ctl automatic({"auto", "--duration", "30"});
  ASSERT_NE(utility.WaitForPeer(15000), 0u);
  EXPECT_TRUE(utility.WaitForCommand(link::CMD_RUN, link::RUN_RESTORE, 5000))
      << "auto did not start the work";
  EXPECT_TRUE(utility.Notify(link::NTF_SILENCE, 0));
  EXPECT_TRUE(utility.WaitForCommand(link::CMD_MUTE, 0, 5000)) << "no mute for the silence";
  EXPECT_FALSE(utility.WaitForCommand(link::CMD_UNMUTE, 0, 0));
  EXPECT_TRUE(utility.Notify(link::NTF_SOUND, 0));
  EXPECT_TRUE(utility.WaitForCommand(link::CMD_UNMUTE, 0, 5000)) << "no unmute for the sound";
  EXPECT_TRUE(utility.Notify(link::WINMSG_CONTROL, link::CTRL_BYE));
  const auto outcome = automatic.Finish(10000);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.err;
  const std::string time = R"(\d\d:\d\d:\d\d\.\d\d\d )";
  // The stand-in answers the verdict question 0, as a utility that does not know it.
  EXPECT_TRUE(std::regex_match(
      outcome.out,
      std::regex(time + "sent CMD_VERDICT 0 verdict=unknown\n" + time + "sent CMD_RUN 2\n" + time +
                 "NTF_SILENCE 0\n" + time + "sent CMD_MUTE 0\n" + time + "NTF_SOUND 0\n" + time +
                 "sent CMD_UNMUTE 0\n" + time + "WINMSG_CONTROL 2\n")))
      << outcome.out;
}

// The command of an event: this test program in its recording role, with words that need
// quoting and a path with backslashes.
std::string RecordingCommand(const fs::path& file, const std::string& label) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return "\"" + Narrow(self) + "\" --record-action \"" + file.string() + "\" " + label +
         " \"arg with blanks\" C:\\tools\\alarm.exe \"say \\\"hi\\\"\"";
}

// The file the recording command appends to, once it holds `count` runs (at most 15 s).
std::string WaitForRuns(const fs::path& file, std::size_t count) {
  for (int waited = 0; waited < 15000; waited += 50) {
    const std::string text = ReadFile(file);
    std::size_t runs = 0;
    for (std::size_t at = text.find("end\n"); at != std::string::npos;
         at = text.find("end\n", at + 1))
      ++runs;
    if (runs >= count)
      return text;
    Sleep(50);
  }
  return ReadFile(file);
}

TEST(CtlExe, EventsRunTheirCommandsWithTheWordsAndTheEventInTheEnvironment) {
  const CtlStandInUtility utility(42);
  TempFolder folder;
  const fs::path file = folder.Path() / "runs.txt";
  Ctl watch({"watch", "--duration", "30", "--on-silence", RecordingCommand(file, "for-silence"),
             "--on-online", RecordingCommand(file, "for-online")});
  ASSERT_NE(utility.WaitForPeer(15000), 0u);
  EXPECT_TRUE(utility.Notify(link::NTF_ONLINE, link::DEV_MIXER));
  ASSERT_FALSE(WaitForRuns(file, 1).empty()) << "the online command did not run";
  EXPECT_TRUE(utility.SendAudioBlock(48000, 2, -41.5, -40.25, 1920));
  EXPECT_TRUE(utility.Notify(link::NTF_SILENCE, 0));
  const std::string runs = WaitForRuns(file, 2);
  EXPECT_TRUE(utility.Notify(link::WINMSG_CONTROL, link::CTRL_BYE));
  const auto outcome = watch.Finish(10000);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.err;

  const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\d[+-]\d\d:\d\d)";
  const std::string handle = Text(utility.Handle());
  auto run = [&](const std::string& label, const std::string& event, const std::string& device,
                 const std::string& left, const std::string& right) {
    return label + "\narg with blanks\nC:\\\\tools\\\\alarm\\.exe\nsay \"hi\"\nevent=" + event +
           "\ndevice=" + device + "\ntime=" + stamp + "\nleft=" + left + "\nright=" + right +
           "\nhandle=" + handle + "\nend\n";
  };
  EXPECT_TRUE(std::regex_match(
      runs, std::regex(run("for-online", "online", "mixer", "", "") +
                       run("for-silence", "silence", "card", "-41\\.50", "-40\\.25"))))
      << runs;
  // Each run told on stderr: its start, its output, its end.
  for (const std::string& told :
       {std::string("calvora-ctl: on-online: started "), std::string(": recorded on stdout\n"),
        std::string(": recorded on stderr\n"), std::string(") exited with 4 after ")})
    EXPECT_NE(outcome.err.find(told), std::string::npos) << told << "\n" << outcome.err;
}

TEST(CtlExe, ACommandThatCannotStartIsToldAndWatchGoesOn) {
  const CtlStandInUtility utility(42);
  Ctl watch({"watch", "--duration", "30", "--on-silence", "C:\\no\\such\\program.exe x"});
  ASSERT_NE(utility.WaitForPeer(15000), 0u);
  EXPECT_TRUE(utility.Notify(link::NTF_SILENCE, 0));
  Sleep(500);
  EXPECT_TRUE(utility.Notify(link::NTF_SOUND, 0)) << "watch stopped answering";
  EXPECT_TRUE(utility.Notify(link::WINMSG_CONTROL, link::CTRL_BYE));
  const auto outcome = watch.Finish(10000);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_NE(
      outcome.err.find("calvora-ctl: on-silence: could not start C:\\no\\such\\program.exe: "),
      std::string::npos)
      << outcome.err;
}

TEST(CtlWindowsCommandWords, BackslashesStayAndJoinedWordsComeBackWhole) {
  std::string error;
  EXPECT_EQ(
      ctl::SplitWindowsCommandWords(R"(  C:\tools\alarm.exe --loud "two words" a\b\\)", error),
      (std::vector<std::string>{R"(C:\tools\alarm.exe)", "--loud", "two words", R"(a\b\\)"}));
  EXPECT_EQ(ctl::SplitWindowsCommandWords(R"("C:\Program Files\x.exe" "say \"hi\"")", error),
            (std::vector<std::string>{R"(C:\Program Files\x.exe)", R"(say "hi")"}));
  EXPECT_FALSE(ctl::SplitWindowsCommandWords(" \t ", error));
  EXPECT_EQ(error, "the command is empty");

  const std::vector<std::string> tricky{"C:\\Program Files\\x.exe",
                                        "",
                                        "plain",
                                        "two words",
                                        "ends in a backslash\\",
                                        R"(back\\slashes\\)",
                                        R"(quote"inside)",
                                        R"(\"already\" escaped)",
                                        "tab\there",
                                        "unicode \xc3\xa9t\xc3\xa9"};
  const std::string line = ctl::JoinWindowsCommandWords(tricky);
  EXPECT_EQ(ctl::SplitWindowsCommandWords(line, error), tricky) << line;
  EXPECT_EQ(ctl::JoinWindowsCommandWords({"a", "b"}), "a b");
}

TEST(CtlExe, AUtilityThatDoesNotAnswerEndsTheCommandWithinASecondAndAHalf) {
  // What starting the program costs here, so that only the wait is measured.
  const auto help = RunCtl({"--help"});
  ASSERT_EQ(help.exitCode, 0u);
  const CtlStandInUtility hung(42, Behaviour::kHung);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"identify"}, {"mute"}, {"watch"}}) {
    const auto outcome = RunCtl(args);
    EXPECT_TRUE(outcome.ended) << args[0];
    EXPECT_EQ(outcome.exitCode, 3u) << args[0] << ": " << outcome.err;
    EXPECT_NE(outcome.err.find("the utility did not answer within 1000 ms"), std::string::npos)
        << outcome.err;
    EXPECT_LT((outcome.took - help.took).count(), 1500) << args[0];
  }
}

// GET `path` from 127.0.0.1:port over HTTP/1.0, with `credentials` ("user:password", in
// base64) when given: the whole answer, head and body, or "" when nothing answers.
std::string HttpGet(int port, const std::string& path, const std::string& credentials = "") {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    return "";
  std::string answer;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string authorization =
        credentials.empty() ? "" : "Authorization: Basic " + credentials + "\r\n";
    const std::string request =
        "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + authorization + "\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[4096];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
      answer.append(buffer, static_cast<std::size_t>(n));
  }
  closesocket(s);
  WSACleanup();
  return answer;
}

// Basic authentication's credentials, base64 of "prometheus:on-air" and of a wrong password.
constexpr char kRightCredentials[] = "cHJvbWV0aGV1czpvbi1haXI=";
constexpr char kWrongCredentials[] = "cHJvbWV0aGV1czpvZmYtYWly";  // prometheus:off-air

// A folder named with letters beyond the ANSI code page and a blank ("Station Łódź"), and a
// path in it as the UTF-8 of the command line.
const fs::path kStationFolder = L"Station \u0141\u00f3d\u017a";

std::string Utf8(const fs::path& path) {
  return Narrow(path.wstring());
}

TEST(CtlExe, ServeAnswersItsMetricsWithAPasswordAndAPortInUseEndsTheSecond) {
  const CtlStandInUtility utility(42);
  TempFolder temp;
  // The web configuration and the event log in a folder whose name is not in the ANSI code page.
  const fs::path logs = temp.Path() / kStationFolder;
  fs::create_directories(logs);
  // One user, with the password on-air (htpasswd -nbBC 4 prometheus on-air).
  const fs::path webConfig = logs / "web.yml";
  std::ofstream(webConfig)
      << "basic_auth_users:\n"
         "  prometheus: $2y$04$/pRXb3Gmp5RxM2LZEBlDK.c0MFOyZoXI9XwEw1qCMzfYNqaumBZIe\n";
  Ctl serve({"serve", "--listen", "127.0.0.1:0", "--station", "studio-w", "--log",
             Utf8(logs / "events"), "--json", "--web-config", Utf8(webConfig)});
  ASSERT_NE(utility.WaitForPeer(15000), 0u) << serve.ErrorsSoFar();
  // The port it chose, from what it says on stderr.
  std::smatch found;
  std::string said;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const std::regex serving(R"(serving http://127\.0\.0\.1:(\d+)/metrics)");
  while (!std::regex_search(said = serve.ErrorsSoFar(), found, serving) &&
         std::chrono::steady_clock::now() < deadline)
    Sleep(50);
  ASSERT_FALSE(found.empty()) << said;
  const std::string port = found[1];
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(utility.SendAudioBlock(48000, 2, -20.5, -21.25, 1920));
  EXPECT_TRUE(utility.Notify(link::NTF_SILENCE, 0));
  Sleep(300);

  for (const std::string credentials : {"", kWrongCredentials}) {
    const std::string refused = HttpGet(std::stoi(port), "/metrics", credentials);
    EXPECT_EQ(refused.rfind("HTTP/1.1 401", 0), 0u) << refused;
    EXPECT_NE(refused.find("WWW-Authenticate: Basic realm=\"calvora-ctl\""), std::string::npos)
        << refused;
    EXPECT_EQ(refused.find("calvora_silence"), std::string::npos) << refused;
  }
  const std::string metrics = HttpGet(std::stoi(port), "/metrics", kRightCredentials);
  EXPECT_EQ(metrics.rfind("HTTP/1.1 200", 0), 0u) << metrics;
  for (const std::string sample :
       {"calvora_silence{station=\"studio-w\"} 1",
        "calvora_level_dbfs{station=\"studio-w\",channel=\"left\"} -20.5",
        "calvora_audio_blocks_total{station=\"studio-w\"} 5"})
    EXPECT_NE(metrics.find(sample), std::string::npos) << sample << " in\n" << metrics;
  // The right password, remembered, lets in that password alone.
  EXPECT_EQ(HttpGet(std::stoi(port), "/metrics", kWrongCredentials).rfind("HTTP/1.1 401", 0), 0u);
  EXPECT_NE(HttpGet(std::stoi(port), "/status", kRightCredentials).find("\"silence\":true"),
            std::string::npos);
  EXPECT_NE(HttpGet(std::stoi(port), "/", kRightCredentials).find("<html"), std::string::npos);

  // A second server on the same port: Windows would let it bind beside the first without
  // an exclusive address, and the scrapes would go to either.
  const auto second = RunCtl({"serve", "--listen", "127.0.0.1:" + port});
  EXPECT_EQ(second.exitCode, 4u) << second.err;
  EXPECT_NE(second.err.find("cannot listen on 127.0.0.1:" + port), std::string::npos) << second.err;
  EXPECT_NE(HttpGet(std::stoi(port), "/metrics", kRightCredentials).find("studio-w"),
            std::string::npos);
  serve.Finish(0);
  ASSERT_TRUE(fs::is_directory(logs / "events"));
  EXPECT_NE(ReadFile(fs::directory_iterator(logs / "events")->path()).find("\"event\":\"silence\""),
            std::string::npos);
}

TEST(CtlExe, ShellAndAWebConfigWithTlsAreRefusedOnWindows) {
  const auto shell = RunCtl({"auto", "--shell", "--on-sound", "x"});
  EXPECT_EQ(shell.exitCode, 1u);
  EXPECT_NE(shell.err.find("not available on Windows"), std::string::npos) << shell.err;
  const CtlStandInUtility utility(42);
  // TLS is refused by the line that asks for it, even with files that are there, in a folder
  // whose name is not in the ANSI code page; a file that cannot be read is named, and so is the
  // line of a file name that is no UTF-8 (a configuration saved in Windows-1252).
  TempFolder temp;
  const fs::path folder = temp.Path() / kStationFolder;
  fs::create_directories(folder);
  const fs::path webConfig = folder / "web.yml";
  std::ofstream(folder / "station.crt") << "certificate\n";
  std::ofstream(folder / "station.key") << "key\n";
  std::ofstream(webConfig) << "tls_server_config:\n"
                              "  cert_file: station.crt\n"
                              "  key_file: station.key\n";
  const auto tls = RunCtl({"serve", "--web-config", Utf8(webConfig)});
  EXPECT_EQ(tls.exitCode, 1u);
  EXPECT_NE(tls.err.find("web.yml:2: tls_server_config asks for TLS"), std::string::npos)
      << tls.err;
  EXPECT_NE(tls.err.find("TLS proxy"), std::string::npos) << tls.err;
  const fs::path codePage = folder / "code-page.yml";
  std::ofstream(codePage) << "tls_server_config:\n"
                             "  key_file: station.key\n"
                             "  cert_file: Zertifikat \xe4.crt\n";
  const auto named = RunCtl({"serve", "--web-config", Utf8(codePage)});
  EXPECT_EQ(named.exitCode, 1u);
  EXPECT_NE(named.err.find("code-page.yml:3: cert_file needs a file name in UTF-8"),
            std::string::npos)
      << named.err;
  const auto missing = RunCtl({"serve", "--web-config", Utf8(folder / "none.yml")});
  EXPECT_EQ(missing.exitCode, 1u);
  EXPECT_NE(missing.err.find("none.yml: cannot be read"), std::string::npos) << missing.err;
  const auto help = RunCtl({"--help"});
  EXPECT_EQ(help.out.find("session bus"), std::string::npos);
  EXPECT_NE(help.out.find("--listen"), std::string::npos);
  EXPECT_NE(help.out.find("--checks"), std::string::npos);
  EXPECT_NE(help.out.find("--web-config FILE"), std::string::npos);
  EXPECT_NE(help.out.find("TLS proxy"), std::string::npos);
  // Listening in and the clips, as on Linux, with their metrics.
  for (const char* option : {"--listen-bitrate B", "--clips DIR", "--clips-max-mb MB",
                             "--clips-days DAYS", "/listen", "calvora_clips_bytes"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(help.out.find("not in the Windows build"), std::string::npos);
}

}  // namespace
}  // namespace calvora::e2e

namespace {

// The recording role of this program, as the command of an event: appends its words after the
// file and the event's environment to the file, says so on stdout and stderr, exits with 4.
int RecordAction() {
  using calvora::platform::win32::Narrow;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::ofstream file(std::filesystem::path(words[2]), std::ios::app | std::ios::binary);
  for (int i = 3; i < count; ++i)
    file << Narrow(words[i]) << "\n";
  for (const wchar_t* name : {L"CALVORA_EVENT", L"CALVORA_DEVICE", L"CALVORA_TIME",
                              L"CALVORA_LEFT_DB", L"CALVORA_RIGHT_DB", L"CALVORA_HANDLE"}) {
    wchar_t value[256] = {};
    GetEnvironmentVariableW(name, value, 256);
    std::string key = Narrow(name).substr(8);  // "EVENT", "LEFT_DB", ...
    for (char& c : key)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    file << key.substr(0, key.find("_db")) << "=" << Narrow(value) << "\n";
  }
  file << "end\n";
  LocalFree(words);
  std::printf("recorded on stdout\n");
  std::fprintf(stderr, "recorded on stderr\n");
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--record-action")
    return RecordAction();
  ::testing::InitGoogleTest(&argc, argv);
  // ctest names the program by its path on the Linux side; Wine's drive Z: is the root. The
  // listing of the tests runs without it.
  std::string path = argc > 1 ? argv[1] : "";
  if (!path.empty() && path[0] == '/')
    path = "Z:" + path;
  for (char& c : path)
    if (c == '/')
      c = '\\';
  calvora::e2e::gProgram = calvora::e2e::Widen(path);
  return RUN_ALL_TESTS();
}
