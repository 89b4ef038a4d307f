#include "platform/ThreadRules.h"

#include <cstdio>
#include <cstdlib>

namespace kavo {

void BreakThreadRule(const char* rule, const char* function)
{
    std::fprintf(stderr, "kavo: thread rule broken: %s, in %s\n", rule, function);
    std::fflush(stderr);
    std::abort();
}

} // namespace kavo
