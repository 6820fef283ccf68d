// An anonymous pipe as a pair of C runtime descriptors, on Linux and on Windows.
#pragma once

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

inline int MakePipe(int fds[2]) { return _pipe(fds, 65536, _O_BINARY); }
#else
#include <unistd.h>

inline int MakePipe(int fds[2]) { return pipe(fds); }
#endif
