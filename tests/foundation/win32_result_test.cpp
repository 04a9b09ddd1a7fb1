#include "foundation/win32_result.h"

#include "gtest/gtest.h"

namespace quorvel {
namespace {

TEST(Win32ResultTest, CodesMapToTheWin32FacilityAndAFailureWithoutCodeNeverReadsAsSuccess) {
  EXPECT_EQ(FailureResult(ERROR_ALREADY_EXISTS), static_cast<HRESULT>(0x800700B7));
  // Only the low 16 bits of a code survive; a failure HRESULT passes unchanged.
  EXPECT_EQ(FailureResult(0x12345u), static_cast<HRESULT>(0x80072345));
  EXPECT_EQ(FailureResult(0x80004005u), static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(FailureResult(ERROR_SUCCESS), E_FAIL);
  EXPECT_EQ(FailureResult(ERROR_SUCCESS, static_cast<HRESULT>(0x80070020)),
            static_cast<HRESULT>(0x80070020));
}

}  // namespace
}  // namespace quorvel
