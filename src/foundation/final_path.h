#pragma once

#include <windows.h>

#include "foundation/shared_string.h"

namespace quorvel {

// The final path of the file or folder that handle has open (links resolved by the system), as
// a DOS path without the \\?\ prefix and without a trailing backslash; false with error set when
// the system cannot name it.
bool FinalPathOfHandle(HANDLE handle, SharedWString& final, DWORD& error);

// The name of the file or folder open at handle as the system names the object: its volume
// followed by its path from the volume's root (\Device\HarddiskVolume2\Games\Demo\a.txt on
// Windows, \??\C:\Games\Demo\a.txt under Wine), links resolved; false when it cannot be read.
// Names of one volume compare as their paths do. Unlike the final path it works at any length
// and makes no query of the volume's drive letter.
bool VolumeNameOf(HANDLE handle, SharedWString& name);

}  // namespace quorvel
