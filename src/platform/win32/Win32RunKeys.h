#pragma once
#include <string>

#include "platform/RunKeys.h"

namespace calvora::platform::win32 {

// Login programs as the string values of the registry's Run keys: the user's under
// HKEY_CURRENT_USER, the machine's under HKEY_LOCAL_MACHINE in both registry views, the native
// one first (read only). Values come in the registry's order, their names compared without
// regard to letter case as the registry does. A value whose data is neither REG_SZ nor
// REG_EXPAND_SZ is listed as one that cannot be read as text.
class Win32RunKeys : public RunKeys {
 public:
  // The standard key "Software\Microsoft\Windows\CurrentVersion\Run".
  Win32RunKeys();
  // Another key path under both roots, for tests.
  explicit Win32RunKeys(std::wstring keyPath);

  std::optional<std::vector<RunValue>> List(RunScope scope, bool create) override;
  bool Write(std::string_view name, std::string_view text) override;
  bool Remove(std::string_view name) override;
  bool NamesIgnoreCase() const override { return true; }

 private:
  std::wstring keyPath_;
};

}  // namespace calvora::platform::win32
