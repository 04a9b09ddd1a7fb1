#include "foundation/critical_section.h"

namespace quorvel {

CriticalSection::CriticalSection() { InitializeCriticalSection(&section_); }

CriticalSection::~CriticalSection() { DeleteCriticalSection(&section_); }

void CriticalSection::Enter() { EnterCriticalSection(&section_); }

void CriticalSection::Leave() { LeaveCriticalSection(&section_); }

}  // namespace quorvel
