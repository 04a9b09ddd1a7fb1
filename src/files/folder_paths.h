#pragma once

#include "files/file_path.h"
#include "foundation/shared_string.h"

namespace quorvel {

// The file name inside directory, as every step of a patch builds its paths.
FilePath PathIn(const SharedWString& directory, const SharedWString& name);
// The directory itself, in a form whose full path is the directory even for a drive root such
// as D:\ (which alone would stand for the drive's current directory).
FilePath FolderPath(const SharedWString& directory);

}  // namespace quorvel
