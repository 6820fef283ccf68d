// The few system calls the tests make themselves that differ between Linux and Windows: the tests' one place
// that asks which system they run on (the program's own is portable/system.h).
#pragma once

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <ctime>

// An anonymous pipe as a pair of C runtime descriptors.
inline int MakePipe(int fds[2])
{
    return _pipe(fds, 65536, _O_BINARY);
}
// A null value removes the variable (so does an empty one there).
inline void SetEnvironment(const char* name, const char* value)
{
    _putenv_s(name, value ? value : "");
}
// The C runtime reads TZ again.
inline void ReadTimeZone()
{
    _tzset();
}
#else
#include <unistd.h>

#include <cstdlib>
#include <ctime>

inline int MakePipe(int fds[2])
{
    return pipe(fds);
}
inline void SetEnvironment(const char* name, const char* value)
{
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}
inline void ReadTimeZone()
{
    tzset();
}
#endif
