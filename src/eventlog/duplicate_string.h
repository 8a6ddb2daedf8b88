#pragma once

#include "platform.h"

// A heap copy of s with its terminator, or none for no input or a failed allocation. The copy
// belongs to the caller (release it with free).
WCHAR* duplicateString(const WCHAR* s);
