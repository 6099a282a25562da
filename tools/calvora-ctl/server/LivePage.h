#pragma once
// The live page of calvora-ctl serve: one HTML page, its style and its script, all served by
// the program itself so that the page works on a station's network without the internet.
// The script follows the event stream /events; it polls nothing. The page carries the state
// of the moment it was served, so its first paint shows the station before the stream connects.
#include <string>

#include "monitor/StationSnapshot.h"

namespace calvora::ctl {

// The state and the last events, as the page shows them first and the stream's hello sends.
std::string LivePageState(const StationSnapshot& state);
// The page with that state in it.
std::string LivePageHtml(const std::string& state);
const char* LivePageStyle();
const char* LivePageScript();
// What a browser lets the page do: its own script, style, event stream, sound and icon from
// this server, nothing inline, nothing from elsewhere, and no other site framing it.
const char* LivePagePolicy();

}  // namespace calvora::ctl
