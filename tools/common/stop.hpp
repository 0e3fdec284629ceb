// Stopping. SIGINT, SIGTERM and SIGHUP ask the program to stop after the
// work in hand; a second one ends it at once (removing a pending temporary
// name, if any). SIGPIPE and SIGXFSZ are ignored, so that a closed pipe or
// a file size limit is a write error like any other.
#ifndef QVVCARD_COMMON_STOP_HPP
#define QVVCARD_COMMON_STOP_HPP

#include <signal.h>

#include <stdexcept>
#include <string>

namespace qvvcard {

// Installs the handlers. Call once, early.
void InstallStopHandlers();
// The signal that asked to stop, or 0.
int StopSignal() noexcept;
// The name of a stop signal ("SIGINT"), for messages.
std::string SignalName(int sig);
// The stop signals, as a set.
sigset_t StopSignals() noexcept;

// Thrown where waiting was cut short by a stop request.
struct Stopped : std::runtime_error {
  Stopped() : std::runtime_error("stopped") {}
};
// For a system call cut short by a signal: throws Stopped when that signal
// asked the program to stop; otherwise the call is to be retried.
void ThrowIfStopped();

// Holds back the stop signals from this thread for its lifetime, so that a
// temporary name comes into being and gets registered with none left behind
// unregistered (and so that a thread started meanwhile never takes them).
class SignalsHeld {
 public:
  SignalsHeld() noexcept;
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

// The one temporary file name (in the folder dirfd) that a second signal
// removes before ending the program; only one exists at a time.
void SetPendingName(int dirfd, const std::string& name) noexcept;
void ClearPendingName() noexcept;

}  // namespace qvvcard

#endif
