#include "platform/win32/Win32RunKeys.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/WideText.h"

namespace calvora::platform::win32 {

namespace {

// Closes a registry key when it leaves scope.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr)
      RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool OpenKey(HKEY root, const std::wstring& path, bool create, REGSAM access, Key& key) {
  if (create) {
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                           key.Out(), nullptr) == ERROR_SUCCESS;
  }
  return RegOpenKeyExW(root, path.c_str(), 0, access, key.Out()) == ERROR_SUCCESS;
}

// The value's data as text, without the terminating zeros the registry may hold.
std::string TextOf(const BYTE* data, DWORD length) {
  std::wstring text(length / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0')
    text.pop_back();
  return Narrow(text);
}

// Every value of an open key; nothing when the key cannot be queried. A value that cannot be
// read (it grew since the key was measured, say) is passed over, never the values after it.
std::optional<std::vector<RunValue>> ValuesOf(HKEY key) {
  DWORD count = 0;
  DWORD maxName = 0;
  DWORD maxData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                       &maxData, nullptr, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<RunValue> values;
  std::vector<wchar_t> name(maxName + 1);
  std::vector<BYTE> data(maxData + sizeof(wchar_t));
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LSTATUS status =
        RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
    if (status == ERROR_NO_MORE_ITEMS)
      break;
    if (status != ERROR_SUCCESS)
      continue;
    RunValue value;
    value.Name = Narrow(std::wstring_view(name.data(), nameLength));
    value.IsText = type == REG_SZ || type == REG_EXPAND_SZ;
    if (value.IsText)
      value.Text = TextOf(data.data(), dataLength);
    values.push_back(std::move(value));
  }
  return values;
}

// The registry views the machine's list lives in: on 64-bit Windows the native one and the
// one 32-bit programs see (WOW6432Node), where a 32-bit installer put its entries; on 32-bit
// Windows only the one there is.
std::vector<REGSAM> MachineViews() {
#ifndef _WIN64
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
    return {0};
#endif
  return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
}

}  // namespace

Win32RunKeys::Win32RunKeys() : Win32RunKeys(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run") {}

Win32RunKeys::Win32RunKeys(std::wstring keyPath) : keyPath_(std::move(keyPath)) {}

std::optional<std::vector<RunValue>> Win32RunKeys::List(RunScope scope, bool create) {
  if (scope == RunScope::CurrentUser) {
    Key key;
    if (!OpenKey(HKEY_CURRENT_USER, keyPath_, create, KEY_READ, key))
      return std::nullopt;
    return ValuesOf(key.Get());
  }
  // The machine's list is every view's values, view after view, each in the registry's order;
  // a view that cannot be opened or read adds nothing. Never created.
  std::optional<std::vector<RunValue>> all;
  for (const REGSAM view : MachineViews()) {
    Key key;
    if (!OpenKey(HKEY_LOCAL_MACHINE, keyPath_, false, KEY_READ | view, key))
      continue;
    if (auto values = ValuesOf(key.Get())) {
      if (!all)
        all.emplace();
      all->insert(all->end(), values->begin(), values->end());
    }
  }
  return all;
}

bool Win32RunKeys::Write(std::string_view name, std::string_view text) {
  Key key;
  if (!OpenKey(HKEY_CURRENT_USER, keyPath_, true, KEY_SET_VALUE, key))
    return false;
  const std::wstring data = Widen(text);
  const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.Get(), Widen(name).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(data.c_str()), bytes) == ERROR_SUCCESS;
}

bool Win32RunKeys::Remove(std::string_view name) {
  Key key;
  if (!OpenKey(HKEY_CURRENT_USER, keyPath_, false, KEY_SET_VALUE, key))
    return false;
  return RegDeleteValueW(key.Get(), Widen(name).c_str()) == ERROR_SUCCESS;
}

}  // namespace calvora::platform::win32
