#include "driver/temporary_name.h"

namespace ruxa {

std::string TemporaryName(const std::string& target, std::string_view separators, bool short_form,
                          std::uint64_t& seed) {
  constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    suffix += kDigits[(seed >> 33) % 62];
  }
  const std::size_t slash = target.find_last_of(separators);
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + (short_form ? std::string("ruxa") : base) + "." + suffix;
}

}  // namespace ruxa
