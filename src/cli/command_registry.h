// Sub-commands of quillmark-cli register themselves here, one file each.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "platform/disk_table.h"
#include "platform/environment.h"
#include "results/scan_history.h"

namespace qm::cli {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

// What the commands share, made once at start-up by main() from the
// environment: the disk table that "disk:N" and drive indexes refer to, and
// the index of the kept scans.
struct Services {
  explicit Services(Environment environment)
      : env(std::move(environment)), disks(DiskTable::FromEnvironment(env)), history(env.scanLogFolder) {}
  Environment env;
  DiskTable disks;
  ScanHistory history;
};

// Runs a command once the command line has been parsed; returns the exit code.
using CommandRun = std::function<int(Services& services)>;
// Adds its sub-command to `app` and returns what runs it.
using CommandSetup = std::function<CommandRun(CLI::App& app)>;

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
