#pragma once
// A small button placed among other controls, which the window code can hide.
#include "ui/Button.h"
#include "ui/Control.h"

namespace calvora::ui {

class SpeedButton : public Button, public Control {};

}  // namespace calvora::ui
