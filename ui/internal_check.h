// Failed internal checks: one diagnostic line on standard error naming the source file and line, after
// which the caller goes on along its failure path.
#pragma once

#include <cstdio>
#include <cstring>

inline void ReportFailedCheck(const char* file, int line, const char* what)
{
    const char* base = std::strrchr(file, '/');
    std::fprintf(stderr, "doorphoneconfig: failed internal check in %s, line %d: %s\n", base ? base + 1 : file, line,
                 what);
}

#define DPC_FAILED_CHECK(what) ReportFailedCheck(__FILE__, __LINE__, what)
