#include "CtlOptions.h"

#include <gtest/gtest.h>

namespace calvora::ctl {
namespace {

std::optional<CtlOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string message;
  auto options = ParseCommandLine(args, message);
  if (error)
    *error = message;
  return options;
}

TEST(CtlOptions, OptionsMayStandBeforeOrAfterTheCommand) {
  const auto watch = Parse({"--json", "watch", "--levels-every", "10", "--pid", "-7"});
  ASSERT_TRUE(watch);
  EXPECT_EQ(watch->command, Command::kWatch);
  EXPECT_TRUE(watch->json);
  EXPECT_EQ(watch->levelsEvery, 10u);
  EXPECT_EQ(watch->pid, -7);
  EXPECT_FALSE(watch->handle);

  const auto run = Parse({"run", "--restore", "--handle", "4294967295"});
  ASSERT_TRUE(run);
  EXPECT_TRUE(run->restore);
  EXPECT_EQ(run->handle, 4294967295u);
  EXPECT_EQ(Parse({"stop", "--mute"})->mute, true);
  EXPECT_EQ(Parse({"mute", "--help"})->command, Command::kHelp);
}

TEST(CtlOptions, MistakesAreRefusedWithAReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes{
      {{}, "no command given"},
      {{"start"}, "unknown command \"start\""},
      {{"run", "stop"}, "unexpected argument \"stop\""},
      {{"run", "--force"}, "unknown option --force"},
      {{"identify", "--handle"}, "--handle needs a value"},
      {{"identify", "--handle", "0"}, "--handle needs a window handle"},
      {{"identify", "--handle", "12a"}, "--handle needs a window handle"},
      {{"identify", "--pid", "0"}, "--pid needs a program ID"},
      {{"identify", "--pid", "32768"}, "--pid needs a program ID"},
      {{"identify", "--pid", "3", "--handle", "9"}, "give --handle or --pid, not both"},
      {{"stop", "--restore"}, "--restore belongs to the command run"},
      {{"run", "--mute"}, "--mute belongs to the command stop"},
      {{"watch", "--levels-every", "0"}, "--levels-every needs a count"},
      {{"watch", "--duration", "-1"}, "--duration needs a number"},
      {{"watch", "--duration", "nan"}, "--duration needs a number"},
  };
  for (const auto& [args, reason] : mistakes) {
    std::string error;
    EXPECT_FALSE(Parse(args, &error));
    EXPECT_EQ(error.rfind(reason, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace calvora::ctl
