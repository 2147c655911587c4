// Sub-commands of quillmark-cli register themselves here, one file each.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace qm::cli {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

// Adds its sub-command to `app`; the returned function runs it once the
// command line has been parsed and returns the exit code.
using CommandSetup = std::function<std::function<int()>(CLI::App& app)>;

struct CommandEntry {
  std::string name;
  CommandSetup setup;
};

std::vector<CommandEntry>& Commands();

struct RegisterCommand {
  RegisterCommand(std::string name, CommandSetup setup) {
    Commands().push_back({std::move(name), std::move(setup)});
  }
};

}  // namespace qm::cli
