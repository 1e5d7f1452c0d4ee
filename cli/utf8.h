// UTF-8 read strictly, for names from the disk that may be any bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace clearnook::cli {

// One character of UTF-8 text.
struct Utf8Char {
    std::size_t length = 0;  // its bytes; 0 when none starts there
    char32_t codePoint = 0;
};

// The character whose valid UTF-8 sequence starts at `text[at]`: length 0 when the byte there
// starts none (a continuation byte, an overlong form, a surrogate, a code point past U+10FFFF, a
// sequence cut short).
[[nodiscard]] Utf8Char Utf8CharAt(std::string_view text, std::size_t at);

}  // namespace clearnook::cli
