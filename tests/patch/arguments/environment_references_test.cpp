#include "patch/arguments/environment_references.h"

#include <cstdlib>

#include "support/test_support.h"

namespace quorvel::test {
namespace {

TEST(EnvironmentReferencesTest, ReferencesExpandPercentSignsFollowTheirRulesAndCyclesEnd) {
  const wchar_t* variables[] = {L"QV_RESULT=0x80070020",   L"QV_UNSET=",
                                L"QV_INNER=[%QV_RESULT%]", L"QV_SELF=<%%%QV_SELF%>",
                                L"QV_PING=ping %QV_PONG%", L"QV_PONG=pong %QV_PING%",
                                L"QV_HALF=half%"};
  for (const wchar_t* variable : variables) {
    _wputenv(variable);
  }
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"\"-restart\"", L"\"-restart\""},
      {L"\"%QV_RESULT%\" \"x\"", L"\"0x80070020\" \"x\""},
      {L"a%qv_result%b", L"a0x80070020b"},
      {L"100%% sure", L"100% sure"},
      {L"trailing%", L"trailing"},
      {L"a%QV_UNSET%b", L"ab"},
      {L"keep %QV_RESULT", L"keep 0x80070020"},
      {L"x %no such", L"x "},
      // An inserted value is scanned again; its trailing sign pairs with the text after it.
      {L"%QV_INNER% %QV_INNER%", L"[0x80070020] [0x80070020]"},
      {L"%QV_HALF%QV_RESULT%", L"half0x80070020"},
      // A reference inside its own inserted value is left as it is, also after a %% there.
      {L"%QV_SELF% and %QV_SELF%", L"<%%QV_SELF%> and <%%QV_SELF%>"},
      {L"%QV_PING%", L"ping pong %QV_PING%"}};
  for (const auto& [text, expanded] : cases) {
    EXPECT_STREQ(ExpandEnvironmentReferences(SharedWString(text)).Chars(), expanded) << text;
  }
  // Values that each hold the next twice would double forty times over: the expansion ends just
  // past the longest command line.
  for (int level = 1; level <= 40; ++level) {
    const std::wstring next = L"%QV_" + std::to_wstring(level - 1) + L"%";
    _wputenv((L"QV_" + std::to_wstring(level) + L"=" + next + next).c_str());
  }
  _wputenv(L"QV_0=x");
  const uint32_t length = ExpandEnvironmentReferences(SharedWString(L"%QV_40%")).Length();
  EXPECT_TRUE(length > 32767 && length < 2 * 32767) << length;
  for (const wchar_t* variable : variables) {
    _wputenv(std::wstring(variable).substr(0, std::wstring(variable).find(L'=') + 1).c_str());
  }
}

}  // namespace
}  // namespace quorvel::test
