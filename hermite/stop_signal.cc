#include "stop_signal.h"

#include <signal.h>

#include <csignal>

#include "output_file.h"

namespace hermite {
namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void on_stop_signal(int sig) {
  if (g_signal != 0) {
    // The second request: no more waiting for the block step.
    fileio::remove_pending_temp();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    return;
  }
  g_signal = sig;
}

}  // namespace

void catch_stop_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGUSR1}) ::sigaction(sig, &sa, nullptr);
}

int stop_signal() { return g_signal; }

const char* signal_name(int sig) {
  switch (sig) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGUSR1:
      return "SIGUSR1";
    default:
      return "a signal";
  }
}

}  // namespace hermite
