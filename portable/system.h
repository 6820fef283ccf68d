// What differs between Linux and Windows in a type or a fact rather than in code: the one place the program
// asks the preprocessor which system it is built for. Code that calls a system's own functions lives in
// file pairs, NAME_posix.cpp and NAME_windows.cpp, which CMake chooses between; code that differs only in a
// value asks kWindows.
#pragma once

namespace portable {
#ifdef _WIN32
inline constexpr bool kWindows = true;
using NativeFile = void*;  // an open file: a HANDLE
using WaitHandle = void*;  // something to wait on: a HANDLE that becomes signalled
inline const WaitHandle kNoWaitHandle = nullptr;
#else
inline constexpr bool kWindows = false;
using NativeFile = int;  // an open file: a descriptor
using WaitHandle = int;  // something to wait on: a descriptor that becomes readable
inline constexpr WaitHandle kNoWaitHandle = -1;
#endif
}  // namespace portable
