#pragma once
// The live page of calvora-ctl serve: one HTML page, its style and its script, all served by
// the program itself so that the page works on a station's network without the internet.
// The script follows the event stream /events; it polls nothing.
namespace calvora::ctl {

const char* LivePageHtml();
const char* LivePageStyle();
const char* LivePageScript();

}  // namespace calvora::ctl
