// quillmark-cli: the recovery engines from a terminal.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "cli/interrupt.h"
#include "cli/terminal_text.h"

namespace qm::cli {
std::vector<CommandEntry>& Commands() {
  static std::vector<CommandEntry> commands;
  return commands;
}

namespace {

// Levenshtein distance, for suggesting the command that was meant.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The first word that is not an option must name a command.
bool UnknownCommand(int argc, char** argv, const std::vector<CommandEntry>& commands) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (!word.empty() && word[0] == '-') continue;
    std::string names, closest;
    size_t best = 3;
    for (const auto& command : commands) {
      if (command.name == word) return false;
      names += (names.empty() ? "" : ", ") + command.name;
      if (const size_t d = Distance(word, command.name); d < best) {
        best = d;
        closest = command.name;
      }
    }
    std::fprintf(stderr, "quillmark-cli: unknown command '%s'%s\nThe commands are: %s (see "
                 "'quillmark-cli --help')\n",
                 TerminalSafe(word).c_str(),
                 closest.empty() ? "" : ("; did you mean '" + closest + "'?").c_str(),
                 names.c_str());
    return true;
  }
  return false;
}

}  // namespace
}  // namespace qm::cli

int main(int argc, char** argv) {
  using namespace qm::cli;
  CLI::App app{"Quillmark Pro: finds and recovers deleted and lost files on FAT and NTFS volumes",
               "quillmark-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "quillmark-cli " QUILLMARK_VERSION);

  auto& commands = Commands();
  std::sort(commands.begin(), commands.end(),
            [](const CommandEntry& a, const CommandEntry& b) { return a.name < b.name; });
  std::map<CLI::App*, CommandRun> runners;
  for (auto& command : commands) {
    size_t before = app.get_subcommands({}).size();
    auto run = command.setup(app);
    auto subs = app.get_subcommands({});
    if (subs.size() > before) runners[subs.back()] = std::move(run);
  }

  if (UnknownCommand(argc, argv, commands)) return kExitUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ExtrasError& e) {
    // "The following arguments were not expected: --foo": name them plainly.
    std::string what = e.what();
    const size_t colon = what.find(": ");
    if (colon != std::string::npos) what = what.substr(colon + 2);
    std::fprintf(stderr, "quillmark-cli: unknown option or extra argument: %s (see "
                 "'quillmark-cli COMMAND --help')\n",
                 TerminalSafe(what).c_str());
    return kExitUsage;
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }
  InstallInterruptHandler();
  // The environment is read here, once; the commands get what is made of it.
  Services services(qm::Environment::Read());
  for (auto& [sub, run] : runners)
    if (sub->parsed()) return run(services);
  return kExitUsage;
}
