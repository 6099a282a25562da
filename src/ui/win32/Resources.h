#pragma once
// The numbers of the program's resources (src/app/calvora-audio-mixer.rc.in), shared by the
// resource script and the code that loads them. Plain defines: the resource compiler reads them.
#define CALVORA_ICON_APPLICATION 1
// The tray animation's eight images follow one another from this number.
#define CALVORA_ICON_TRAY_FIRST 101
