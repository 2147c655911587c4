#include "cli/interrupt.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace qm::cli {

namespace {
std::atomic<bool> g_interrupted{false};

extern "C" void OnSignal(int signal) {
  if (g_interrupted.exchange(true)) _exit(128 + signal);
}
}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return g_interrupted.load(); }

}  // namespace qm::cli
