#ifndef RUXA_DRIVER_DRIVER_H_
#define RUXA_DRIVER_DRIVER_H_

#include <string>
#include <vector>

#include "driver/converter_profile.h"

namespace ruxa {

/// Exit statuses of both programs.
inline constexpr int kExitOk = 0;        ///< everything asked was done
inline constexpr int kExitFailure = 1;   ///< the run stopped on a failure
inline constexpr int kExitRejected = 2;  ///< the run finished, but some input was not recognised

/// Runs a whole program on its arguments (those after the program's name): with exactly two
/// converts the first into the second; otherwise converts every matching regular file of the
/// current directory. Prints the console lines on standard output and returns the exit status.
int RunDriver(const ConverterProfile& profile, const std::vector<std::string>& args);
/// The same with the arguments as `main` gets them (read again from the wide command line on
/// Windows, where `argv` cannot hold every name).
int RunDriver(const ConverterProfile& profile, int argc, char** argv);

}  // namespace ruxa

#endif  // RUXA_DRIVER_DRIVER_H_
