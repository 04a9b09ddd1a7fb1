#include "foundation/process_instance.h"

#include <memory>
#include <string>

#include "foundation/scoped_handle.h"
#include "patch/module_objects.h"
#include "support/held_process.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::HeldProcess;

bool MutexExists(const std::string& name) {
  ScopedHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
  return mutex.IsValid();
}

// Which of held_process_1 .. held_process_4 exist, as a string of 0s and 1s.
std::string HeldInstances() {
  std::string held;
  for (int n = 1; n <= 4; ++n) {
    held += MutexExists("held_process_" + std::to_string(n)) ? '1' : '0';
  }
  return held;
}

TEST(ProcessInstanceTest, TheModulesInstanceHoldsTheLowerCaseExecutableNameWithItsNumber) {
  const ProcessInstance& instance = ModuleProcessInstance();
  EXPECT_STREQ(instance.ExecutableName().Chars(), "foundation_tests");
  ASSERT_GE(instance.InstanceNumber(), 1u);
  EXPECT_EQ(std::string(instance.InstanceText().Chars()),
            std::to_string(instance.InstanceNumber()));
  EXPECT_EQ(std::string(instance.Mutex().FullName().Chars()),
            "foundation_tests_" + std::to_string(instance.InstanceNumber()));
  EXPECT_TRUE(MutexExists(instance.Mutex().FullName().Chars()));
}

// Each held process loads Quorvel.dll, whose process-wide instance claims a number while the
// library is loaded. All of them run in the test's Wine prefix, so they share the names.
TEST(ProcessInstanceTest, ProcessesLoadingTheLibraryClaimTheFirstFreeNumbers) {
  const std::wstring library = test::ProgramFolder() + L"\\Quorvel.dll";
  ASSERT_EQ(HeldInstances(), "0000") << "a held process of an earlier run is still alive";

  auto first = std::make_unique<HeldProcess>(library);
  ASSERT_TRUE(first->IsReady());
  EXPECT_EQ(HeldInstances(), "1000");
  HeldProcess second(library);
  ASSERT_TRUE(second.IsReady());
  EXPECT_EQ(HeldInstances(), "1100");
  HeldProcess third(library);
  ASSERT_TRUE(third.IsReady());
  EXPECT_EQ(HeldInstances(), "1110");

  EXPECT_EQ(first->ReleaseAndWait(), 0u);
  first.reset();
  EXPECT_EQ(HeldInstances(), "0110");
  HeldProcess fourth(library);
  ASSERT_TRUE(fourth.IsReady());
  EXPECT_EQ(HeldInstances(), "1110");
}

}  // namespace
}  // namespace quorvel
