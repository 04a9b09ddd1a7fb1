#include "patch/environment_references.h"

#include <cstdlib>

#include "gtest/gtest.h"

namespace quorvel {
namespace {

std::wstring Expand(const wchar_t* text) {
  return ExpandEnvironmentReferences(SharedWString(text)).Chars();
}

class EnvironmentReferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    _wputenv(L"QV_TEST_RESULT=0x80070020");
    _wputenv(L"QV_TEST_UNSET=");
    _wputenv(L"QV_TEST_INNER=[%QV_TEST_RESULT%]");
    _wputenv(L"QV_TEST_SELF=<%QV_TEST_SELF%>");
    _wputenv(L"QV_TEST_PING=ping %QV_TEST_PONG%");
    _wputenv(L"QV_TEST_PONG=pong %QV_TEST_PING%");
    _wputenv(L"QV_TEST_HALF=half%");
  }
  void TearDown() override {
    for (const wchar_t* name : {L"QV_TEST_RESULT=", L"QV_TEST_INNER=", L"QV_TEST_SELF=",
                                L"QV_TEST_PING=", L"QV_TEST_PONG=", L"QV_TEST_HALF="}) {
      _wputenv(name);
    }
  }
};

TEST_F(EnvironmentReferencesTest, ReferencesExpandAndPercentSignsFollowTheirRules) {
  EXPECT_EQ(Expand(L"\"-restart\""), L"\"-restart\"");
  EXPECT_EQ(Expand(L""), L"");
  EXPECT_EQ(Expand(L"\"%QV_TEST_RESULT%\" \"x\""), L"\"0x80070020\" \"x\"");
  EXPECT_EQ(Expand(L"a%qv_test_result%b"), L"a0x80070020b");
  EXPECT_EQ(Expand(L"100%% sure"), L"100% sure");
  EXPECT_EQ(Expand(L"%%%%"), L"%%");
  EXPECT_EQ(Expand(L"trailing%"), L"trailing");
  EXPECT_EQ(Expand(L"a%QV_TEST_UNSET%b"), L"ab");
  EXPECT_EQ(Expand(L"keep %QV_TEST_RESULT"), L"keep 0x80070020");
  EXPECT_EQ(Expand(L"x %no such name"), L"x ");
  // An inserted value is scanned again.
  EXPECT_EQ(Expand(L"%QV_TEST_INNER%"), L"[0x80070020]");
  // The value's trailing sign pairs with the text after it.
  EXPECT_EQ(Expand(L"%QV_TEST_HALF%QV_TEST_RESULT%"), L"half0x80070020");
}

TEST_F(EnvironmentReferencesTest, SelfAndMutuallyReferringValuesEnd) {
  EXPECT_EQ(Expand(L"%QV_TEST_SELF%"), L"<%QV_TEST_SELF%>");
  EXPECT_EQ(Expand(L"%QV_TEST_PING%"), L"ping pong %QV_TEST_PING%");
  EXPECT_EQ(Expand(L"%QV_TEST_SELF% and %QV_TEST_SELF%"), L"<%QV_TEST_SELF%> and <%QV_TEST_SELF%>");
}

}  // namespace
}  // namespace quorvel
