#include "settings/Settings.h"

#include "platform/Utf8Text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace calvora::settings {

SettingsRecord Settings;

bool CardChanged = false;
bool MixerDeviceChanged = false;
bool MixerLinesChanged = false;
bool MixerLevelChanged = false;

bool LinesMuted = true;

int32_t BitrateByIndex(int32_t index) {
  // Beyond the table is not a position callers pass; answer it like "nothing chosen"
  // rather than reading past the table.
  if (index < 0 || index >= static_cast<int32_t>(SampleRates.size()))
    return 48000;
  return SampleRates[static_cast<size_t>(index)];
}

namespace {

constexpr size_t kMaxTextLength = 255;
constexpr std::string_view kAutoStartName = "DORozizIzuzo";

constexpr std::string_view kSettings = "Settings";
constexpr std::string_view kSoundcard = "Soundcard";
constexpr std::string_view kMixer = "Mixer";

// Decimal with an optional sign, or hexadecimal after "$" or after "0x"/"0X" (the latter
// only with digits following). The whole text must be the number; a hexadecimal value is a
// 32-bit pattern, as the file format has always allowed ("$FFFFFFFF" is -1).
std::optional<int32_t> ParseInteger(std::string_view text) {
  text = platform::TrimSpacesAndTabs(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  } else if (!text.empty() && text[0] == '$') {
    text.remove_prefix(1);
    base = 16;
  }
  if (text.empty())
    return std::nullopt;
  const char* end = text.data() + text.size();
  if (base == 16) {
    uint32_t bits = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, bits, 16);
    if (ec != std::errc() || ptr != end)
      return std::nullopt;
    return static_cast<int32_t>(bits);
  }
  if (text[0] == '+') {
    text.remove_prefix(1);
    if (text.empty() || text[0] == '-')
      return std::nullopt;
  }
  int32_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
  if (ec != std::errc() || ptr != end)
    return std::nullopt;
  return value;
}

// A decimal number with "." or "," as the separator, whatever the process locale is, so a
// file written on any machine reads the same. Infinite and undefined values are refused:
// no setting has a meaning for them.
std::optional<double> ParseFloat(std::string_view text) {
  std::string number(platform::TrimSpacesAndTabs(text));
  for (char& c : number)
    if (c == ',')
      c = '.';
  std::string_view digits = number;
  if (!digits.empty() && digits[0] == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-'))
      return std::nullopt;
  }
  double value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string FormatFloat(double value) {
  char buffer[64];
  const auto [ptr, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

std::string UpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// An entry names this program when its command is the program's path, compared in upper case;
// an empty command names nothing.
bool NamesProgram(const platform::RunValue& value, const std::string& upperPath) {
  return !value.Text.empty() && UpperCase(value.Text) == upperPath;
}

// Whether the machine's list starts this program. The list is only read, and trouble in it is
// never reported: an entry that cannot be read is passed over, and the entries after it (in a
// registry view of their own, maybe) still count.
bool MachineListNamesProgram(platform::RunKeys& runKeys, const std::string& upperPath) {
  const auto machine = runKeys.List(platform::RunScope::LocalMachine, false);
  if (!machine)
    return false;
  for (const platform::RunValue& value : *machine) {
    if (value.IsText && NamesProgram(value, upperPath))
      return true;
  }
  return false;
}

std::string InvalidDataType(const std::string& name) {
  return "Invalid data type for '" + name + "'";
}

// A text as one line of the file can hold it: up to a NUL (where a C string ends), without
// line breaks. A file with CR CR LF line ends leaves a CR at the end of each value; a value
// kept with it could never be written back, and every later save would fail.
std::string WritableText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string clean;
  for (const char c : text)
    if (c != '\r' && c != '\n')
      clean += c;
  return clean;
}

// Reads the keys in file order; each unreadable or absent value gives its default.
class Reader {
 public:
  explicit Reader(platform::ProfileFile& ini) : ini_(ini) {}

  int32_t Integer(std::string_view section, std::string_view key, int32_t fallback) {
    const std::optional<std::string> text = ini_.ReadString(section, key);
    if (!text)
      return fallback;
    return ParseInteger(*text).value_or(fallback);
  }
  bool Boolean(std::string_view section, std::string_view key, bool fallback) {
    return Integer(section, key, fallback ? 1 : 0) != 0;
  }
  double Float(std::string_view section, std::string_view key, double fallback) {
    const std::optional<std::string> text = ini_.ReadString(section, key);
    if (!text)
      return fallback;
    return ParseFloat(*text).value_or(fallback);
  }
  std::string Text(std::string_view section, std::string_view key) {
    return platform::CutToBytes(WritableText(ini_.ReadString(section, key).value_or(std::string())),
                                kMaxTextLength);
  }

 private:
  platform::ProfileFile& ini_;
};

// Gathers the keys in file order for one write of the whole set.
class Writer {
 public:
  void Text(std::string_view section, std::string_view key, std::string_view value) {
    values_.push_back({std::string(section), std::string(key), WritableText(value)});
  }
  void Integer(std::string_view section, std::string_view key, int32_t value) {
    Text(section, key, std::to_string(value));
  }
  void Boolean(std::string_view section, std::string_view key, bool value) {
    Text(section, key, value ? "1" : "0");
  }
  void Float(std::string_view section, std::string_view key, double value) {
    Text(section, key, FormatFloat(value));
  }
  const std::vector<platform::ProfileValue>& Values() const { return values_; }

 private:
  std::vector<platform::ProfileValue> values_;
};

}  // namespace

SettingsStore::SettingsStore(platform::ProfileFile& ini, platform::RunKeys& runKeys,
                             std::string executablePath, ErrorBox showError)
    : ini_(ini),
      runKeys_(runKeys),
      executablePath_(std::move(executablePath)),
      showError_(std::move(showError)) {}

bool SettingsStore::LoadSettings() {
  const bool existed = ini_.Exists();
  Settings = SettingsRecord{};
  SettingsRecord& s = Settings;
  Reader in(ini_);

  // The program ID is 16-bit; a number outside that range is treated as unreadable rather
  // than wrapped into some other program's ID.
  const int32_t pid = in.Integer(kSettings, "PID", 0);
  s.PID = (pid >= std::numeric_limits<int16_t>::min() && pid <= std::numeric_limits<int16_t>::max())
              ? static_cast<int16_t>(pid)
              : int16_t{0};
  s.Hide = in.Boolean(kSettings, "Hide", false);
  s.UseSoundCard = in.Boolean(kSettings, "UseSoundCard", false);
  s.UseMixer = in.Boolean(kSettings, "UseMixer", false);
  s.SourceMode = in.Boolean(kSettings, "SourceMode", false);

  s.Card = in.Text(kSoundcard, "Card");
  s.Bitrate = in.Integer(kSoundcard, "Bitrate", 48000);
  s.SilenceLevel = in.Float(kSoundcard, "SilenceLevel", -38.0);
  s.SilenceTime = in.Float(kSoundcard, "SilenceTime", 10.0);
  s.RestoreTime = in.Float(kSoundcard, "RestoreTime", 3.0);
  s.CardWait = in.Integer(kSoundcard, "Wait", 10);

  s.LRControl = in.Boolean(kMixer, "LRControl", false);
  s.OnlyDown = in.Boolean(kMixer, "OnlyDown", false);
  s.FadeOut = in.Float(kMixer, "FadeOut", 0.0);
  s.FadeIn = in.Float(kMixer, "FadeIn", 2.0);
  s.MixerWait = in.Integer(kMixer, "Wait", 10);
  s.SetLevel = in.Boolean(kMixer, "SetLevel", false);
  for (size_t n = 0; n < s.Lines.size(); ++n) {
    const std::string index = std::to_string(n);
    MixerLineChoice& line = s.Lines[n];
    line.Device = in.Text(kMixer, "Device" + index);
    line.Root = in.Integer(kMixer, "Root" + index, 0);
    line.Line = in.Integer(kMixer, "Line" + index, 0);
    line.Level = in.Integer(kMixer, "Level" + index, 128);
  }
  return existed;
}

bool SettingsStore::SaveSettings() {
  const SettingsRecord& s = Settings;
  Writer out;

  out.Integer(kSettings, "PID", s.PID);
  out.Boolean(kSettings, "Hide", s.Hide);
  out.Boolean(kSettings, "UseSoundCard", s.UseSoundCard);
  out.Boolean(kSettings, "UseMixer", s.UseMixer);
  out.Boolean(kSettings, "SourceMode", s.SourceMode);

  out.Text(kSoundcard, "Card", s.Card);
  out.Integer(kSoundcard, "Bitrate", s.Bitrate);
  out.Float(kSoundcard, "SilenceLevel", s.SilenceLevel);
  out.Float(kSoundcard, "SilenceTime", s.SilenceTime);
  out.Float(kSoundcard, "RestoreTime", s.RestoreTime);
  out.Integer(kSoundcard, "Wait", s.CardWait);

  out.Boolean(kMixer, "LRControl", s.LRControl);
  out.Boolean(kMixer, "OnlyDown", s.OnlyDown);
  out.Float(kMixer, "FadeOut", s.FadeOut);
  out.Float(kMixer, "FadeIn", s.FadeIn);
  out.Integer(kMixer, "Wait", s.MixerWait);
  out.Boolean(kMixer, "SetLevel", s.SetLevel);
  for (size_t n = 0; n < s.Lines.size(); ++n) {
    const std::string index = std::to_string(n);
    const MixerLineChoice& line = s.Lines[n];
    out.Text(kMixer, "Device" + index, line.Device);
    out.Integer(kMixer, "Root" + index, line.Root);
    out.Integer(kMixer, "Line" + index, line.Line);
    out.Integer(kMixer, "Level" + index, line.Level);
  }

  // One replacement of the file: it holds the old keys or the new ones, never a mix.
  if (!ini_.WriteStrings(out.Values())) {
    if (showError_)
      showError_("Unable to write to " + ini_.Path());
    return false;
  }
  return true;
}

bool SettingsStore::IsAutoStart() {
  const std::string path = UpperCase(executablePath_);
  bool found = MachineListNamesProgram(runKeys_, path);

  if (const auto user = runKeys_.List(platform::RunScope::CurrentUser, true)) {
    for (const platform::RunValue& value : *user) {
      if (!value.IsText) {
        if (showError_)
          showError_(InvalidDataType(value.Name));
        return found;
      }
      if (NamesProgram(value, path)) {
        found = true;
        break;
      }
    }
  }
  return found;
}

void SettingsStore::SetAutoStart(bool on) {
  // Without a known path there is nothing to register, and an empty command would start
  // nothing.
  if (executablePath_.empty())
    return;
  const std::string path = UpperCase(executablePath_);
  const auto user = runKeys_.List(platform::RunScope::CurrentUser, true);
  if (!user)
    return;

  bool present = false;
  for (const platform::RunValue& value : *user) {
    if (!value.IsText) {
      if (showError_)
        showError_(InvalidDataType(value.Name));
      return;
    }
    if (!NamesProgram(value, path))
      continue;
    if (!on) {
      runKeys_.Remove(value.Name);
      continue;
    }
    present = true;
    break;
  }
  if (!on || present)
    return;
  // The machine's list starts the program already: a user entry too would start it twice at
  // logon.
  if (MachineListNamesProgram(runKeys_, path))
    return;

  // A name the machine's list uses is not free either: the user's entry would hide it. Where
  // the lists ignore letter case, a name taken in another case is taken too: writing it would
  // replace that entry.
  const bool ignoreCase = runKeys_.NamesIgnoreCase();
  const auto comparable = [ignoreCase](const std::string& n) {
    return ignoreCase ? UpperCase(n) : n;
  };
  std::set<std::string> taken;
  for (const platform::RunValue& value : *user)
    taken.insert(comparable(value.Name));
  for (const platform::RunValue& value : runKeys_.List(platform::RunScope::LocalMachine, false)
                                             .value_or(std::vector<platform::RunValue>{}))
    taken.insert(comparable(value.Name));
  std::string name(kAutoStartName);
  for (int n = 1; taken.count(comparable(name)) != 0; ++n)
    name = std::string(kAutoStartName) + std::to_string(n);
  runKeys_.Write(name, executablePath_);
}

bool SettingsStore::EditSettings(const std::function<bool()>& runDialogModal) {
  const SettingsRecord snapshot = Settings;
  const bool ok = runDialogModal && runDialogModal();
  if (!ok)
    Settings = snapshot;
  return ok;
}

}  // namespace calvora::settings
