// A broken contract is a finding: REQUIRE says which line, and stops so that the fuzzer
// keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace Marlet::Fuzz {

inline void require(bool condition, const char* file, int line)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s:%d: contract broken\n", file, line);
    std::abort();
}

} // namespace Marlet::Fuzz

#define REQUIRE(condition) Marlet::Fuzz::require(condition, __FILE__, __LINE__)
