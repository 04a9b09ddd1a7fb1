#include "foundation/named_mutex.h"

#include <string>
#include <vector>

#include "foundation/scoped_handle.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A base name no other test or process uses.
std::string UniqueBase(const char* role) {
  return "quorvel_mutex_test_" + std::to_string(GetCurrentProcessId()) + "_" + role;
}

bool MutexExists(const std::string& name) {
  ScopedHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
  return mutex.IsValid();
}

TEST(NamedMutexTest, ClaimsTheFirstFreeOrTheRequestedNumberAndGivesItBackOnClose) {
  const std::string base = UniqueBase("numbers");
  NamedMutex holder(base.c_str(), true, 3);
  NamedMutex first(base.c_str(), true, 0);
  EXPECT_EQ(holder.InstanceNumber(), 3u);
  EXPECT_EQ(first.InstanceNumber(), 1u);
  // A requested number held elsewhere fails; a free one is claimed.
  NamedMutex other(base.c_str(), false, 0);
  EXPECT_EQ(other.Create(3, SharedString()), 0u);
  EXPECT_FALSE(other.IsHeld());
  EXPECT_TRUE(other.FullName().IsEmpty());
  EXPECT_EQ(other.Create(4, SharedString()), 4u);
  // Once one is held, a further Create changes nothing.
  EXPECT_EQ(other.Create(0, SharedString(UniqueBase("ignored").c_str())), 4u);
  EXPECT_STREQ(other.FullName().Chars(), (base + "_4").c_str());
  first.Close();
  EXPECT_FALSE(first.IsHeld());
  EXPECT_EQ(first.InstanceNumber(), 0u);
  EXPECT_FALSE(MutexExists(base + "_1"));
  EXPECT_EQ(NamedMutex(base.c_str(), true, 0).InstanceNumber(), 1u);
}

TEST(NamedMutexTest, SkipsNamesTakenByOtherObjectsAndGivesUpAfterTheBound) {
  const std::string base = UniqueBase("bounded");
  std::vector<ScopedHandle> events;
  for (uint32_t n = 1; n <= kNamedMutexMaxTries; ++n) {
    events.emplace_back(
        CreateEventA(nullptr, TRUE, FALSE, (base + "_" + std::to_string(n)).c_str()));
    ASSERT_TRUE(events.back().IsValid());
  }
  NamedMutex mutex(base.c_str(), false, 0);
  EXPECT_EQ(mutex.Create(0, SharedString()), 0u);
  EXPECT_FALSE(mutex.IsHeld());
  // The first number past the bound was never tried.
  EXPECT_FALSE(MutexExists(base + "_" + std::to_string(kNamedMutexMaxTries + 1)));
  events.pop_back();
  EXPECT_EQ(mutex.Create(0, SharedString()), kNamedMutexMaxTries);
}

TEST(NamedMutexTest, AnEmptyBaseNameBecomesTheExecutablesFileName) {
  NamedMutex mutex(SharedString(), true, 0);
  ASSERT_TRUE(mutex.IsHeld());
  EXPECT_STREQ(mutex.BaseName().Chars(), "foundation_tests.exe");
  EXPECT_EQ(std::string(mutex.FullName().Chars()),
            "foundation_tests.exe_" + std::to_string(mutex.InstanceNumber()));
}

}  // namespace
}  // namespace quorvel
