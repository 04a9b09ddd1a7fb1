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

bool MutexExists(const std::string& name) {
  return ScopedHandle(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())).IsValid();
}

TEST(NamedMutexTest, ClaimsTheFirstFreeOrTheRequestedNumberWithinTheBound) {
  const std::string base = "quorvel_mutex_test_" + std::to_string(GetCurrentProcessId());
  NamedMutex holder(base.c_str(), true, 3), first(base.c_str(), true, 0),
      other(base.c_str(), false, 0);
  EXPECT_TRUE(holder.InstanceNumber() == 3 && first.InstanceNumber() == 1);
  EXPECT_EQ(other.Create(3, SharedString()), 0u);  // a requested number held elsewhere fails
  EXPECT_TRUE(!other.IsHeld() && other.FullName().IsEmpty());
  EXPECT_EQ(other.Create(4, SharedString()), 4u);
  EXPECT_EQ(other.Create(0, SharedString("ignored")), 4u) << "once held";
  EXPECT_STREQ(other.FullName().Chars(), (base + "_4").c_str());
  first.Close();
  EXPECT_FALSE(first.IsHeld() || first.InstanceNumber() != 0 || MutexExists(base + "_1"));
  // Names taken by other objects are skipped, up to the bound.
  std::vector<ScopedHandle> events;
  for (uint32_t n = 1; n <= kNamedMutexMaxTries; ++n) {
    events.emplace_back(
        CreateEventA(nullptr, TRUE, FALSE, ("x" + base + "_" + std::to_string(n)).c_str()));
  }
  NamedMutex bounded(("x" + base).c_str(), false, 0);
  EXPECT_EQ(bounded.Create(0, SharedString()), 0u);
  EXPECT_FALSE(MutexExists("x" + base + "_" + std::to_string(kNamedMutexMaxTries + 1)));
  events.pop_back();
  EXPECT_EQ(bounded.Create(0, SharedString()), kNamedMutexMaxTries);
}

TEST(ProcessInstanceTest, HoldsTheLowerCaseExecutableNameWithItsNumber) {
  NamedMutex unnamed(SharedString(), true, 0);
  EXPECT_EQ(unnamed.FullName().Chars(),
            "foundation_tests.exe_" + std::to_string(unnamed.InstanceNumber()));
  const ProcessInstance& instance = ModuleProcessInstance();
  const std::string number = std::to_string(instance.InstanceNumber());
  EXPECT_STREQ(instance.ExecutableName().Chars(), "foundation_tests");
  EXPECT_TRUE(instance.InstanceNumber() >= 1 && instance.InstanceText().Chars() == number);
  EXPECT_EQ(instance.Mutex().FullName().Chars(), "foundation_tests_" + number);
  EXPECT_TRUE(MutexExists("foundation_tests_" + number));
}

}  // namespace
}  // namespace quorvel
