#pragma once
// The settings form's widgets handed to the dialog's logic by role. The Qt form and the form on
// native controls name their widgets alike, so one list serves both; each role is named, so two
// widgets of the same kind cannot trade places unnoticed.
#include "settings/Fr_Setting.h"

namespace calvora::app {

template <typename Form>
settings::SettingWidgets SettingWidgetsOf(Form& form) {
  return {
      .Form = form,
      .MSG = form.MSG,
      .CBSourceMode = *form.CBSourceMode,
      .EPID = *form.EPID,
      .CBAutoStart = *form.CBAutoStart,
      .CBHide = *form.CBHide,
      .GBCard = *form.GBCard,
      .CBCard = *form.CBCard,
      .CBBitrate = *form.CBBitrate,
      .SSilence = *form.SSilence,
      .LSilence = *form.LSilence,
      .ESilenceTime = *form.ESilenceTime,
      .ERestoreTime = *form.ERestoreTime,
      .ECardWait = *form.ECardWait,
      .GBMixer = *form.GBMixer,
      .CBSeparately = *form.CBSeparately,
      .CBMuteOnly = *form.CBMuteOnly,
      .CBSetLevel = *form.CBSetLevel,
      .CBDevice_L = *form.CBDevice_L,
      .CBDevice_R = *form.CBDevice_R,
      .CBRoot_L = *form.CBRoot_L,
      .CBRoot_R = *form.CBRoot_R,
      .CBLine_L = *form.CBLine_L,
      .CBLine_R = *form.CBLine_R,
      .TBLevel_L = *form.TBLevel_L,
      .TBLevel_R = *form.TBLevel_R,
      .SBEqual = *form.SBEqual,
      .EFadeOut = *form.EFadeOut,
      .EFadeIn = *form.EFadeIn,
      .EMixerWait = *form.EMixerWait,
      .SBSave = *form.SBSave,
  };
}

}  // namespace calvora::app
