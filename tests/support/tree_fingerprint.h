#pragma once

#include <string>

namespace quorvel::test {

// Every folder and file below root with each file's bytes, in a stable order: two trees with
// the same fingerprint hold the same names and the same contents. A file named skip is left out
// wherever it is.
std::string TreeFingerprint(const std::wstring& root, const std::wstring& skip = L"");

}  // namespace quorvel::test
