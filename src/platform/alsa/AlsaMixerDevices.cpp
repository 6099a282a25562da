#include "platform/alsa/AlsaMixerDevices.h"

#include <algorithm>

#include "platform/AsciiText.h"
#include "platform/alsa/AlsaDeviceNames.h"
#include "platform/alsa/AlsaErrors.h"
#include "platform/alsa/AlsaResult.h"

namespace calvora::platform::alsa {

namespace {

// Destination lines without a master element have no line of their own; their ids carry
// this bit so they never meet a real line's id.
constexpr uint32_t kBareDestination = 0x80000000u;
// Component types as the mixer interface numbers them: speakers, wave-in, and an
// undefined source.
constexpr uint32_t kComponentSpeakers = 4;
constexpr uint32_t kComponentWaveIn = 7;
constexpr uint32_t kComponentSource = 0x1000;

// Device names are looked up without regard to letter case.
bool SameName(const std::string& a, const std::string& b) {
  return EqualsIgnoringAsciiCase(a, b);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct CtlDeleter {
  void operator()(snd_ctl_t* ctl) const { snd_ctl_close(ctl); }
};
using CtlHandle = std::unique_ptr<snd_ctl_t, CtlDeleter>;

struct ValueDeleter {
  void operator()(snd_ctl_elem_value_t* value) const { snd_ctl_elem_value_free(value); }
};
using ValueHandle = std::unique_ptr<snd_ctl_elem_value_t, ValueDeleter>;

// Whether the control device opens now and tells its card information, as binding it will
// need. A card whose control node this user may not open is not counted.
bool Answers(const std::string& address) {
  snd_ctl_t* ctl = nullptr;
  if (snd_ctl_open(&ctl, address.c_str(), SND_CTL_NONBLOCK) < 0)
    return false;
  snd_ctl_card_info_t* info = nullptr;
  snd_ctl_card_info_alloca(&info);
  const bool answers = snd_ctl_card_info(ctl, info) >= 0;
  snd_ctl_close(ctl);
  return answers;
}

// Whether an open handle still reaches its device: a sound card's handle fails for good once
// the card is unplugged, and a sound server's once its server has gone.
bool StillAnswers(snd_ctl_t* ctl) {
  snd_ctl_elem_list_t* list = nullptr;
  snd_ctl_elem_list_alloca(&list);
  if (snd_ctl_elem_list(ctl, list) < 0)
    return false;
  // A plugin device (a sound server's) reports its failure as the count: ALSA's plugin layer
  // passes the negative error through as the number of elements and answers success.
  return static_cast<int>(snd_ctl_elem_list_get_count(list)) >= 0;
}

bool Listed(const std::vector<MixerCandidate>& candidates, const std::string& address) {
  return std::any_of(candidates.begin(), candidates.end(),
                     [&](const MixerCandidate& candidate) { return candidate.address == address; });
}

}  // namespace

bool ParseMixerElementName(const std::string& name, MixerElementName& parsed) {
  std::string rest;
  if (EndsWith(name, " Volume")) {
    parsed.kind = MixerControlKind::kVolume;
    rest = name.substr(0, name.size() - 7);
  } else if (EndsWith(name, " Switch")) {
    parsed.kind = MixerControlKind::kSwitch;
    rest = name.substr(0, name.size() - 7);
  } else {
    return false;
  }
  if (rest == "Capture") {
    parsed.line = "Capture";
    parsed.direction = MixerDirection::kCapture;
  } else if (rest == "Playback") {
    parsed.line = "Master";
    parsed.direction = MixerDirection::kPlayback;
  } else if (EndsWith(rest, " Capture")) {
    parsed.line = rest.substr(0, rest.size() - 8);
    parsed.direction = MixerDirection::kCapture;
  } else if (EndsWith(rest, " Playback")) {
    parsed.line = rest.substr(0, rest.size() - 9);
    parsed.direction = MixerDirection::kPlayback;
  } else {
    parsed.line = rest;
    parsed.direction = MixerDirection::kPlayback;
  }
  return !parsed.line.empty();
}

struct AlsaMixerDevices::Device {
  struct Control {
    MixerControlKind kind = MixerControlKind::kVolume;
    VolumeScale scale;
    unsigned int channels = 1;
    ValueHandle value;  // carries the element's id; reused by every read and write
  };
  struct Line {
    std::string name;
    MixerDirection direction = MixerDirection::kPlayback;
    int volume = -1;  // control positions, -1 for none
    int mute = -1;
  };
  struct Root {
    std::string name;
    MixerDirection direction = MixerDirection::kPlayback;
    int master = -1;  // line position of its master element, -1 for none
    std::vector<int> sources;
  };

  MixerCandidate listed;  // the control device and how it is listed
  CtlHandle ctl;
  std::string cardName;
  std::string name;  // as shown: trimmed, and distinct from the devices listed before it
  std::vector<Control> controls;
  std::vector<Line> lines;
  std::vector<Root> roots;

  Result Open() {
    if (ctl)
      return result::kOk;
    snd_ctl_t* handle = nullptr;
    ForgetAlsaMessage();
    const int error = snd_ctl_open(&handle, listed.address.c_str(), 0);
    if (error < 0) {
      ReportOpenFailure("mixer", listed.address, error);
      return FromAlsaError(error);
    }
    ForgetOpenFailure("mixer", listed.address);
    ctl.reset(handle);
    return result::kOk;
  }

  // Opens the device if it is not open yet and reads its lines afresh.
  Result Bind() {
    const Result error = Open();
    return error == result::kOk ? ReadLines() : error;
  }

  Result ReadLines() {
    controls.clear();
    lines.clear();
    roots.clear();
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_alloca(&info);
    int error = snd_ctl_card_info(ctl.get(), info);
    if (error < 0)
      return FromAlsaError(error);
    cardName = snd_ctl_card_info_get_name(info);

    snd_ctl_elem_list_t* list = nullptr;
    snd_ctl_elem_list_alloca(&list);
    if ((error = snd_ctl_elem_list(ctl.get(), list)) < 0)
      return FromAlsaError(error);
    const unsigned int count = snd_ctl_elem_list_get_count(list);
    if (static_cast<int>(count) < 0)
      return FromAlsaError(static_cast<int>(count));  // a plugin's failure, as StillAnswers says
    if ((error = snd_ctl_elem_list_alloc_space(list, count)) < 0)
      return FromAlsaError(error);
    error = snd_ctl_elem_list(ctl.get(), list);
    if (error >= 0)
      for (unsigned int i = 0; i < snd_ctl_elem_list_get_used(list); ++i)
        AddElement(list, i);
    snd_ctl_elem_list_free_space(list);
    if (error < 0)
      return FromAlsaError(error);
    BuildRoots();
    return result::kOk;
  }

  void AddElement(snd_ctl_elem_list_t* list, unsigned int index) {
    if (snd_ctl_elem_list_get_interface(list, index) != SND_CTL_ELEM_IFACE_MIXER)
      return;
    MixerElementName parsed;
    if (!ParseMixerElementName(snd_ctl_elem_list_get_name(list, index), parsed))
      return;
    const unsigned int elementIndex = snd_ctl_elem_list_get_index(list, index);
    if (elementIndex > 0)
      parsed.line += "," + std::to_string(elementIndex);

    snd_ctl_elem_id_t* id = nullptr;
    snd_ctl_elem_id_alloca(&id);
    snd_ctl_elem_list_get_id(list, index, id);
    snd_ctl_elem_info_t* info = nullptr;
    snd_ctl_elem_info_alloca(&info);
    snd_ctl_elem_info_set_id(info, id);
    if (snd_ctl_elem_info(ctl.get(), info) < 0)
      return;
    if (!snd_ctl_elem_info_is_readable(info) || !snd_ctl_elem_info_is_writable(info))
      return;
    const auto type = snd_ctl_elem_info_get_type(info);
    Control control;
    control.kind = parsed.kind;
    control.channels = snd_ctl_elem_info_get_count(info);
    if (parsed.kind == MixerControlKind::kVolume) {
      if (type != SND_CTL_ELEM_TYPE_INTEGER)
        return;
      control.scale = VolumeScale(snd_ctl_elem_info_get_min(info), snd_ctl_elem_info_get_max(info),
                                  ReadTlv(id, info));
    } else if (type != SND_CTL_ELEM_TYPE_BOOLEAN) {
      return;
    }
    snd_ctl_elem_value_t* value = nullptr;
    if (snd_ctl_elem_value_malloc(&value) < 0)
      return;
    control.value.reset(value);
    snd_ctl_elem_value_set_id(value, id);

    Line* line = nullptr;
    for (auto& candidate : lines)
      if (candidate.name == parsed.line && candidate.direction == parsed.direction)
        line = &candidate;
    if (line == nullptr) {
      lines.push_back(Line{parsed.line, parsed.direction, -1, -1});
      line = &lines.back();
    }
    int& slot = parsed.kind == MixerControlKind::kVolume ? line->volume : line->mute;
    if (slot >= 0)
      return;  // the first element of a kind wins; others are not controlled
    slot = static_cast<int>(controls.size());
    controls.push_back(std::move(control));
  }

  // The element's TLV data (its dB scale), or nothing when it has none.
  std::vector<unsigned int> ReadTlv(const snd_ctl_elem_id_t* id, const snd_ctl_elem_info_t* info) {
    constexpr unsigned int kMaxTlvWords = 64;
    std::vector<unsigned int> tlv(kMaxTlvWords);
    if (!snd_ctl_elem_info_is_tlv_readable(info) ||
        snd_ctl_elem_tlv_read(ctl.get(), id, tlv.data(), kMaxTlvWords * sizeof(unsigned int)) < 0)
      tlv.clear();
    return tlv;
  }

  void BuildRoots() {
    const struct {
      const char* name;
      const char* master;
      MixerDirection direction;
    } kRoots[] = {{"Playback", "Master", MixerDirection::kPlayback},
                  {"Capture", "Capture", MixerDirection::kCapture}};
    for (const auto& kind : kRoots) {
      Root root{kind.name, kind.direction, -1, {}};
      for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].direction != kind.direction)
          continue;
        if (lines[i].name == kind.master)
          root.master = static_cast<int>(i);
        else
          root.sources.push_back(static_cast<int>(i));
      }
      if (root.master >= 0 || !root.sources.empty())
        roots.push_back(std::move(root));
    }
  }

  uint32_t ControlCount(int line) const {
    return static_cast<uint32_t>((lines[static_cast<size_t>(line)].volume >= 0 ? 1 : 0) +
                                 (lines[static_cast<size_t>(line)].mute >= 0 ? 1 : 0));
  }

  void Describe(int line, MixerLineInfo& info) const {
    const Line& entry = lines[static_cast<size_t>(line)];
    info.name = entry.name;
    info.lineId = static_cast<uint32_t>(line);
    info.componentType = kComponentSource;
    info.connections = 0;
    info.controls = ControlCount(line);
    const int control = entry.volume >= 0 ? entry.volume : entry.mute;
    info.channels = control >= 0 ? controls[static_cast<size_t>(control)].channels : 0;
  }
};

AlsaMixerDevices::AlsaMixerDevices() {
  InstallAlsaErrorHandler();
}
AlsaMixerDevices::~AlsaMixerDevices() = default;

uint32_t AlsaMixerDevices::DeviceCount() {
  // The cards and the server are opened again only when the watch sees a change: the
  // supervision counts twice a second, and a server's mixer costs a connection each time.
  const bool changed = watch_.Changed();
  if (changed) {
    candidates_ = MixerCandidates(watch_.Config());
    answered_.assign(candidates_.size(), false);
    failedToBind_.clear();
  }
  present_.clear();
  for (size_t i = 0; i < candidates_.size(); ++i) {
    const MixerCandidate& candidate = candidates_[i];
    if (changed || candidate.probedEveryCount)
      answered_[i] = Answers(candidate.address);
    else if (!candidate.serverType.empty())
      answered_[i] = ServerAnswers(candidate.address);
    // A device that answered the count but not its binding is left out until something
    // changes, so that the count matches the tree and settles.
    if (answered_[i] && failedToBind_.count(candidate.address) == 0)
      present_.push_back(candidate);
  }
  // A device that left the count lets go of its handle: that handle would fail for good, and
  // the device, when it returns, must be opened afresh to be bound.
  for (auto& device : devices_)
    if (device && device->ctl && !Listed(present_, device->listed.address))
      device->ctl.reset();
  return static_cast<uint32_t>(present_.size());
}

bool AlsaMixerDevices::ServerAnswers(const std::string& address) {
  for (auto& device : devices_)
    if (device && device->ctl && device->listed.address == address)
      return StillAnswers(device->ctl.get());
  return Answers(address);
}

AlsaMixerDevices::Device* AlsaMixerDevices::Find(uint32_t device) const {
  return device < devices_.size() ? devices_[device].get() : nullptr;
}

Result AlsaMixerDevices::FindWithDestination(uint32_t device, uint32_t destination,
                                             const Device*& entry) const {
  entry = Find(device);
  if (entry == nullptr)
    return result::kBadDeviceId;
  return destination < entry->roots.size() ? result::kOk : result::kInvalidParam;
}

Result AlsaMixerDevices::FindWithControl(uint32_t device, uint32_t controlId,
                                         const Device*& entry) const {
  entry = Find(device);
  if (entry == nullptr || !entry->ctl)
    return result::kBadDeviceId;
  return controlId < entry->controls.size() ? result::kOk : result::kInvalidParam;
}

std::string AlsaMixerDevices::DeviceAddress(uint32_t device) const {
  const Device* entry = Find(device);
  return entry ? entry->listed.address : std::string();
}

Result AlsaMixerDevices::GetDeviceCaps(uint32_t device, MixerDeviceCaps& caps) {
  if (device >= present_.size())
    return result::kBadDeviceId;
  // Bind the number to the device found by the last count. A device still known keeps its
  // open handle; numbers beyond the new count are dropped.
  std::unique_ptr<Device> bound;
  for (auto& known : devices_) {
    if (known && known->listed.address == present_[device].address) {
      bound = std::move(known);
      break;
    }
  }
  if (!bound)
    bound = std::make_unique<Device>();
  bound->listed = present_[device];
  // Which server answers may have changed since the listing (PulseAudio replaced by PipeWire,
  // or a server that had not yet answered when its socket appeared).
  if (!bound->listed.serverType.empty())
    bound->listed.shown = SoundServerName(bound->listed.serverType);
  devices_.resize(present_.size());
  devices_[device] = std::move(bound);
  Device* entry = devices_[device].get();
  // A handle kept from before may have outlived its device (a card unplugged and plugged
  // back between two counts, a server restarted): it is tried once, then a fresh one.
  const bool reused = entry->ctl != nullptr;
  Result error = entry->Bind();
  if (error != result::kOk && reused) {
    entry->ctl.reset();
    error = entry->Bind();
  }
  if (error != result::kOk) {
    // A device that has gone is opened afresh next time.
    entry->ctl.reset();
    if (!entry->listed.probedEveryCount)
      failedToBind_.insert(entry->listed.address);
    return error;
  }
  entry->name = DistinctName(device);
  caps.name = entry->name;
  caps.destinations = static_cast<uint32_t>(entry->roots.size());
  return result::kOk;
}

std::string AlsaMixerDevices::DistinctName(uint32_t device) const {
  const Device& entry = *devices_[device];
  const std::string base = ShownDeviceName(
      entry.listed.shown.empty() ? entry.cardName : entry.listed.shown, entry.listed.address);
  // The devices before this one were bound in the same listing; those that answered keep
  // their names, and this one takes the first of "Name", "Name (2)", "Name (3)" ... left.
  return NumberedDeviceName(base, [&](const std::string& candidate) {
    for (uint32_t i = 0; i < device; ++i) {
      const Device* other = devices_[i].get();
      if (other != nullptr && other->ctl && SameName(other->name, candidate))
        return true;
    }
    return false;
  });
}

Result AlsaMixerDevices::GetDestinationLine(uint32_t device, uint32_t destination,
                                            MixerLineInfo& line) {
  const Device* entry = nullptr;
  const Result found = FindWithDestination(device, destination, entry);
  if (found != result::kOk)
    return found;
  const auto& root = entry->roots[destination];
  if (root.master >= 0) {
    entry->Describe(root.master, line);
  } else {
    line = MixerLineInfo{};
    line.lineId = kBareDestination | destination;
  }
  line.name = root.name;
  line.componentType =
      root.direction == MixerDirection::kPlayback ? kComponentSpeakers : kComponentWaveIn;
  line.connections = static_cast<uint32_t>(root.sources.size());
  return result::kOk;
}

Result AlsaMixerDevices::GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                                       MixerLineInfo& line) {
  const Device* entry = nullptr;
  const Result found = FindWithDestination(device, destination, entry);
  if (found != result::kOk)
    return found;
  const auto& sources = entry->roots[destination].sources;
  if (source >= sources.size())
    return result::kInvalidParam;
  entry->Describe(sources[source], line);
  return result::kOk;
}

Result AlsaMixerDevices::GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                                         std::vector<MixerControlInfo>& controls) {
  const Device* entry = Find(device);
  if (entry == nullptr)
    return result::kBadDeviceId;
  if (lineId >= entry->lines.size())
    return result::kInvalidParam;
  const auto line = static_cast<int>(lineId);
  if (count != entry->ControlCount(line))
    return result::kInvalidParam;
  controls.clear();
  const auto& info = entry->lines[lineId];
  if (info.volume >= 0)
    controls.push_back({static_cast<uint32_t>(info.volume), kMixerControlVolume, 0});
  if (info.mute >= 0)
    controls.push_back({static_cast<uint32_t>(info.mute), kMixerControlMute, 0});
  return result::kOk;
}

Result AlsaMixerDevices::GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) {
  const Device* entry = nullptr;
  const Result found = FindWithControl(device, controlId, entry);
  if (found != result::kOk)
    return found;
  const auto& control = entry->controls[controlId];
  const int error = snd_ctl_elem_read(entry->ctl.get(), control.value.get());
  if (error < 0)
    return FromAlsaError(error);
  // All channels are written alike; the first one stands for the line.
  const long raw = snd_ctl_elem_value_get_integer(control.value.get(), 0);
  if (control.kind == MixerControlKind::kSwitch)
    value = raw != 0 ? 0u : 1u;  // muted when the switch is off
  else
    value = control.scale.FromElement(raw);
  return result::kOk;
}

Result AlsaMixerDevices::SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) {
  const Device* entry = nullptr;
  const Result found = FindWithControl(device, controlId, entry);
  if (found != result::kOk)
    return found;
  const auto& control = entry->controls[controlId];
  const long raw = control.kind == MixerControlKind::kSwitch ? (value != 0 ? 0 : 1)
                                                             : control.scale.ToElement(value);
  for (unsigned int channel = 0; channel < control.channels; ++channel)
    snd_ctl_elem_value_set_integer(control.value.get(), channel, raw);
  const int error = snd_ctl_elem_write(entry->ctl.get(), control.value.get());
  return error < 0 ? FromAlsaError(error) : result::kOk;
}

}  // namespace calvora::platform::alsa
