#pragma once
// The places programs start from at logon, in memory: the user's list only; the machine's
// list is empty.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RunKeys.h"

namespace calvora::testing {

class MemoryRunKeys : public platform::RunKeys {
 public:
  std::optional<std::vector<platform::RunValue>> List(platform::RunScope scope, bool) override {
    if (scope == platform::RunScope::LocalMachine)
      return std::vector<platform::RunValue>{};
    return user;
  }
  bool Write(std::string_view name, std::string_view text) override {
    user.push_back({std::string(name), true, std::string(text)});
    return true;
  }
  bool Remove(std::string_view name) override {
    std::erase_if(user, [&](const platform::RunValue& v) { return v.Name == name; });
    return true;
  }
  std::vector<platform::RunValue> user;
};

}  // namespace calvora::testing
