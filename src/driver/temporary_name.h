#ifndef RUXA_DRIVER_TEMPORARY_NAME_H_
#define RUXA_DRIVER_TEMPORARY_NAME_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace ruxa {

/// A fresh name for a temporary file beside `target` (whose folder ends at the last of
/// `separators`): hidden, ".<name>.XXXXXX" (or ".ruxa.XXXXXX" with `short_form`, for names too
/// long to extend), ending in six letters and digits so that it never fits a batch's name rule,
/// even if a killed run leaves it behind. `seed` is advanced for the next name.
std::string TemporaryName(const std::string& target, std::string_view separators, bool short_form,
                          std::uint64_t& seed);

}  // namespace ruxa

#endif  // RUXA_DRIVER_TEMPORARY_NAME_H_
