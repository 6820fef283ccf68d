// An open file as the system hands it out: a HANDLE on Windows, a descriptor on Linux.
#pragma once

namespace portable {
#ifdef _WIN32
using NativeFile = void*;
#else
using NativeFile = int;
#endif
}  // namespace portable
