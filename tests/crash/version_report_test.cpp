#include <windows.h>

#include <string>

#include "crash/module_version_info.h"
#include "crash/version_report_section.h"
#include "crash_test_support.h"
#include "gtest/gtest.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// Owns a library loaded for the test.
class LoadedModule {
 public:
  explicit LoadedModule(const std::wstring& name)
      : module_(LoadLibraryW((test::ProgramFolder() + L"\\" + name).c_str())) {}
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  ~LoadedModule() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }
  HMODULE Get() const { return module_; }

 private:
  HMODULE module_;
};

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  return path;
}

// The language line as the system names the language; none when it has no name.
std::string LanguageLine(WORD language) {
  char name[100] = {};
  if (VerLanguageNameA(language, name, 99) == 0) {
    return "";
  }
  return std::string("  Language: ") + name + "\n";
}

// The sample module's listing: its German group first, as its table has it, and the keys in the
// fixed order, whatever order the resource stores them in.
std::string SampleListing() {
  return LanguageLine(0x0407) +
         "  CompanyName : Beispiel GmbH\n"
         "  FileVersion : 3.1.4.1\n"
         "  ProductName : Beispielprodukt\n"
         "\n" +
         LanguageLine(0x0409) +
         "  CompanyName : Sample Company\n"
         "  FileDescription : Version sample module\n"
         "  ProductName : Sample Product\n"
         "  Comments : sample comment\n"
         "  DastryBuildVersion : build 42\n"
         "  NetVersion : net-7\n";
}

std::string ExecutableListing() {
  return LanguageLine(0x0409) +
         "  InternalName : crash_tests\n"
         "  ProductName : Crash tests\n";
}

class VersionReportTest : public ::testing::Test {
 protected:
  LoadedModule sample_{L"version_sample.dll"};
};

TEST_F(VersionReportTest, PrefersUsEnglishUnicodeAndSelectsOthersOnRequest) {
  ASSERT_NE(sample_.Get(), nullptr);
  ModuleVersionInfo info(sample_.Get());
  ASSERT_TRUE(info.hasData());
  EXPECT_EQ(info.translationCount(), 2u);
  EXPECT_EQ(std::string(info.path().Chars()), ModulePath(sample_.Get()));
  EXPECT_STREQ(info.selectedKey().Chars(), "040904b0");

  SharedString value;
  ASSERT_TRUE(info.queryString("ProductName", value));
  EXPECT_STREQ(value.Chars(), "Sample Product");
  EXPECT_FALSE(info.queryString("LegalCopyright", value));

  ASSERT_TRUE(info.selectTranslation(0x0407 | (1200u << 16)));
  EXPECT_STREQ(info.selectedKey().Chars(), "040704b0");
  ASSERT_TRUE(info.queryString("ProductName", value));
  EXPECT_STREQ(value.Chars(), "Beispielprodukt");

  // A pair that matches in one half only is not in the table.
  EXPECT_FALSE(info.selectTranslation(0x0407 | (1252u << 16)));
  EXPECT_STREQ(info.selectedKey().Chars(), "040704b0");
}

TEST_F(VersionReportTest, ListingHasOneGroupPerTranslationInKeyOrder) {
  ModuleVersionInfo info(sample_.Get());
  SharedString text;
  info.appendListing(text);
  EXPECT_EQ(std::string(text.Chars()), SampleListing());
}

TEST_F(VersionReportTest, ResourceWithoutTranslationTableListsNothing) {
  LoadedModule untranslated(L"version_untranslated.dll");
  ModuleVersionInfo info(untranslated.Get());
  EXPECT_TRUE(info.hasData());
  EXPECT_EQ(info.translationCount(), 0u);
  SharedString text;
  info.appendListing(text);
  EXPECT_TRUE(text.IsEmpty()) << text.Chars();
}

TEST_F(VersionReportTest, ContentAddsTheErrorModuleAfterTheExecutable) {
  VersionReportSection section;
  const std::string errorBlock = "\nVersion information for error module " +
                                 ModulePath(sample_.Get()) + ":\n" + SampleListing();
  ReportThreadInfo thread;
  thread.errorModule = sample_.Get();
  EXPECT_EQ(std::string(section.content(ReportInfo(), thread, 0).Chars()),
            ExecutableListing() + errorBlock);

  // The executable itself, or no module named: one block only.
  thread.errorModule = GetModuleHandleA(nullptr);
  EXPECT_EQ(std::string(section.content(ReportInfo(), thread, 0).Chars()), ExecutableListing());
  thread.errorModule = nullptr;
  EXPECT_EQ(std::string(section.content(ReportInfo(), thread, 0).Chars()), ExecutableListing());
}

TEST_F(VersionReportTest, ExceptionAddressNamesTheErrorModule) {
  VersionReportSection section;
  CONTEXT context = {};
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  ReportInfo info;
  info.exceptionPointers = &pointers;
  ReportThreadInfo thread;
  thread.errorModule = GetModuleHandleA(nullptr);  // overruled by the exception's address

  const auto marker =
      reinterpret_cast<uintptr_t>(GetProcAddress(sample_.Get(), "SampleModuleMarker"));
#if defined(_M_IX86) || defined(__i386__)
  context.Eip = static_cast<DWORD>(marker);
#else
  context.Rip = marker;
#endif
  const std::string report = section.content(info, thread, 0).Chars();
  EXPECT_EQ(report, ExecutableListing() + "\nVersion information for error module " +
                        ModulePath(sample_.Get()) + ":\n" + SampleListing());

  thread.errorModule = sample_.Get();
  const auto own = reinterpret_cast<uintptr_t>(&ModulePath);
#if defined(_M_IX86) || defined(__i386__)
  context.Eip = static_cast<DWORD>(own);
#else
  context.Rip = own;
#endif
  EXPECT_EQ(std::string(section.content(info, thread, 0).Chars()), ExecutableListing());
}

TEST_F(VersionReportTest, TitleNamesTheLibraryVersion) {
  VersionReportSection section;
  EXPECT_STREQ(section.title().Chars(),
               "Version Report generated by VoreDuvovor : 2.0.143.1 (0x0200008F)");
}

}  // namespace
}  // namespace quorvel
