// Out-of-memory paths: the allocator of this program fails the k-th
// allocation after it is armed, for every k a member reaches.
#include <gtest/gtest.h>

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

// The system GUID source keeps its random bytes in a block per thread; a
// thread that cannot get one still gets identifiers, straight from the
// kernel.
TEST(OutOfMemory, GuidsWithoutARandomBlock) {
  Status status = kFail;
  Guid guid{};
  bool failed = false;
  std::thread t([&] {
    FailAt fail(1);  // the block is this thread's first allocation
    status = SystemGuidSource().Create(guid);
    failed = fail.failed();
  });
  t.join();
  EXPECT_TRUE(failed);
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(guid.data3 >> 12, 4);    // version 4
  EXPECT_EQ(guid.data4[0] >> 6, 2);  // RFC 4122 variant
}

}  // namespace
