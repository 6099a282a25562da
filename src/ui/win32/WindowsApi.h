#pragma once
// The Windows API without the macros whose names clash with this program's own: the
// wide-character functions are called by their W names.
#include <windows.h>

#undef MessageBox
#undef SendMessage
#undef PostMessage
#undef DrawText
