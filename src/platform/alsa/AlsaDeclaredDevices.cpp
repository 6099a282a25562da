#include "platform/alsa/AlsaDeclaredDevices.h"

namespace calvora::platform::alsa {

std::vector<std::string> DeclaredNames(snd_config_t* top, const char* interface) {
  std::vector<std::string> names;
  snd_config_t* declared = nullptr;
  if (top == nullptr || snd_config_search(top, interface, &declared) < 0 ||
      snd_config_get_type(declared) != SND_CONFIG_TYPE_COMPOUND)
    return names;
  snd_config_iterator_t at, next;
  snd_config_for_each(at, next, declared) {
    const char* id = nullptr;
    if (snd_config_get_id(snd_config_iterator_entry(at), &id) >= 0 && id != nullptr)
      names.emplace_back(id);
  }
  return names;
}

std::string DeclaredType(snd_config_t* top, const char* interface, const std::string& name) {
  if (top == nullptr)
    return {};
  // Expands arguments and configuration functions as an open would, but loads no plugin.
  snd_config_t* definition = nullptr;
  if (snd_config_search_definition(top, interface, name.c_str(), &definition) < 0)
    return {};
  std::string type;
  snd_config_t* node = nullptr;
  const char* text = nullptr;
  if (snd_config_get_type(definition) == SND_CONFIG_TYPE_COMPOUND &&
      snd_config_search(definition, "type", &node) >= 0 &&
      snd_config_get_string(node, &text) >= 0 && text != nullptr)
    type = text;
  snd_config_delete(definition);
  return type;
}

}  // namespace calvora::platform::alsa
