#pragma once

#include <list>

#include "foundation/heap.h"
#include "foundation/shared_string.h"

namespace quorvel {

// Names of files in list order. A list that cannot grow throws std::bad_alloc (see heap.h).
using NameList = std::list<SharedWString, ContainerAllocator<SharedWString>>;

}  // namespace quorvel
