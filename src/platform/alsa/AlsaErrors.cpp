#include "platform/alsa/AlsaErrors.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace calvora::platform::alsa {

namespace {

bool debug = false;
thread_local std::string lastMessage;
std::mutex reportedMutex;
std::map<std::string, std::string> reported;  // "what device" -> the reason last reported

void Handler(const char* file, int line, const char* function, int error, const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  // Some plugins end their message with a line break of their own (the pulse plugin's
  // "Unable to connect: Connection refused\n"); the report adds its own.
  size_t length = std::strlen(text);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
    text[--length] = '\0';
  lastMessage = text;
  if (debug) {
    std::fprintf(stderr, "ALSA lib %s:%d:(%s) %s%s%s\n", file, line, function, text,
                 error != 0 ? ": " : "", error != 0 ? snd_strerror(error) : "");
  }
}

}  // namespace

void InstallAlsaErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* value = std::getenv("CALVORA_DEBUG");
    debug = value != nullptr && std::strcmp(value, "1") == 0;
    snd_lib_error_set_handler(Handler);
  });
}

void ForgetAlsaMessage() {
  lastMessage.clear();
}

void ReportOpenFailure(const std::string& what, const std::string& device, int alsaError) {
  std::string reason = snd_strerror(alsaError);
  if (!lastMessage.empty())
    reason += " (" + lastMessage + ")";
  {
    std::lock_guard lock(reportedMutex);
    std::string& last = reported[what + " " + device];
    if (last == reason)
      return;
    last = reason;
  }
  std::fprintf(stderr, "calvora-audio-mixer: the %s device \"%s\" does not open: %s\n",
               what.c_str(), device.c_str(), reason.c_str());
}

void ForgetOpenFailure(const std::string& what, const std::string& device) {
  std::lock_guard lock(reportedMutex);
  reported.erase(what + " " + device);
}

}  // namespace calvora::platform::alsa
