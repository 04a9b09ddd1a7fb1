// Named mutexes and the process's instance number.
#include <string>
#include <vector>

#include "foundation/named_mutex.h"
#include "foundation/process_instance.h"
#include "foundation/scoped_handle.h"
#include "patch/module_objects.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

std::string UniqueBase(const char* role) {
  return "quorvel_mutex_test_" + std::to_string(GetCurrentProcessId()) + "_" + role;
}

bool MutexExists(const std::string& name) {
  return ScopedHandle(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())).IsValid();
}

TEST(NamedMutexTest, ClaimsTheFirstFreeOrTheRequestedNumberAndGivesItBackOnClose) {
  const std::string base = UniqueBase("numbers");
  NamedMutex holder(base.c_str(), true, 3);
  NamedMutex first(base.c_str(), true, 0);
  EXPECT_EQ(holder.InstanceNumber(), 3u);
  EXPECT_EQ(first.InstanceNumber(), 1u);
  NamedMutex other(base.c_str(), false, 0);
  EXPECT_EQ(other.Create(3, SharedString()), 0u);  // a requested number held elsewhere fails
  EXPECT_FALSE(other.IsHeld() || !other.FullName().IsEmpty());
  EXPECT_EQ(other.Create(4, SharedString()), 4u);
  EXPECT_EQ(other.Create(0, SharedString(UniqueBase("ignored").c_str())), 4u) << "once held";
  EXPECT_STREQ(other.FullName().Chars(), (base + "_4").c_str());
  first.Close();
  EXPECT_FALSE(first.IsHeld() || first.InstanceNumber() != 0 || MutexExists(base + "_1"));
  EXPECT_EQ(NamedMutex(base.c_str(), true, 0).InstanceNumber(), 1u);
}

TEST(NamedMutexTest, SkipsNamesTakenByOtherObjectsAndGivesUpAfterTheBound) {
  const std::string base = UniqueBase("bounded");
  std::vector<ScopedHandle> events;
  for (uint32_t n = 1; n <= kNamedMutexMaxTries; ++n) {
    events.emplace_back(
        CreateEventA(nullptr, TRUE, FALSE, (base + "_" + std::to_string(n)).c_str()));
  }
  NamedMutex mutex(base.c_str(), false, 0);
  EXPECT_EQ(mutex.Create(0, SharedString()), 0u);
  EXPECT_FALSE(MutexExists(base + "_" + std::to_string(kNamedMutexMaxTries + 1)));
  events.pop_back();
  EXPECT_EQ(mutex.Create(0, SharedString()), kNamedMutexMaxTries);
}

TEST(ProcessInstanceTest, HoldsTheLowerCaseExecutableNameWithItsNumber) {
  NamedMutex unnamed(SharedString(), true, 0);
  EXPECT_EQ(std::string(unnamed.FullName().Chars()),
            "foundation_tests.exe_" + std::to_string(unnamed.InstanceNumber()));
  const ProcessInstance& instance = ModuleProcessInstance();
  const std::string number = std::to_string(instance.InstanceNumber());
  EXPECT_STREQ(instance.ExecutableName().Chars(), "foundation_tests");
  EXPECT_GE(instance.InstanceNumber(), 1u);
  EXPECT_EQ(instance.InstanceText().Chars(), number);
  EXPECT_EQ(instance.Mutex().FullName().Chars(), "foundation_tests_" + number);
  EXPECT_TRUE(MutexExists("foundation_tests_" + number));
}

}  // namespace
}  // namespace quorvel
