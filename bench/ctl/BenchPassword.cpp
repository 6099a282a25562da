// bench-ctl-password: the time of serve's password check with a hash of cost 10 (what the docs
// suggest): a right password the first time, the same password again (remembered), a wrong
// password of a known user and any password of an unknown user, which must take the time of
// the wrong one so that the answer's time does not tell which users exist. Median of 9 each.
#include <crypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "http/PasswordCheck.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Work>
double MedianMs(int runs, Work work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const auto start = Clock::now();
    work(run);
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  crypt_data data{};
  if (!crypt_gensalt_rn("$2y$", 10, nullptr, 0, setting, sizeof setting) ||
      !crypt_rn("scrape me", setting, &data, sizeof data)) {
    std::fprintf(stderr, "bench-ctl-password: this libcrypt makes no bcrypt hash\n");
    return 1;
  }
  const std::string hash = data.output;
  constexpr int kRuns = 9;
  // A check of its own for each first time, so that none is remembered yet.
  const double first = MedianMs(kRuns, [&](int) {
    calvora::ctl::PasswordCheck check({{"prometheus", hash}});
    check("prometheus", "scrape me");
  });
  const calvora::ctl::PasswordCheck check({{"prometheus", hash}});
  check("prometheus", "scrape me");
  const double remembered = MedianMs(kRuns, [&](int) { check("prometheus", "scrape me"); });
  const double wrong =
      MedianMs(kRuns, [&](int run) { check("prometheus", "guess " + std::to_string(run)); });
  const double unknown =
      MedianMs(kRuns, [&](int run) { check("nobody", "guess " + std::to_string(run)); });
  std::printf("| password check ms, cost 10, first time (vs remembered) | %.2f | %.4f | %.0fx |\n",
              first, remembered, first / remembered);
  std::printf(
      "| password check ms, cost 10, unknown user (vs wrong password) | %.2f | %.2f | %.2fx |\n",
      unknown, wrong, unknown / wrong);
  return 0;
}
