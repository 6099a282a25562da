// calvora-rogue-window: a hostile program on the session bus, for the link tests. It talks
// to the bus directly, so it can do what a well-behaved window never does:
//   squat <name> ...                  owns those bus names, prints "claimed <name> <result>"
//                                     for each, and stays until its input closes
//   forge <target> <wparam> <lparam>  sends one window message to the window <target>
//                                     whose wParam names any window; prints "answer <a>"
//   forge-data <target> <wparam>      sends one audio block (kind 0, a whole header and 64
//                                     bytes of samples) the same way; prints "answer <a>"
//   hang <target> <class>             a window of that class that never answers a call and
//                                     announces itself to <target> at start and again after
//                                     every goodbye; prints "byes <n> awaited <m>" on each
//                                     goodbye, m the calls so far that asked for an answer
// Every mode first prints "ready <own handle>".
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kPath = "/org/calvora/Window";
constexpr const char* kInterface = "org.calvora.Window";
constexpr uint32_t kWinMsg = 2102;
constexpr uint32_t kHello = 0x7FFF0000;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string UniqueNameOf(uint32_t handle) {
  return ":1." + std::to_string(handle - 1);
}

uint32_t OwnHandle(sd_bus* bus) {
  const char* unique = nullptr;
  sd_bus_get_unique_name(bus, &unique);
  return static_cast<uint32_t>(std::strtoul(unique + 3, nullptr, 10)) + 1;
}

// Posts a window message and forgets it.
void Post(sd_bus* bus, uint32_t target, uint32_t wParam, uint32_t lParam) {
  sd_bus_message* call = nullptr;
  sd_bus_message_new_method_call(bus, &call, UniqueNameOf(target).c_str(), kPath, kInterface,
                                 "SendMessage");
  sd_bus_message_append(call, "uuu", kWinMsg, wParam, lParam);
  sd_bus_message_set_expect_reply(call, 0);
  sd_bus_send(bus, call, nullptr);
  sd_bus_message_unref(call);
}

// Serves the bus until standard input closes.
void ServeUntilInputCloses(sd_bus* bus) {
  for (;;) {
    while (sd_bus_process(bus, nullptr) > 0) {
    }
    pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                     {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, 2, 100) < 0)
      continue;
    if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
      char buffer[256];
      if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
        return;
    }
  }
}

struct Hung {
  sd_bus* bus;
  uint32_t target;
  int byes = 0;
  int awaited = 0;
};

// Never answers: the call is simply left unanswered. A goodbye from the target is taken as
// a cue to announce again.
int OnCall(sd_bus_message* call, void* userdata, sd_bus_error*) {
  auto* hung = static_cast<Hung*>(userdata);
  if (sd_bus_message_get_expect_reply(call) > 0)
    ++hung->awaited;
  uint32_t message = 0;
  uint32_t wParam = 0;
  uint32_t lParam = 0;
  if (std::strcmp(sd_bus_message_get_member(call), "SendMessage") == 0 &&
      sd_bus_message_read(call, "uuu", &message, &wParam, &lParam) >= 0 && lParam == 0x7FFF0002 &&
      wParam == hung->target) {
    Say("byes " + std::to_string(++hung->byes) + " awaited " + std::to_string(hung->awaited));
    Post(hung->bus, hung->target, OwnHandle(hung->bus), kHello);
  }
  return 1;
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("SendMessage", "uuu", "i", OnCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CopyData", "uuay", "i", OnCall, SD_BUS_VTABLE_UNPRIVILEGED), SD_BUS_VTABLE_END};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return 1;
  const std::string mode = argv[1];
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0)
    return 2;
  Say("ready " + std::to_string(OwnHandle(bus)));

  if (mode == "squat") {
    for (int i = 2; i < argc; ++i)
      Say(std::string("claimed ") + argv[i] + " " +
          std::to_string(sd_bus_request_name(bus, argv[i], 0)));
    ServeUntilInputCloses(bus);
  } else if (mode == "forge" && argc == 5) {
    const auto target = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const auto wParam = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const auto lParam = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 0));
    sd_bus_message* reply = nullptr;
    int32_t answer = -1;
    if (sd_bus_call_method(bus, UniqueNameOf(target).c_str(), kPath, kInterface, "SendMessage",
                           nullptr, &reply, "uuu", kWinMsg, wParam, lParam) >= 0)
      sd_bus_message_read(reply, "i", &answer);
    sd_bus_message_unref(reply);
    Say("answer " + std::to_string(answer));
  } else if (mode == "forge-data" && argc == 4) {
    const auto target = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const auto wParam = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    // 48000 Hz, 2 channels, 16 bits, both levels -1.0, then silent samples.
    std::vector<uint8_t> packet(22 + 64, 0);
    const uint8_t header[22] = {0x80, 0xBB, 0,    0, 2, 16, 0, 0, 0, 0,    0,
                                0,    0xF0, 0xBF, 0, 0, 0,  0, 0, 0, 0xF0, 0xBF};
    std::memcpy(packet.data(), header, sizeof header);
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    int32_t answer = -1;
    if (sd_bus_message_new_method_call(bus, &call, UniqueNameOf(target).c_str(), kPath, kInterface,
                                       "CopyData") >= 0 &&
        sd_bus_message_append(call, "uu", wParam, 0u) >= 0 &&
        sd_bus_message_append_array(call, 'y', packet.data(), packet.size()) >= 0 &&
        sd_bus_call(bus, call, 0, nullptr, &reply) >= 0)
      sd_bus_message_read(reply, "i", &answer);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    Say("answer " + std::to_string(answer));
  } else if (mode == "hang" && argc == 4) {
    Hung hung{bus, static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10))};
    sd_bus_add_object_vtable(bus, nullptr, kPath, kInterface, kVtable, &hung);
    const std::string name =
        std::string("org.calvora.Window.") + argv[3] + ".H" + std::to_string(OwnHandle(bus));
    sd_bus_request_name(bus, name.c_str(), 0);
    Post(bus, hung.target, OwnHandle(bus), kHello);
    ServeUntilInputCloses(bus);
  } else {
    return 1;
  }
  sd_bus_flush_close_unref(bus);
  return 0;
}
