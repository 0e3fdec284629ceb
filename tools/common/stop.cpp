#include "common/stop.hpp"

#include <limits.h>
#include <unistd.h>

#include <cstdio>

namespace qvvcard {

namespace {

volatile sig_atomic_t g_stop_signal = 0;
volatile sig_atomic_t g_pending_active = 0;
int g_pending_dirfd = -1;
char g_pending_name[NAME_MAX + 1];

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int sig) {
  if (g_stop_signal == 0) {
    // The program stops after the work in hand and cleans up itself.
    g_stop_signal = sig;
    return;
  }
  // Asked twice: end now.
  if (g_pending_active) unlinkat(g_pending_dirfd, g_pending_name, 0);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void InstallStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read or write returns, and the run stops
  for (const int sig : kStopSignals) sigaction(sig, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

int StopSignal() noexcept { return g_stop_signal; }

std::string SignalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(sig);
  }
}

sigset_t StopSignals() noexcept {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kStopSignals) sigaddset(&set, sig);
  return set;
}

void ThrowIfStopped() {
  if (g_stop_signal != 0) throw Stopped();
}

SignalsHeld::SignalsHeld() noexcept {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, &old_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

void SetPendingName(int dirfd, const std::string& name) noexcept {
  g_pending_active = 0;
  g_pending_dirfd = dirfd;
  std::snprintf(g_pending_name, sizeof g_pending_name, "%s", name.c_str());
  g_pending_active = 1;
}

void ClearPendingName() noexcept { g_pending_active = 0; }

}  // namespace qvvcard
