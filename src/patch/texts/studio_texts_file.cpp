#include "patch/texts/studio_texts_file.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "files/input_file.h"
#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "foundation/win32_result.h"
#include "patch/texts/player_language.h"

namespace quorvel {
namespace {

constexpr char kNoun[] = "texts file";

HRESULT Refuse(const SharedWString& path, uint32_t line, const std::wstring& reason) {
  RunLog::Write("Refusing the texts file <%ls>, line %u: %ls\n", path.Chars(), line,
                reason.c_str());
  return E_INVALIDARG;
}

HRESULT ReadWhole(const SharedWString& path, std::string& bytes) {
  ScopedFileHandle file;
  LARGE_INTEGER length = {};
  if (FAILED(OpenInputFile(path, kNoun, file, length))) {
    return E_INVALIDARG;
  }
  if (length.QuadPart > kStudioTextsMaxBytes) {
    RunLog::Write(
        "Refusing the texts file <%ls>: it holds more than the %u bytes a texts file "
        "may hold\n",
        path.Chars(), kStudioTextsMaxBytes);
    return E_INVALIDARG;
  }
  bytes.resize(static_cast<size_t>(length.QuadPart));
  DWORD done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), &bytes[done], static_cast<DWORD>(bytes.size()) - done, &read,
                  nullptr)) {
      return InputFileFailure("read", kNoun, path, GetLastError());
    }
    if (read == 0) {
      bytes.resize(done);
      break;
    }
    done += read;
  }
  return S_OK;
}

bool ToWide(const std::string& bytes, std::wstring& text) {
  text.clear();
  if (bytes.empty()) {
    return true;
  }
  const int size = static_cast<int>(bytes.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) {
    return false;
  }
  text.resize(static_cast<size_t>(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, &text[0], length) ==
         length;
}

std::wstring Trimmed(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) {
    return std::wstring();
  }
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// A language tag as Windows names languages: letters, digits and hyphens, from a letter on.
bool IsLanguageTag(const std::wstring& tag) {
  if (tag.empty() || tag.size() > LOCALE_NAME_MAX_LENGTH || !iswalpha(tag[0])) {
    return false;
  }
  return std::all_of(tag.begin(), tag.end(),
                     [](wchar_t c) { return (c < 0x80 && iswalnum(c)) || c == L'-'; });
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(towlower(c));
  }
  return text;
}

std::wstring Listed(const std::vector<std::wstring>& names) {
  std::wstring listed;
  for (const std::wstring& name : names) {
    listed += (listed.empty() ? L"{" : L" {") + name + L"}";
  }
  return listed.empty() ? L"none" : listed;
}

// Why text cannot stand for info's original, or empty when it can.
std::wstring TextFault(const PlayerTextInfo& info, const std::wstring& key,
                       const std::wstring& text) {
  if (text.empty()) {
    return L"the text of " + key + L" is empty";
  }
  std::vector<std::wstring> names;
  if (!ReadPlaceholders(text.c_str(), names)) {
    return L"the text of " + key +
           L" has a brace that is no placeholder: a placeholder is {name}, a brace is {{ or }}";
  }
  std::vector<std::wstring> sorted = names;
  std::vector<std::wstring> wanted = info.placeholders;
  std::sort(sorted.begin(), sorted.end());
  std::sort(wanted.begin(), wanted.end());
  if (sorted != wanted) {
    return L"the text of " + key + L" holds the placeholders " + Listed(names) + L", not " +
           Listed(info.placeholders) + L" as the original";
  }
  return std::wstring();
}

// The rank of a section for the player: lower is nearer, kNoRank when it does not speak to them.
constexpr size_t kNoRank = static_cast<size_t>(-1);
size_t RankOf(const std::wstring& tag, const std::vector<std::wstring>& tags) {
  const auto found = std::find(tags.begin(), tags.end(), tag);
  return found == tags.end() ? kNoRank : static_cast<size_t>(found - tags.begin());
}

}  // namespace

HRESULT ReadStudioTexts(const SharedWString& path, PlayerTexts& texts) {
  std::string bytes;
  const HRESULT read = ReadWhole(path, bytes);
  if (FAILED(read)) {
    return read;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    bytes.erase(0, 3);
  }
  const std::vector<std::wstring> playerTags = StudioTagsFor(texts.Language());
  const std::vector<std::wstring> englishTags = {L"en-us", L"en"};
  const size_t count = PlayerTextTable().size();
  std::vector<size_t> playerRank(count, kNoRank), englishRank(count, kNoRank);
  std::vector<std::wstring> playerText(count), englishText(count);
  std::wstring section;
  bool inSection = false;
  std::vector<std::wstring> sectionKeys;

  uint32_t lineNumber = 0;
  for (size_t start = 0; start < bytes.size() || lineNumber == 0;) {
    ++lineNumber;
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) {
      end = bytes.size();
    }
    std::string raw = bytes.substr(start, end - start);
    start = end + 1;
    if (!raw.empty() && raw.back() == '\r') {
      raw.pop_back();
    }
    std::wstring line;
    if (!ToWide(raw, line)) {
      return Refuse(path, lineNumber, L"it is not UTF-8 text");
    }
    for (wchar_t c : line) {
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        return Refuse(
            path, lineNumber,
            Formatted(L"the line holds the control character U+%04X", static_cast<unsigned>(c))
                .Chars());
      }
    }
    const std::wstring trimmed = Trimmed(line);
    if (trimmed.empty() || trimmed[0] == L'#') {
      continue;
    }
    if (trimmed.front() == L'[') {
      const std::wstring tag =
          trimmed.back() == L']' ? trimmed.substr(1, trimmed.size() - 2) : std::wstring();
      if (!IsLanguageTag(tag)) {
        return Refuse(path, lineNumber,
                      L"a section is [language tag], such as [de] or [pt-BR]: " + trimmed);
      }
      section = Lower(tag);
      inSection = true;
      sectionKeys.clear();
      continue;
    }
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) {
      return Refuse(path, lineNumber, L"the line is neither a [language tag] nor key=text");
    }
    if (!inSection) {
      return Refuse(path, lineNumber, L"the text stands before the first [language tag]");
    }
    const std::wstring key = Trimmed(line.substr(0, equals));
    const std::wstring text = line.substr(equals + 1);
    const PlayerTextInfo* info = FindPlayerText(key);
    if (info == nullptr) {
      return Refuse(path, lineNumber, L"no text of the player is called " + key);
    }
    if (std::find(sectionKeys.begin(), sectionKeys.end(), key) != sectionKeys.end()) {
      return Refuse(path, lineNumber, key + L" is given twice in [" + section + L"]");
    }
    sectionKeys.push_back(key);
    const std::wstring fault = TextFault(*info, key, text);
    if (!fault.empty()) {
      return Refuse(path, lineNumber, fault);
    }
    const size_t index = static_cast<size_t>(info->text);
    const size_t rank = RankOf(section, playerTags);
    if (rank < playerRank[index]) {
      playerRank[index] = rank;
      playerText[index] = text;
    }
    const size_t english = RankOf(section, englishTags);
    if (english < englishRank[index]) {
      englishRank[index] = english;
      englishText[index] = text;
    }
  }
  for (size_t i = 0; i < count; ++i) {
    const PlayerText text = PlayerTextTable()[i].text;
    if (playerRank[i] != kNoRank) {
      texts.SetStudioText(text, playerText[i].c_str(), false);
    }
    if (englishRank[i] != kNoRank) {
      texts.SetStudioText(text, englishText[i].c_str(), true);
    }
  }
  return S_OK;
}

}  // namespace quorvel
