// The system clock and GUID source on POSIX systems.
//
// GUIDs are RFC 4122 version-4 identifiers from the kernel's secure random
// source. Randomness is drawn in blocks into a per-thread buffer that no
// copy of the process shares, so parent and child never hand out the same
// bytes.
#include <sys/mman.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// The stamp has whole seconds, so the coarse real-time clock (advanced at
// every timer tick, read without touching the hardware counter) is precise
// enough; it is the clock time() reads as well.
#ifdef CLOCK_REALTIME_COARSE
constexpr clockid_t kStampClock = CLOCK_REALTIME_COARSE;
#else
constexpr clockid_t kStampClock = CLOCK_REALTIME;
#endif

// The calendar reading of the last second a thread asked about: cards read
// within the same second convert it only once.
struct LastSecond {
  long long secs = -1;
  bool valid = false;
  CalendarTime time;
};

thread_local LastSecond t_last_second;

class PosixClock final : public Clock {
 public:
  Status Now(CalendarTime& out) noexcept override {
    timespec ts{};
    if (clock_gettime(kStampClock, &ts) != 0 && clock_gettime(CLOCK_REALTIME, &ts) != 0) {
      return kFail;
    }
    const long long secs = ts.tv_sec;
    LastSecond& last = t_last_second;
    if (!last.valid || last.secs != secs) {
      long long days = secs / 86400;
      long long rem = secs % 86400;
      if (rem < 0) {
        rem += 86400;
        --days;
      }
      CalendarTime& t = last.time;
      CivilFromDays(days, t.year, t.month, t.day);
      t.hour = static_cast<int>(rem / 3600);
      t.minute = static_cast<int>(rem / 60 % 60);
      t.second = static_cast<int>(rem % 60);
      last.secs = secs;
      last.valid = true;
    }
    out = last.time;
    return kOk;
  }
};

bool FillFromKernel(unsigned char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t got = getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

// Each system call costs microseconds here, so randomness is fetched in
// blocks of 32 KiB (2,048 GUIDs), mapped when a thread first needs one.
//
// A copy of the process must never hand out the bytes its parent hands out,
// however it was made (fork(), or a raw fork or clone system call that runs
// none of libc's fork handlers). The block's pages are therefore mapped
// with MADV_WIPEONFORK: in any child they read as zeros, and a zero `valid`
// word marks the block as empty. Where the kernel lacks that, the block
// remembers the process it was filled in and is refilled in another.
class RandomBlock {
 public:
  static constexpr std::size_t kBytes = 32768;

  ~RandomBlock() {
    if (map_ != nullptr) munmap(map_, sizeof(Mapping));
  }

  // Sixteen bytes, each handed out once; false when no block could be
  // mapped or filled.
  bool Take(unsigned char (&r)[16]) {
    if (map_ == nullptr && !Map()) return false;
    Mapping& m = *map_;
    if (m.valid == 0 || (!wiped_on_fork_ && m.pid != getpid()) || kBytes - m.used < sizeof r) {
      m.valid = 0;
      if (!FillFromKernel(m.bytes, kBytes)) return false;
      m.used = 0;
      m.pid = wiped_on_fork_ ? 0 : getpid();
      m.valid = 1;
    }
    std::memcpy(r, m.bytes + m.used, sizeof r);
    std::memset(m.bytes + m.used, 0, sizeof r);  // hand out each byte once
    m.used += sizeof r;
    return true;
  }

 private:
  struct Mapping {
    std::uint64_t valid;  // 0: nothing to hand out (also after a fork)
    std::uint64_t used;
    pid_t pid;
    unsigned char bytes[kBytes];
  };

  bool Map() {
    void* p =
        mmap(nullptr, sizeof(Mapping), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
#ifdef MADV_WIPEONFORK
    wiped_on_fork_ = madvise(p, sizeof(Mapping), MADV_WIPEONFORK) == 0;
#endif
    map_ = static_cast<Mapping*>(p);  // zeros: not valid yet
    return true;
  }

  Mapping* map_ = nullptr;
  bool wiped_on_fork_ = false;
};

thread_local RandomBlock t_random;

class PosixGuidSource final : public GuidSource {
 public:
  Status Create(Guid& out) noexcept override {
    // Without a block (no memory for one), the bytes come straight from
    // the kernel.
    unsigned char r[16];
    if (!t_random.Take(r) && !FillFromKernel(r, sizeof r)) return kFail;
    r[6] = static_cast<unsigned char>((r[6] & 0x0F) | 0x40);  // version 4
    r[8] = static_cast<unsigned char>((r[8] & 0x3F) | 0x80);  // RFC 4122 variant
    out.data1 = (std::uint32_t{r[0]} << 24) | (std::uint32_t{r[1]} << 16) |
                (std::uint32_t{r[2]} << 8) | r[3];
    out.data2 = static_cast<std::uint16_t>((r[4] << 8) | r[5]);
    out.data3 = static_cast<std::uint16_t>((r[6] << 8) | r[7]);
    for (int i = 0; i < 8; ++i) out.data4[static_cast<std::size_t>(i)] = r[8 + i];
    return kOk;
  }
};

}  // namespace

Clock& SystemClock() noexcept {
  static PosixClock clock;
  return clock;
}

GuidSource& SystemGuidSource() noexcept {
  static PosixGuidSource source;
  return source;
}

}  // namespace qv_VCard
