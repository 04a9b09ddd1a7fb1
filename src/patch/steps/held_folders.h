#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "files/folder_identity.h"
#include "files/relative_file.h"
#include "foundation/name_key.h"
#include "foundation/scoped_handle.h"
#include "foundation/shared_string.h"
#include "patch/checks/run_plan.h"

namespace quorvel {

// Holds each existing folder of a run, and each existing folder on the way from it to a listed
// name, open without delete sharing while it lives: on Windows none of them can then be renamed,
// removed or swapped for a link by another program between the checks and the moves. Nothing
// fails when a folder cannot be held: the checks before each retry still see a swap.
class HeldFolders {
 public:
  static constexpr size_t kMostHeldFolders = 1000;

  // plan: the run's folders, held from the checks on (their handles are lent, not opened again),
  // with the final paths they had when the run was checked, and its names.
  explicit HeldFolders(const RunPlan& plan);
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;

  // Whether a folder, since the last call, was not where the checks found it when it was held:
  // swapped between the checks, or its making, and the hold. The names must then be checked
  // again before the next move.
  bool TakeStrayed() {
    const bool strayed = strayed_;
    strayed_ = false;
    return strayed;
  }
  // Whether OpenChecked, since the last call, refused a file that leads out of its folder.
  bool Refused() const { return refused_; }
  bool TakeRefused() {
    const bool refused = refused_;
    refused_ = false;
    return refused;
  }

  size_t Count() const { return handles_.size(); }

  // Whether a pause can have changed no folder on the ways: each existing folder on them is
  // held, and the path of each held folder still leads to it (a program outside Windows' rules,
  // such as one on the Linux side of Wine, can move a held folder). A file swapped for a link is
  // found at its move, and a folder made since on its way when a file moves through it. False
  // when the ways must be checked again by their listings.
  bool WaysUnchanged() const;

  // Lets go of the folder at fullPath (as FilePath::FullPath gives it), so that the run itself
  // can remove it once its files have left.
  void Release(const SharedWString& fullPath);
  // Holds again a folder that Release let go of and the run could not remove: files that are
  // not the run's keep it, and later steps may still pass through it.
  void HoldAgain(const SharedWString& fullPath);
  // Lets go of every folder: the files have stopped moving.
  void ReleaseAll() { handles_.clear(), passing_.clear(), previous_.clear(); }

  // Holds the folders on the way from the run's folder of role to name that the run has made
  // since it began, each once it is there.
  void HoldMadeWay(FolderRole role, const SharedWString& name);

  // The run's folder of role, as given.
  const SharedWString& Given(FolderRole role) const { return plan_.Folder(role).given; }

  // Just before a file moves through the folders on the way from the run's folder of role to
  // name: makes those missing, then checks and holds each that is not
  // held, past the cap too until ReleasePassing. E_INVALIDARG, with TakeStrayed() true, when one
  // is not where the checks found it: no file may move through it.
  HRESULT UseWay(FolderRole role, const SharedWString& name);
  // Lets go of the folders held past the cap for the moves that are done, keeping them, still
  // held, for the next file's moves only: files of one folder follow each other in a list. Called
  // as each file begins: a held handle is made sure of once for each file that uses it.
  void ReleasePassing() { previous_ = std::move(passing_), passing_.clear(), ++turn_; }

  // Opens the file of name in the run's folder of role inside the held folder that holds it, and
  // checks it on that handle: its own name must be the folder's followed by its leaf (a link to a
  // file shows its target's name), and with countNames it may have no other name (a hard link,
  // which clearing or deleting it would reach). Returns S_OK with file open; E_INVALIDARG when the
  // file is refused (a folder stands at its place, or it leads out), after logging why
  // (TakeRefused() true), or a folder on its way strayed
  // (TakeStrayed() true). Unless exists (the file is known to be there), a folder not held yet is
  // neither made nor held (S_FALSE) and the open's error is returned as it is (a file not found).
  // With exists, S_FALSE when the file passed its checks on a handle opened by its path, or could
  // not be opened at all: the caller acts on its path, which meets the same fault.
  HRESULT OpenChecked(FolderRole role, const SharedWString& name, bool countNames, bool exists,
                      RelativeFile& file);
  // The held folder that holds the file of name in the run's folder of role, held by UseWay at
  // the latest; null when it is not held.
  HANDLE FolderOf(FolderRole role, const SharedWString& name) {
    return Find(WayOf(role, name).parentKey);
  }

  // Removes the folder at fullPath (as FilePath::FullPath gives it), emptied by the run, once let
  // go of: through a handle of its own opened inside its held parent, else by its path. False
  // when it stays (not empty, in use), held again.
  bool RemoveEmptied(const SharedWString& fullPath);

  // Under Wine, where a rename or delete through a handle acts on the path the handle was opened
  // by: whether the held folder that holds the file of name in the folder of role is still the
  // folder at its path, asked just before a step acts through it (a program outside Windows'
  // rules may have swapped it for a link since the file was checked). True where it is not held
  // or the system binds handles to files, or nothing is at its path (removed); false, with
  // TakeStrayed() true, when another folder or a link stands there.
  bool StillAtItsPath(FolderRole role, const SharedWString& name);
  // Removes each folder the run made below its folders that is empty now, deepest first: a
  // revert leaves none of them. Those that stay are tried again by the next call.
  void RemoveMade();

  // Whether the folder at relative below the run's folder of role existed when the run began: a
  // revert leaves such a folder, empty or not, as it found it.
  bool Existed(FolderRole role, const SharedWString& relative) const;

 private:
  // Holds the folder at relative below the run's folder of role (empty: that folder itself, whose
  // handle the plan lends when it holds one), below the cap, or with passing past it too; false
  // when it is not there, cannot be opened or is not where the checks found it.
  bool Hold(FolderRole role, const SharedWString& relative, bool passing = false);
  // Makes the folder at relative below the run's folder of role (its key, as handles_ keys it)
  // inside its held parent (keyed parent), held from the moment it is there, past the cap too;
  // false when the parent is not held or the folder cannot be made there (it exists already).
  bool MakeHeld(FolderRole role, const SharedWString& relative, const NameKey& parent,
                const NameKey& key);

  // The full path of the folder that holds name in the run's folder of role, and its key
  // (NameKey), built once for the name that a file's steps ask about again and again.
  struct Way {
    SharedWString name;
    SharedWString folder;
    NameKey parentKey;
  };
  const Way& WayOf(FolderRole role, const SharedWString& name);

  struct Handle;
  // The held handle (held or passing) of the folder with that key. Null when it is not held, or
  // (made sure of once for each file, unless only its being held is asked) its handle is no
  // longer that folder's.
  Handle* FindHeld(const NameKey& key, bool makeSure = true);
  HANDLE Find(const NameKey& key);

  // A held folder's handle, its own name on its volume, against which the names of the files
  // opened inside it are checked, and its index, by which the handle is known to be still its
  // own before a file is opened or moved through it (a handle that other code of the process
  // closed by mistake may since stand for another folder).
  struct Handle {
    Handle() = default;
    Handle(ScopedFileHandle held, const SharedWString& name, uint64_t number, bool lent)
        : handle(std::move(held)), volumeName(name), index(number), borrowed(lent) {}
    Handle(Handle&& other) noexcept { *this = std::move(other); }
    Handle& operator=(Handle&& other) noexcept {
      Forget();
      handle = std::move(other.handle), volumeName = other.volumeName, index = other.index;
      borrowed = other.borrowed, sureFor = other.sureFor;
      return *this;
    }
    ~Handle() { Forget(); }
    // Lets go of a lent value, which its owner closes, and of one that no longer stands for this
    // folder, without closing it: it is another's now.
    void Forget() {
      if (handle.IsValid() && (borrowed || IndexOfHandle(handle.Get()) != index)) {
        handle.Release();
      }
    }

    ScopedFileHandle handle;
    SharedWString volumeName;
    uint64_t index = 0;
    bool borrowed = false;  // the plan's, which closes it
    uint64_t sureFor = 0;   // the file (turn_) for which its index was last made sure of
  };

  // Where a held folder lies: the run's folder and the path below it.
  struct Place {
    FolderRole folder;
    SharedWString relative;
    uint64_t index;  // the folder's number when it was held: a folder at its name since is not it
  };

  const RunPlan& plan_;
  // By the key (NameKey) of each held folder's full path.
  std::unordered_map<NameKey, Handle, NameKey::Hash> handles_;
  // Every folder held so far, by the same key, so that it can be held again once let go.
  std::unordered_map<NameKey, Place, NameKey::Hash> places_;
  // Each folder opened and checked so far, held or not, by the role of its run folder and the
  // key (NameKey) of its relative path: checked once, whoever asks again.
  std::unordered_set<NameKey, NameKey::Hash> checked_[kRunFolderCount];
  // The folders on the ways that existed when the run began, keyed like checked_.
  std::unordered_set<NameKey, NameKey::Hash> existed_[kRunFolderCount];
  // Folders held past the cap for one file's moves, by the same key as handles_.
  std::unordered_map<NameKey, Handle, NameKey::Hash> passing_;
  // Those held past the cap for the last file, until ReleasePassing: held all along, so the next
  // file passes through them without checking them again.
  std::unordered_map<NameKey, Handle, NameKey::Hash> previous_;
  // The keys of the folders the run made below its folders, in the order made.
  std::vector<NameKey> made_;
  Way ways_[kRunFolderCount];
  uint64_t turn_ = 1;  // counts the files whose steps began
  bool strayed_ = false;
  bool refused_ = false;
  bool unheld_ = false;  // an existing folder on the ways is not held (past the cap, no access)
  size_t strays_ = 0;    // folders found strayed so far
};

}  // namespace quorvel
