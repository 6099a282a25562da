#pragma once
// Points ALSA at the virtual sound card and gives each test a fresh state directory, so
// the mixer starts from its initial values and nothing outside the test is touched.
#include <gtest/gtest.h>
#include <QCoreApplication>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace calvora::testing {

class VirtualMixerEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    // The main-loop timers need an application object; one serves the whole process.
    static int argc = 1;
    static char name[] = "integration-mixer";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" CALVORA_VIRTUAL_CARD_CONF, 1);
    char pattern[] = "/tmp/calvora-mixer-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("CALVORA_VIRTUAL_CARD_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Makes the hot-pluggable second mixer device appear or disappear.
  void SetSecondMixerPresent(bool present) { SetFlag("mixer2.present", present); }
  // Makes a third mixer device appear or disappear, one whose name is the first one's with
  // trailing blanks.
  void SetSameNamedMixerPresent(bool present) { SetFlag("mixer3.present", present); }
  // Makes the first mixer device vanish or come back. It vanishes as an unplugged card does:
  // handles opened before stay dead when it is back.
  void SetFirstMixerAbsent(bool absent) {
    if (absent)
      RaiseGeneration("mixer");
    SetFlag("mixer.absent", absent);
  }

  void RaiseGeneration(const std::string& state) {
    const auto file = std::filesystem::path(dir_) / (state + ".generation");
    long generation = 0;
    std::ifstream(file) >> generation;
    std::ofstream(file) << generation + 1 << '\n';
  }

  void SetFlag(const std::string& name, bool present) {
    const auto flag = std::filesystem::path(dir_) / name;
    if (present)
      std::ofstream(flag).put('\n');
    else
      std::filesystem::remove(flag);
  }

  // Runs amixer in another process on the virtual mixer and returns what it printed.
  static std::string Amixer(const std::string& arguments,
                            const std::string& device = "calvora_mixer") {
    const std::string command = "amixer -D " + device + " " + arguments + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
      return output;
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr)
      output += buffer.data();
    pclose(pipe);
    return output;
  }

  // The values of one control as amixer prints them, e.g. "values=128,128".
  static std::string AmixerValues(const std::string& control,
                                  const std::string& device = "calvora_mixer") {
    const std::string output = Amixer("cget name='" + control + "'", device);
    const auto at = output.rfind(": values=");
    if (at == std::string::npos)
      return output;
    const auto end = output.find('\n', at);
    return output.substr(at + 2, end - at - 2);
  }

  std::string dir_;
};

}  // namespace calvora::testing
