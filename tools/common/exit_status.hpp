// The exit statuses of qvvcard, the same for every command.
#ifndef QVVCARD_COMMON_EXIT_STATUS_HPP
#define QVVCARD_COMMON_EXIT_STATUS_HPP

namespace qvvcard {

inline constexpr int kExitOk = 0;       // every record became a card
inline constexpr int kExitSkipped = 1;  // some records were skipped (or the one card failed)
inline constexpr int kExitUsage = 2;    // the run could not be done as asked
// A run stopped by a signal exits 128 + the signal's number (130 for
// SIGINT, 143 for SIGTERM).

}  // namespace qvvcard

#endif
