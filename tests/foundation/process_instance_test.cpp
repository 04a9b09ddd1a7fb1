#include "foundation/process_instance.h"

#include <string>

#include "foundation/scoped_handle.h"
#include "patch/module_objects.h"
#include "support/helper_process.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// A process that holds Quorvel.dll loaded until it is released.
class LibraryHolder {
 public:
  LibraryHolder() : ready_(L"holder_ready"), release_(L"holder_release") {
    const std::wstring library = test::ProgramFolder() + L"\\Quorvel.dll";
    ready = process_.Start(L"library_holder.exe",
                           L"\"" + library + L"\" " + ready_.Name() + L" " + release_.Name()) &&
            ready_.WaitFor(30000) && process_.ExitCode() == STILL_ACTIVE;
  }
  ~LibraryHolder() { Release(); }
  // Lets the process end; true when it ended normally.
  bool Release() {
    release_.Set();
    return process_.WaitForExit(30000) && process_.ExitCode() == 0;
  }
  bool ready = false;

 private:
  test::NamedEvent ready_;
  test::NamedEvent release_;
  test::HelperProcess process_;
};

bool MutexExists(const std::string& name) {
  ScopedHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
  return mutex.IsValid();
}

// Which of library_holder_1 .. library_holder_4 exist, as a string of 0s and 1s.
std::string HeldInstances() {
  std::string held;
  for (int n = 1; n <= 4; ++n) {
    held += MutexExists("library_holder_" + std::to_string(n)) ? '1' : '0';
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
  ASSERT_EQ(HeldInstances(), "0000") << "a holder of an earlier run is still alive";

  LibraryHolder holders[3];
  for (const LibraryHolder& holder : holders) {
    ASSERT_TRUE(holder.ready);
  }
  EXPECT_EQ(HeldInstances(), "1110");
  EXPECT_TRUE(holders[0].Release());
  EXPECT_EQ(HeldInstances(), "0110");
  LibraryHolder fourth;
  ASSERT_TRUE(fourth.ready);
  EXPECT_EQ(HeldInstances(), "1110");
}

}  // namespace
}  // namespace quorvel
