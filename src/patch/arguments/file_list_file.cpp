#include "patch/arguments/file_list_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "files/input_file.h"
#include "foundation/char_buffer.h"
#include "foundation/failure_line.h"
#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

constexpr char kNoun[] = "file list";

HRESULT Refuse(const SharedWString& path, uint32_t line, const char* reason) {
  RunLog::Write("Refusing the file list <%ls>, line %u: %s\n", path.Chars(), line, reason);
  return E_INVALIDARG;
}

// Reads the whole file into bytes (size bytes, then a zero byte).
HRESULT ReadWhole(const SharedWString& path, CharBuffer& bytes, uint32_t& size) {
  ScopedFileHandle file;
  LARGE_INTEGER length = {};
  if (FAILED(OpenInputFile(path, kNoun, file, length))) {
    return E_INVALIDARG;
  }
  if (length.QuadPart > kFileListMaxBytes) {
    // The log's formats are the system runtime's, which may not know 64-bit numbers.
    char bytesText[24];
    snprintf(bytesText, sizeof(bytesText), "%llu",
             static_cast<unsigned long long>(length.QuadPart));
    RunLog::Write(
        "Refusing the file list <%ls>: it holds %s bytes, more than the %u a list may "
        "hold\n",
        path.Chars(), bytesText, kFileListMaxBytes);
    return E_INVALIDARG;
  }
  size = static_cast<uint32_t>(length.QuadPart);
  if (!bytes.Resize(size + 1, CharBuffer::SetSizeExactly)) {
    RunLog::Write("Could not get %u bytes of memory for the file list <%ls>\n", size + 1,
                  path.Chars());
    return E_INVALIDARG;
  }
  auto* data = static_cast<uint8_t*>(bytes.Data());
  uint32_t done = 0;
  while (done < size) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), data + done, size - done, &read, nullptr)) {
      return InputFileFailure("read", kNoun, path, GetLastError());
    }
    if (read == 0) {
      RunLog::Write("Refusing the file list <%ls>: it ended after %u of its %u bytes\n",
                    path.Chars(), done, size);
      return E_INVALIDARG;
    }
    done += read;
  }
  data[size] = 0;
  return S_OK;
}

void AppendCodePoint(std::wstring& line, uint32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    line += static_cast<wchar_t>(0xD800 + (c >> 10));
    line += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    line += static_cast<wchar_t>(c);
  }
}

// Strict UTF-8: no overlong forms, surrogates, values above U+10FFFF or zero bytes (which
// UTF-16 text without its mark would show).
bool DecodeUtf8(const uint8_t* p, const uint8_t* end, std::wstring& line) {
  while (p < end) {
    uint32_t c = *p++;
    if (c < 0x80) {
      if (c == 0) {
        return false;
      }
      line += static_cast<wchar_t>(c);
      continue;
    }
    int extra = 0;
    uint32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
      extra = 1, c &= 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, c &= 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, c &= 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (end - p < extra) {
      return false;
    }
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) {
        return false;
      }
      c = (c << 6) | (*p & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      return false;
    }
    AppendCodePoint(line, c);
  }
  return true;
}

// UTF-16 LE whose surrogates come in pairs.
bool DecodeUtf16(const uint8_t* p, const uint8_t* end, std::wstring& line) {
  if ((end - p) % 2 != 0) {
    return false;
  }
  for (; p < end; p += 2) {
    line += static_cast<wchar_t>(p[0] | (p[1] << 8));
  }
  for (size_t i = 0; i < line.size(); ++i) {
    const wchar_t c = line[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < line.size() && line[i + 1] >= 0xDC00 &&
        line[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// The end of the line that starts at p: its line feed, or end.
const uint8_t* LineEnd(const uint8_t* p, const uint8_t* end, bool wide) {
  if (!wide) {
    const void* feed = std::memchr(p, '\n', static_cast<size_t>(end - p));
    return feed != nullptr ? static_cast<const uint8_t*>(feed) : end;
  }
  for (; end - p >= 2; p += 2) {
    if (p[0] == '\n' && p[1] == 0) {
      return p;
    }
  }
  return end;
}

}  // namespace

HRESULT ReadFileList(const SharedWString& path, NameList& names) {
  CharBuffer bytes;
  uint32_t size = 0;
  const HRESULT read = ReadWhole(path, bytes, size);
  if (FAILED(read)) {
    return read;
  }
  const auto* p = static_cast<const uint8_t*>(bytes.Data());
  const uint8_t* const end = p + size;
  bool wide = false;
  if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    p += 3;
  } else if (size >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0) {
    return Refuse(path, 1,
                  "it begins with the byte-order mark of UTF-32 LE, not UTF-8 or UTF-16 LE");
  } else if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    wide = true;
    p += 2;
  } else if (size >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    return Refuse(path, 1,
                  "it begins with the byte-order mark of UTF-16 BE, not UTF-8 or UTF-16 LE");
  }
  if (p == end) {
    return Refuse(path, 1, "it holds no names");
  }
  const ptrdiff_t unit = wide ? 2 : 1;
  std::wstring line;
  char reason[96];
  snprintf(reason, sizeof(reason), "the name is longer than %u characters", kFileListMaxNameLength);
  for (uint32_t number = 1; p < end; ++number) {
    if (number > kFileListMaxNames) {
      snprintf(reason, sizeof(reason), "the list holds more than %u names", kFileListMaxNames);
      return Refuse(path, number, reason);
    }
    const uint8_t* const feed = LineEnd(p, end, wide);
    const uint8_t* last = feed;
    if (feed != end && last - p >= unit && last[-unit] == '\r' && (!wide || last[-1] == 0)) {
      last -= unit;
    }
    // Three bytes of UTF-8, or two of UTF-16, make at most one character of a name.
    if (last - p > (wide ? 2 : 3) * static_cast<ptrdiff_t>(kFileListMaxNameLength)) {
      return Refuse(path, number, reason);
    }
    line.clear();
    if (!(wide ? DecodeUtf16(p, last, line) : DecodeUtf8(p, last, line))) {
      return Refuse(path, number,
                    wide ? "it is not UTF-16 LE text"
                         : "it is not UTF-8 text (UTF-16 LE text begins with its byte-order mark)");
    }
    if (line.size() > kFileListMaxNameLength) {
      return Refuse(path, number, reason);
    }
    if (line.empty()) {
      return Refuse(path, number, "the line is empty");
    }
    for (const wchar_t c : line) {
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        char control[64];
        snprintf(control, sizeof(control), "the line holds the control character U+%04X",
                 static_cast<unsigned>(c));
        return Refuse(path, number, control);
      }
      // A second byte-order mark, as lists joined together bring: the name would look right in
      // any editor and reach no file.
      if (c == 0xFEFF) {
        return Refuse(path, number, "the line holds the byte-order mark U+FEFF");
      }
    }
    names.emplace_back(line.c_str());
    p = feed == end ? end : feed + unit;
  }
  return S_OK;
}

}  // namespace quorvel
