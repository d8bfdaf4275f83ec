#pragma once
/// Text helpers shared by the stand-ins: UTF-8 inside, UTF-16 where the Windows
/// design fixes sizes in wide characters, and the case-insensitive comparison that
/// registry names and other Windows names use.

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::text {

/// Number of UTF-16 code units the UTF-8 text occupies (its Windows "character" count).
/// Invalid bytes count as one unit each (they become U+FFFD).
[[nodiscard]] std::size_t Utf16Length(std::string_view utf8);

/// UTF-8 to UTF-16. Invalid sequences become U+FFFD.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view utf8);

/// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view utf16);

/// REG_SZ image of a string: UTF-16LE code units followed by a zero terminator,
/// (n + 1) x 2 bytes for n units.
[[nodiscard]] std::vector<BYTE> ToWideBytes(std::string_view utf8);

/// Reads a wide string image: stops at the first zero unit or at the end of the data;
/// an odd trailing byte is ignored.
[[nodiscard]] std::string FromWideBytes(const BYTE* data, std::size_t size);

/// Case folding for names compared case-insensitively (full Unicode simple upper-case
/// mapping, independent of the process locale). Equal folds mean equal names.
[[nodiscard]] std::string FoldCase(std::string_view utf8);

/// Case-insensitive equality by FoldCase.
[[nodiscard]] bool EqualsNoCase(std::string_view a, std::string_view b);

/// Case-insensitive ordering by FoldCase (what sorts registry sub-keys).
[[nodiscard]] int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace halvard::text
