// quillmark-cli: the recovery engines from a terminal.
#include <algorithm>
#include <cstdio>
#include <map>

#include "cli/command_registry.h"
#include "cli/interrupt.h"

namespace qm::cli {
std::vector<CommandEntry>& Commands() {
  static std::vector<CommandEntry> commands;
  return commands;
}
}  // namespace qm::cli

int main(int argc, char** argv) {
  using namespace qm::cli;
  CLI::App app{"Quillmark Pro: finds and recovers deleted and lost files on FAT and NTFS volumes",
               "quillmark-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "quillmark-cli 0.1.0");

  auto& commands = Commands();
  std::sort(commands.begin(), commands.end(),
            [](const CommandEntry& a, const CommandEntry& b) { return a.name < b.name; });
  std::map<CLI::App*, std::function<int()>> runners;
  for (auto& command : commands) {
    size_t before = app.get_subcommands({}).size();
    auto run = command.setup(app);
    auto subs = app.get_subcommands({});
    if (subs.size() > before) runners[subs.back()] = std::move(run);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }
  InstallInterruptHandler();
  for (auto& [sub, run] : runners)
    if (sub->parsed()) return run();
  return kExitUsage;
}
