#include "StartFolders.h"

#include "system/Utf8Path.h"
#include "system/WritableFolder.h"

namespace calvora::ctl {

std::string StartFoldersProblem(const CtlOptions& options) {
  const std::pair<const char*, const std::optional<std::string>*> folders[] = {
      {"--log", &options.logFolder}, {"--clips", &options.clipsFolder}};
  for (const auto& [option, folder] : folders) {
    if (!*folder)
      continue;
    const std::string problem = WritableFolderProblem(PathFromUtf8(**folder));
    if (!problem.empty())
      return std::string(option) + " " + **folder + ": the folder cannot be used (" + problem + ")";
  }
  return {};
}

}  // namespace calvora::ctl
