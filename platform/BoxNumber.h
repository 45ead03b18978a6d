// The number typed into an edit box, read the one way every dialog reads it (where Windows has
// GetDlgItemInt with a sign).
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// The boxes take digits only, but text can still arrive by pasting or from a file. The rule:
// blanks around the number are ignored and one leading '+' or '-' is allowed;
// - an empty box (or blanks only, or a sign alone) reads as 0;
// - any other text that is not wholly a decimal number ("12abc", "6O", "1 2") reads as 0;
// - a number beyond the signed 32-bit range reads as the nearest end of that range, so a huge
//   value counts as too large for every range check rather than as nothing.
int32_t BoxNumber(std::string_view text);

}  // namespace platform
