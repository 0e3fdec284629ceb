// Out-of-memory paths: the allocator of this program fails the k-th
// allocation after it is armed, for every k a member reaches.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "support/replaced_allocator.hpp"
#include "support/test_support.hpp"

namespace {

long g_countdown = 0;  // 0: disarmed; otherwise the allocation that fails
long g_failures = 0;

}  // namespace

bool qv_test::BeforeAllocation() {
  if (g_countdown > 0 && --g_countdown == 0) {
    ++g_failures;
    return false;
  }
  return true;
}

namespace {

using namespace qv_VCard;

// Fails the k-th allocation of whatever runs while it lives.
struct FailAt {
  explicit FailAt(long k) {
    g_failures = 0;
    g_countdown = k;
  }
  ~FailAt() { g_countdown = 0; }
  bool failed() const { return g_failures > 0; }
};

struct Prepared {
  qv_test::FixedClock clock;
  qv_test::CountingGuids guids;
  qvVCard card{clock, guids};
  Prepared() {
    // Long texts, so that every read has to allocate.
    const Text long_text(300, u'x');
    for (const PropertyInfo& p : Properties()) {
      if (p.kind == Kind::Text) {
        EXPECT_EQ(card.Put(p.property, long_text + u"\r\n" + long_text), kOk);
      } else if (p.kind == Kind::Flag) {
        EXPECT_EQ(card.Put(p.property, kTrue), kOk);
      }
    }
  }
};

TEST(OutOfMemory, CardReadFailsWholeAtEveryAllocation) {
  Prepared reference;
  Text expected;
  ASSERT_EQ(reference.card.get_vCard(expected), kOk);
  int failures = 0;
  for (long k = 1;; ++k) {
    Prepared p;
    Text out;
    Status s;
    bool failed;
    {
      FailAt fail(k);
      s = p.card.get_vCard(out);
      failed = fail.failed();
    }
    if (!failed) {
      EXPECT_EQ(s, kOk);
      EXPECT_EQ(out, expected);
      break;
    }
    ++failures;
    EXPECT_EQ(s, kOutOfMemory) << "allocation " << k;
    EXPECT_EQ(out, u"") << "allocation " << k;
    // The object is still usable and unchanged.
    ASSERT_EQ(p.card.get_vCard(out), kOk);
    EXPECT_EQ(out.size(), expected.size());
  }
  EXPECT_GT(failures, 0);
}

TEST(OutOfMemory, EveryTextReadFailsWithTheEmptyText) {
  Prepared p;
  for (const PropertyInfo& info : Properties()) {
    // The sign reads are one character: short texts need no allocation.
    if (info.kind != Kind::Text || info.rule == ReadRule::GeoLatSign ||
        info.rule == ReadRule::GeoLonSign) {
      continue;
    }
    Text expected;
    ASSERT_EQ(p.card.Get(info.property, expected), kOk);
    Text out;
    Status s;
    bool failed;
    {
      FailAt fail(1);
      s = p.card.Get(info.property, out);
      failed = fail.failed();
    }
    ASSERT_TRUE(failed) << info.name;
    EXPECT_EQ(s, kOutOfMemory) << info.name;
    EXPECT_EQ(out, u"") << info.name;
    ASSERT_EQ(p.card.Get(info.property, out), kOk);
    EXPECT_EQ(out, expected) << info.name;
  }
}

TEST(OutOfMemory, FileNameReadAndAssignment) {
  Prepared p;
  Text out;
  {
    FailAt fail(1);
    EXPECT_EQ(p.card.get_vCardFileName(out), kOutOfMemory);
    EXPECT_TRUE(fail.failed());
  }
  EXPECT_EQ(out, u"");
  // A failed assignment keeps the previous value.
  const Text big(5000, u'y');
  {
    FailAt fail(1);
    EXPECT_EQ(p.card.put_Note(big), kOutOfMemory);
  }
  ASSERT_EQ(p.card.get_Note(out), kOk);
  EXPECT_EQ(out, u"NOTE:" + Text(300, u'x') + u"\\n" + Text(300, u'x') + u"\r\n");
  // Late-bound reads report the failure too.
  Value v;
  {
    FailAt fail(1);
    EXPECT_EQ(p.card.GetById(kDispIdVCard, v), kOutOfMemory);
  }
  EXPECT_EQ(std::get<Text>(v), u"");
}

TEST(OutOfMemory, CreationFailureThrows) {
  qv_test::FixedClock clock;
  qv_test::CountingGuids guids;
  FailAt fail(1);
  EXPECT_THROW((void)new qvVCard(clock, guids), std::bad_alloc);
}

}  // namespace

namespace {

// The system GUID source keeps its random bytes in a block mapped per
// thread; a thread that cannot map one still gets identifiers, straight
// from the kernel. The address space is limited in a child process so that
// the block cannot be mapped.
TEST(OutOfMemory, GuidsWithoutARandomBlock) {
#if defined(__SANITIZE_ADDRESS__) || defined(__has_feature)
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
  GTEST_SKIP() << "an address space limit cannot be set under AddressSanitizer";
#endif
#endif
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::atomic<int> go{0};
    Status status = kFail;
    Guid guid{};
    std::thread t([&] {
      while (go.load() == 0) std::this_thread::yield();
      status = SystemGuidSource().Create(guid);
    });
    long pages = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr || std::fscanf(f, "%ld", &pages) != 1) _exit(3);
    std::fclose(f);
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlimit as{limit + 8192, limit + 8192};
    if (setrlimit(RLIMIT_AS, &as) != 0) _exit(4);
    void* probe = mmap(nullptr, 40000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe != MAP_FAILED) _exit(5);  // the limit would prove nothing
    go = 1;
    t.join();
    const bool good = status == kOk && guid.data3 >> 12 == 4 && guid.data4[0] >> 6 == 2;
    _exit(good ? 0 : 1);
  }
  int ws = 0;
  ASSERT_EQ(waitpid(child, &ws, 0), child);
  ASSERT_TRUE(WIFEXITED(ws));
  EXPECT_EQ(WEXITSTATUS(ws), 0) << "1: no version 4 identifier; 3-5: the limit could not be set";
}

}  // namespace
