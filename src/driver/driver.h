#ifndef RUXA_DRIVER_DRIVER_H_
#define RUXA_DRIVER_DRIVER_H_

#include "driver/converter_profile.h"

namespace ruxa {

/// Exit statuses of both programs.
inline constexpr int kExitOk = 0;        ///< everything asked was done
inline constexpr int kExitFailure = 1;   ///< the run stopped on a failure
inline constexpr int kExitRejected = 2;  ///< the run finished, but some input was not recognised

/// Runs a whole program: with exactly two arguments converts argv[1] into argv[2]; otherwise
/// converts every matching regular file of the current directory. Prints the console lines on
/// standard output and returns the exit status.
int RunDriver(const ConverterProfile& profile, int argc, char** argv);

}  // namespace ruxa

#endif  // RUXA_DRIVER_DRIVER_H_
