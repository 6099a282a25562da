// Sends the utility's window every kind of malformed and hostile message over the session
// bus and checks after each kind that it still answers: every command code with a spread of
// arguments, data messages from 0 bytes to 1 MiB, calls with wrong signatures and to unknown
// methods, and a flood of windows that announce themselves and vanish at once. Prints what it
// sent; exits 1 when the utility stopped answering or its program ID changed.
//
//   reliability-hostile-peer BUSNAME PROGRAM_ID [FLOOD]
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kWinMsg = 2102;
constexpr uint32_t kControl = 0x7FFF;
constexpr uint32_t kIdentify = 0x7FFF;
constexpr const char* kPath = "/org/calvora/Window";
constexpr const char* kInterface = "org.calvora.Window";
constexpr uint64_t kReplyTimeoutUs = 2'000'000;

struct Bus {
  Bus() {
    if (sd_bus_open_user(&bus) < 0) {
      std::fprintf(stderr, "no session bus\n");
      std::exit(2);
    }
  }
  ~Bus() { sd_bus_flush_close_unref(bus); }
  sd_bus* bus = nullptr;
};

const char* target;
int failures = 0;

// The answer of SendMessage(u,u,u), or nothing when the call failed.
bool Send(sd_bus* bus, uint32_t message, uint32_t wparam, uint32_t lparam, int32_t* answer) {
  sd_bus_message* m = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  bool ok =
      sd_bus_message_new_method_call(bus, &m, target, kPath, kInterface, "SendMessage") >= 0 &&
      sd_bus_message_append(m, "uuu", message, wparam, lparam) >= 0 &&
      sd_bus_call(bus, m, kReplyTimeoutUs, &error, &reply) >= 0;
  if (ok && answer != nullptr)
    ok = sd_bus_message_read(reply, "i", answer) >= 0;
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(m);
  return ok;
}

// Sends without waiting: the flood's pace is the sender's, not the utility's.
void SendNoWait(sd_bus* bus, uint32_t message, uint32_t wparam, uint32_t lparam) {
  sd_bus_message* m = nullptr;
  if (sd_bus_message_new_method_call(bus, &m, target, kPath, kInterface, "SendMessage") >= 0 &&
      sd_bus_message_append(m, "uuu", message, wparam, lparam) >= 0)
    sd_bus_send(bus, m, nullptr);
  sd_bus_message_unref(m);
}

bool CopyData(sd_bus* bus, uint32_t wparam, uint32_t kind, const std::vector<uint8_t>& data) {
  sd_bus_message* m = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const bool ok =
      sd_bus_message_new_method_call(bus, &m, target, kPath, kInterface, "CopyData") >= 0 &&
      sd_bus_message_append(m, "uu", wparam, kind) >= 0 &&
      sd_bus_message_append_array(m, 'y', data.data(), data.size()) >= 0 &&
      sd_bus_call(bus, m, kReplyTimeoutUs, &error, &reply) >= 0;
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(m);
  return ok;
}

// A call the window must refuse (an error reply) without harm: the reply is not checked.
void Wrong(sd_bus* bus, const char* interface, const char* method, const char* signature,
           const std::vector<uint32_t>& values) {
  sd_bus_message* m = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  if (sd_bus_message_new_method_call(bus, &m, target, kPath, interface, method) >= 0) {
    bool ok = true;
    for (const char* c = signature; *c != '\0' && ok; ++c) {
      const size_t i = static_cast<size_t>(c - signature);
      const uint32_t v = i < values.size() ? values[i] : 0;
      if (*c == 's')
        ok = sd_bus_message_append(m, "s", "hello") >= 0;
      else if (*c == 'y')
        ok = sd_bus_message_append(m, "y", static_cast<uint8_t>(v)) >= 0;
      else if (*c == 'i')
        ok = sd_bus_message_append(m, "i", static_cast<int32_t>(v)) >= 0;
      else
        ok = sd_bus_message_append(m, "u", v) >= 0;
    }
    if (ok)
      sd_bus_call(bus, m, kReplyTimeoutUs, &error, &reply);
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(m);
}

// The utility still answers identify with its program ID, promptly.
void Responsive(sd_bus* bus, int32_t id, const char* after) {
  const auto start = std::chrono::steady_clock::now();
  int32_t answer = -1;
  const bool ok = Send(bus, kWinMsg, 0, kControl << 16 | kIdentify, &answer);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!ok || answer != id) {
    std::printf("FAIL: after %s the utility %s\n", after,
                ok ? "answered identify with another ID" : "did not answer identify");
    ++failures;
    return;
  }
  std::printf("ok: %s; identify answered %d in %.1f ms\n", after, answer, ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s BUSNAME PROGRAM_ID [FLOOD]\n", argv[0]);
    return 2;
  }
  target = argv[1];
  const int32_t id = std::atoi(argv[2]);
  const int flood = argc > 3 ? std::atoi(argv[3]) : 200;
  Bus bus;
  Responsive(bus.bus, id, "the first identify");

  // Every code with the arguments at the edges and in between, from a window that does not
  // exist (wParam 0 and a made-up handle): the commands act, the rest are ignored.
  const uint32_t arguments[] = {0, 1, 2, 3, 0x7FFE, 0x7FFF, 0x8000, 0xFFFF};
  long sent = 0;
  for (uint32_t code = 0; code <= 0xFFFF; ++code) {
    for (const uint32_t argument : arguments) {
      if (code == kControl && argument == 0)
        continue;  // hellos are the flood's business
      SendNoWait(bus.bus, kWinMsg, code % 2 == 0 ? 0 : 0x7FFFFFF0, code << 16 | argument);
      ++sent;
    }
    if (code % 512 == 511)
      sd_bus_flush(bus.bus);
  }
  // Other message numbers with a command's lparam.
  for (const uint32_t message : {0u, 1u, 2101u, 2103u, 0x004Au, 0xFFFFFFFFu}) {
    SendNoWait(bus.bus, message, 0, 0);
    ++sent;
  }
  sd_bus_flush(bus.bus);
  Responsive(bus.bus, id,
             ("every code 0..0xFFFF with 8 arguments and 6 other message numbers (" +
              std::to_string(sent) + " messages)")
                 .c_str());

  // Data messages of every awkward size.
  int data = 0;
  for (const size_t size : {0ul, 1ul, 21ul, 22ul, 23ul, 1942ul, 65536ul, 1048576ul}) {
    std::vector<uint8_t> bytes(size, 0xA5);
    for (const uint32_t kind : {0u, 0x7FFF0000u, 0xFFFFFFFFu}) {
      CopyData(bus.bus, 0, kind, bytes);
      ++data;
    }
  }
  Responsive(bus.bus, id, (std::to_string(data) + " data messages of 0 B to 1 MiB").c_str());

  // Wrong signatures, unknown methods and interfaces.
  Wrong(bus.bus, kInterface, "SendMessage", "", {});
  Wrong(bus.bus, kInterface, "SendMessage", "uu", {kWinMsg, 0});
  Wrong(bus.bus, kInterface, "SendMessage", "uuuu", {kWinMsg, 0, kControl << 16 | 2, 7});
  Wrong(bus.bus, kInterface, "SendMessage", "sss", {});
  Wrong(bus.bus, kInterface, "SendMessage", "iii", {kWinMsg, 0, 0});
  Wrong(bus.bus, kInterface, "CopyData", "uu", {0, 0});
  Wrong(bus.bus, kInterface, "CopyData", "uus", {0, 0});
  Wrong(bus.bus, kInterface, "CopyData", "y", {7});
  Wrong(bus.bus, kInterface, "Quit", "", {});
  Wrong(bus.bus, "org.calvora.Nothing", "SendMessage", "uuu", {kWinMsg, 0, 0});
  Wrong(bus.bus, "org.freedesktop.DBus.Introspectable", "Introspect", "", {});
  Wrong(bus.bus, "org.freedesktop.DBus.Properties", "GetAll", "s", {});
  Responsive(bus.bus, id, "12 calls with wrong signatures, methods or interfaces");

  // Windows that announce themselves and vanish at once: each a connection of its own with
  // a window name, a hello and a close before the utility can look.
  for (int i = 0; i < flood; ++i) {
    Bus ghost;
    const char* unique = nullptr;
    sd_bus_get_unique_name(ghost.bus, &unique);
    const unsigned long n = std::strtoul(std::string(unique).substr(3).c_str(), nullptr, 10);
    const std::string name = "org.calvora.Window.Ghost.H" + std::to_string(n + 1);
    sd_bus_request_name(ghost.bus, name.c_str(), 0);
    SendNoWait(ghost.bus, kWinMsg, static_cast<uint32_t>(n + 1), kControl << 16);
    sd_bus_flush(ghost.bus);
  }
  Responsive(bus.bus, id,
             (std::to_string(flood) + " hellos from windows that vanished at once").c_str());
  return failures == 0 ? 0 : 1;
}
