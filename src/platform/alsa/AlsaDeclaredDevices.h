#pragma once
// What the ALSA configuration declares, read from the configuration tree without opening
// anything: the names declared for an interface ("ctl", "pcm") and the plugin type a name
// resolves to, the same resolution an open of that name would make.
#include <alsa/asoundlib.h>

#include <string>
#include <vector>

namespace calvora::platform::alsa {

// The names declared under `interface` ("ctl.NAME { ... }"), in the configuration's order.
std::vector<std::string> DeclaredNames(snd_config_t* top, const char* interface);

// The plugin type ("hw", "pulse", ...) that opening `interface` `name` would load; empty when
// the definition does not resolve (for example a required argument without a default).
std::string DeclaredType(snd_config_t* top, const char* interface, const std::string& name);

}  // namespace calvora::platform::alsa
