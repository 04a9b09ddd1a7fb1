#include "patch/checks/names_inside.h"

#include <algorithm>
#include <cwchar>
#include <map>
#include <utility>

#include "files/file_path.h"
#include "files/folder_paths.h"
#include "files/real_path.h"
#include "files/relative_name.h"
#include "foundation/final_path.h"
#include "foundation/format.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "foundation/win32_result.h"

namespace quorvel {
namespace {

bool SameText(const SharedWString& a, const SharedWString& b) { return CompareNames(a, b) == 0; }

// Owns a directory search handle.
class ScopedFind {
 public:
  explicit ScopedFind(HANDLE handle) : handle_(handle) {}
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;
  ~ScopedFind() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      FindClose(handle_);
    }
  }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A name in a listed folder: its attributes, its reparse tag when it is a reparse point, what
// the journal records of a file, its long name, and a second long name that differs from it only
// in case (a case-sensitive folder, such as one made on the Linux side of Wine, holds both).
struct Entry {
  DWORD attributes;
  DWORD tag;
  FileIdentity identity;
  SharedWString name;
  SharedWString twin;
};

// What the check knows of one folder on the way below a run folder.
struct Listing {
  bool exists = false;
  const char* fault = nullptr;                       // why no way may pass through this folder
  SharedWString at;                                  // the path the fault names
  std::map<SharedWString, Entry, NameLess> entries;  // by long and by short name
};

}  // namespace

// The ways from one run folder to the names, each folder on them resolved and listed once.
class FolderWalk {
 public:
  FolderWalk(const PlanFolder& folder, const SharedWString& real, bool filesAtMoves)
      : folder_(folder),
        real_(real),
        namesCounted_(folder.role == FolderRole::kBackup),
        filesAtMoves_(filesAtMoves) {}

  const PlanFolder& Folder() const { return folder_; }

  // Null when the way to the name (backslashes only) stays inside; otherwise why not, with the
  // path at fault in at. found tells what the listings show at the name's path, there how many
  // folders on its way stand, from the top.
  const char* Check(const SharedWString& key, SharedWString& at, CheckedFile& found,
                    uint32_t& there) {
    found = CheckedFile();
    there = 0;
    SharedWString prefix;
    uint32_t begin = 0;
    while (begin <= key.Length()) {
      uint32_t end = begin;
      while (end < key.Length() && key.Chars()[end] != L'\\') {
        ++end;
      }
      const Listing& listing = ListingOf(prefix);
      if (listing.fault != nullptr) {
        at = listing.at;
        return listing.fault;
      }
      if (!listing.exists || end == begin) {
        found.known = end != begin;  // a folder on the way is missing, and so is the file
        return nullptr;
      }
      const SharedWString component = key.Mid(begin, end - 1);
      const auto entry = listing.entries.find(component);
      if (entry == listing.entries.end()) {
        found.known = true;
        return nullptr;
      }
      SharedWString path(prefix);
      JoinPath(path, component);
      NormalizePath(path);
      // Windows would reach either of the two, whichever the system picks: the run could back
      // up one and replace the other.
      if (!entry->second.twin.IsEmpty()) {
        const SharedWString folder = FullPathOf(prefix);
        at = Formatted(L"%ls\\%ls> and <%ls\\%ls", folder.Chars(), entry->second.name.Chars(),
                       folder.Chars(), entry->second.twin.Chars());
        return "matches two names that differ only in case,";
      }
      const bool last = end >= key.Length();
      const DWORD attributes = entry->second.attributes;
      // Symbolic links, junctions and mount points name another file or folder. Other reparse
      // points (compressed, deduplicated or cloud files) stay where they are, as their final
      // paths tell.
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
          IsReparseTagNameSurrogate(entry->second.tag)) {
        at = FullPathOf(path);
        return "passes through the link";
      }
      if (last) {
        found.known = true;
        found.identity = entry->second.identity;
      }
      if (last && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // A link to a file shows the linked file's attributes on some file systems; its final
        // path still tells, or its handle's name where the move opens it.
        return filesAtMoves_ ? nullptr : LeadsElsewhere(path, namesCounted_, at);
      }
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return nullptr;
      }
      prefix = path;
      begin = end + 1;
      there += last ? 0 : 1;
    }
    return nullptr;
  }

 private:
  SharedWString FullPathOf(const SharedWString& relative) const {
    return relative.IsEmpty() ? folder_.full : PathIn(folder_.given, relative).FullPath();
  }

  // Null when the existing file or folder at relative has the final path the run folder and
  // the relative path give it (or no longer exists), and, when names count, no other name.
  const char* LeadsElsewhere(const SharedWString& relative, bool countNames,
                             SharedWString& at) const {
    at = FullPathOf(relative);
    ScopedFileHandle handle(CreateFileW(LongPathForm(at).Chars(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    SharedWString final;
    DWORD error = handle.IsValid() ? ERROR_SUCCESS : GetLastError();
    if (!handle.IsValid() || !FinalPathOfHandle(handle.Get(), final, error)) {
      return IsNotFound(HRESULT_FROM_WIN32(error)) ? nullptr : "cannot be checked at";
    }
    SharedWString expected(real_);
    JoinPath(expected, relative);
    NormalizePath(expected);
    if (!SameText(final, expected)) {
      at = final;
      return "leads out to";
    }
    // The standard information holds the count of names; GetFileInformationByHandle would also
    // ask the volume for its serial number, which costs more than the rest of the check.
    FILE_STANDARD_INFO information;
    if (countNames && (!GetFileInformationByHandleEx(handle.Get(), FileStandardInfo, &information,
                                                     sizeof(information)) ||
                       information.NumberOfLinks > 1)) {
      return "reaches a file with other names (hard links) at";
    }
    return nullptr;
  }

  const Listing& ListingOf(const SharedWString& relative) {
    const auto known = listings_.find(relative);
    if (known != listings_.end()) {
      return known->second;
    }
    Listing& listing = listings_[relative];
    if (!relative.IsEmpty()) {
      listing.fault = LeadsElsewhere(relative, false, listing.at);
      if (listing.fault != nullptr) {
        return listing;
      }
    }
    SharedWString pattern = FullPathOf(relative);
    pattern.Append(L"\\*", 2);
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileExW(LongPathForm(pattern).Chars(), FindExInfoStandard, &data,
                                     FindExSearchNameMatch, nullptr, 0));
    if (find.Get() == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (!IsNotFound(HRESULT_FROM_WIN32(error))) {
        listing.fault = "cannot be checked at";
        listing.at = FullPathOf(relative);
      }
      return listing;
    }
    listing.exists = true;
    do {
      if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) {
        const SharedWString name(data.cFileName);
        const Entry entry{data.dwFileAttributes, data.dwReserved0,
                          IdentityFrom(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                                       data.ftLastWriteTime),
                          name, SharedWString()};
        const auto known = listing.entries.emplace(name, entry);
        if (!known.second) {
          known.first->second.twin = name;
        }
        if (data.cAlternateFileName[0] != L'\0') {
          listing.entries.emplace(SharedWString(data.cAlternateFileName), entry);
        }
      }
    } while (FindNextFileW(find.Get(), &data));
    return listing;
  }

  const PlanFolder& folder_;
  const SharedWString real_;
  // Whether a file's other names (hard links) count: the run deletes old backups and clears their
  // read-only flag, which a file with other names would feel elsewhere. Elsewhere the run only
  // moves a file, which changes no other name of it.
  const bool namesCounted_;
  const bool filesAtMoves_;  // the files themselves are checked on their handles as they move
  std::map<SharedWString, Listing, NameLess> listings_;
};

NameWays::NameWays(const RunPlan& plan, bool filesAtMoves)
    : plan_(plan), filesAtMoves_(filesAtMoves) {}

NameWays::~NameWays() = default;

bool NameWays::Begin(const SharedWString& name, bool again, bool quiet) {
  walks_.clear();
  walks_.reserve(kRunFolderCount);
  for (FolderRole role : kRunFolderRoles) {
    const PlanFolder& folder = plan_.Folder(role);
    const SharedWString real = again ? ResolvedPath(folder.full) : folder.real;
    // A final path that only names the folder through another drive letter (one mapped since)
    // is still the held folder's.
    const bool moved = !folder.real.IsEmpty() && !SameText(real, folder.real) &&
                       !HoldsFolderAt(folder, folder.full);
    if (real.IsEmpty() || moved) {
      if (!quiet) {
        RunLog::Write("Refusing to patch \"%ls\": the %s folder <%ls> is now <%ls>\n", name.Chars(),
                      folder.what, folder.given.Chars(), real.Chars());
      }
      walks_.clear();
      return false;
    }
    walks_.push_back(std::make_unique<FolderWalk>(folder, real, filesAtMoves_));
  }
  return true;
}

bool NameWays::Check(const SharedWString& name, bool quiet, PlannedName* planned) {
  const char* fault = RelativeNameFault(name);
  if (fault != nullptr) {
    if (!quiet) {
      RunLog::Write("Refusing to patch \"%ls\": %s\n", name.Chars(), fault);
    }
    return false;
  }
  SharedWString key(name);
  ToBackslashes(key);
  bool inside = true;
  for (size_t f = 0; f < walks_.size(); ++f) {
    FolderWalk& walk = *walks_[f];
    SharedWString at;
    CheckedFile file;
    uint32_t there = 0;
    fault = walk.Check(key, at, file, there);
    if (planned != nullptr) {
      planned->found[f] = file;
      planned->foldersThere[f] = there;
    }
    if (fault != nullptr) {
      if (!quiet) {
        RunLog::Write("Refusing to patch \"%ls\": its way from the %s folder <%ls> %s <%ls>\n",
                      name.Chars(), walk.Folder().what, walk.Folder().given.Chars(), fault,
                      at.Chars());
        return false;
      }
      inside = false;  // quiet: what the other folders show is still wanted
    }
  }
  return inside;
}

HRESULT CheckNamesStayInside(NameWays& ways, RunPlan& plan, SharedWString& faultName) {
  for (PlannedName& planned : plan.Names()) {
    if (!ways.Check(planned.name, false, &planned)) {
      faultName = planned.name;
      return E_INVALIDARG;
    }
  }
  return S_OK;
}

HRESULT RecheckRunNames(PatchRun& run, const RunPlan& plan, SharedWString& faultName,
                        bool& dropped) {
  dropped = false;
  std::vector<SharedWString> names(run.appliedFiles.begin(), run.appliedFiles.end());
  names.insert(names.end(), run.files.begin(), run.files.end());
  if (names.empty()) {
    return S_OK;
  }
  {
    NameWays ways(plan, true);
    if (ways.Begin(names.front(), true)) {
      const auto fault = std::find_if(names.begin(), names.end(), [&](const SharedWString& name) {
        return !ways.Check(name, false);
      });
      if (fault == names.end()) {
        return S_OK;
      }
      faultName = *fault;
    } else {
      faultName = names.front();
    }
  }
  NameWays again(plan, true);
  const bool located = again.Begin(faultName, true, true);  // its fault is logged already
  for (auto applied = run.appliedFiles.begin(); applied != run.appliedFiles.end();) {
    // The name at fault has been logged already.
    if (!located || !again.Check(*applied, SameText(*applied, faultName))) {
      applied = run.appliedFiles.erase(applied);
      dropped = true;
    } else {
      ++applied;
    }
  }
  return E_INVALIDARG;
}

}  // namespace quorvel
