#include "patch/steps/file_step.h"

#include "files/folder_paths.h"
#include "foundation/path_strings.h"
#include "foundation/win32_result.h"
#include "patch/steps/held_folders.h"

namespace quorvel {

NamePlaces::NamePlaces(const SharedWString& name, const SharedWString& patch,
                       const SharedWString& application, const SharedWString& backup,
                       HeldFolders* held)
    : name_(name), held_(held) {
  const SharedWString* directories[kRunFolderCount] = {&patch, &application, &backup};
  for (size_t f = 0; f < kRunFolderCount; ++f) {
    places_[f].directory = *directories[f];
    places_[f].path = PathIn(*directories[f], name).Path();
    places_[f].full = places_[f].path.FullPath();
  }
}

NamePlaces::NamePlaces(const RunPlan& plan, const PlannedName& name, HeldFolders* held)
    : name_(name.name), held_(held) {
  for (FolderRole role : kRunFolderRoles) {
    Place& place = At(role);
    place.directory = plan.Folder(role).given;
    place.full = plan.PathOf(role, name);
    place.path = place.full;
  }
}

HRESULT CopyIntoPlace(FilePath& from, const FilePath& to, bool replace,
                      const SharedWString& suffix) {
  SharedWString partialPath = to.Path();
  partialPath.Append(suffix);
  FilePath partial(partialPath);
  if (FAILED(from.CopyTo(partial, true))) {
    // A copy that failed part-way (a full disk) leaves what it wrote; a name that was already
    // taken is not this copy's to delete.
    if (from.LastResult() != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) {
      DeleteFileW(LongPathForm(partial.FullPath()).Chars());
    }
    return from.LastResult();
  }
  const SharedWString full = LongPathForm(partial.FullPath());
  if (!MoveFileExW(full.Chars(), LongPathForm(to.FullPath()).Chars(),
                   replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    const HRESULT result = FailureResult(GetLastError());
    DeleteFileW(full.Chars());
    return result;
  }
  return S_OK;
}

namespace {

// Moves file, opened and checked inside its held folder, into the held folder that is to hold
// the file of name in the folder of role; false when it is not there or the move fails, the
// file then closed so that the move by path can take over and meet whatever stopped this one.
bool MoveByHandle(RelativeFile& file, HeldFolders* held, FolderRole role,
                  const SharedWString& name) {
  if (file.Get() == INVALID_HANDLE_VALUE) {
    return false;
  }
  HANDLE folder = held != nullptr ? held->FolderOf(role, name) : nullptr;
  SharedWString leaf(name);
  FileNamePart(leaf);
  const bool moved = folder != nullptr && SUCCEEDED(file.MoveInto(folder, leaf, false));
  file.Close();
  return moved;
}

// Moves from to to by the full paths already built when the move needs nothing prepared;
// otherwise as FilePath::MoveTo does, which finds what the direct move did not (a missing
// folder above to, a folder at to) and creates the folders above to. Never a copy.
bool MoveByFullPaths(FilePath& from, const SharedWString& fromFull, const FilePath& to,
                     const SharedWString& toFull) {
  return (!fromFull.IsEmpty() && !toFull.IsEmpty() &&
          MoveFileExW(LongPathForm(fromFull).Chars(), LongPathForm(toFull).Chars(), 0)) ||
         SUCCEEDED(from.MoveTo(to));
}

// Whether a folder stands at path: by its path a step would move or remove it, with all it
// holds, where only a file was meant.
bool FolderAt(FilePath& path) {
  bool present = false;
  return SUCCEEDED(path.Query(present)) && present && path.IsDirectory();
}

}  // namespace

HRESULT FileStep::Do(NamePlaces& places, const SharedWString& suffix, unsigned way) const {
  RelativeFile& file = places.File(from_);
  FilePath& from = places.Path(from_);
  HeldFolders* held = places.Held();
  // Under Wine the handle acts on the path it was opened by: a folder on the way swapped since
  // the file was checked (while its record was written) would send the step elsewhere.
  const auto swapped = [&](FolderRole role) {
    return file.Get() != INVALID_HANDLE_VALUE && held != nullptr &&
           !held->StillAtItsPath(role, places.Name());
  };
  if (Deletes()) {
    if (swapped(from_)) {
      file.Close();
      return E_INVALIDARG;
    }
    // A stale read-only backup would otherwise block every later patch of this file.
    if (file.Get() != INVALID_HANDLE_VALUE && SUCCEEDED(file.Delete())) {
      return S_OK;
    }
    file.Close();
    bool present = false;  // and the attributes to clear the flag from
    if (FAILED(from.Query(present))) {
      return from.LastResult();
    }
    if (present && from.IsDirectory()) {
      return E_INVALIDARG;
    }
    return FAILED(from.ClearReadOnly()) || FAILED(from.Delete()) ? from.LastResult() : S_OK;
  }
  FilePath& to = places.Path(to_);
  if ((way & kCopyOnly) == 0) {
    if (swapped(from_) || swapped(to_)) {
      file.Close();
      return E_INVALIDARG;
    }
    if (MoveByHandle(file, places.Held(), to_, places.Name())) {
      return S_OK;
    }
    if (FolderAt(from)) {
      return E_INVALIDARG;
    }
    if (MoveByFullPaths(from, places.Full(from_), to, places.Full(to_))) {
      return S_OK;
    }
  }
  file.Close();
  const HRESULT copied = CopyIntoPlace(from, to, (way & (kReplaceByCopy | kCopyOnly)) != 0, suffix);
  return FAILED(copied) ? copied : S_FALSE;
}

}  // namespace quorvel
