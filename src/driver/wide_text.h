#ifndef RUXA_DRIVER_WIDE_TEXT_H_
#define RUXA_DRIVER_WIDE_TEXT_H_

// Windows speaks UTF-16 (its wide-character functions); the rest of the program passes names
// around as UTF-8. These conversions, and the splitting of a Windows command line, are plain
// functions over text, built on every platform so that the tests run them anywhere.
#include <string>
#include <string_view>
#include <vector>

namespace ruxa {

/// UTF-16 as UTF-8. A surrogate without its partner (Windows names may hold one) is encoded as
/// if it were a character, three bytes, so that `Utf16FromUtf8` gives it back unchanged.
std::string Utf8FromUtf16(std::u16string_view text);

/// UTF-8 as UTF-16; the inverse of `Utf8FromUtf16`. A byte that starts no valid sequence
/// becomes U+FFFD.
std::u16string Utf16FromUtf8(std::string_view text);

/// The arguments of a Windows command line after the program's name, split as the C runtime
/// splits them: blanks separate arguments outside double quotes; a double quote after 2n
/// backslashes gives n backslashes and opens or closes a quoted stretch, after 2n + 1 it gives n
/// backslashes and a double quote; "" inside a quoted stretch is one double quote; other
/// backslashes are themselves. The program's name ends at the first blank, or, when it starts
/// with a double quote, at the next one.
std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace ruxa

#endif  // RUXA_DRIVER_WIDE_TEXT_H_
