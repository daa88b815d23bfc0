// A check that holds in every build, fuzzer or replay: a broken property aborts with a message,
// which libFuzzer reports as a finding and the replay test as a failure.
#ifndef RUXA_FUZZ_CHECK_H_
#define RUXA_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

#endif  // RUXA_FUZZ_CHECK_H_
