#include "cli/utf8.h"

namespace clearnook::cli {

Utf8Char Utf8CharAt(std::string_view text, std::size_t at) {
    const auto b0 = static_cast<unsigned char>(text[at]);
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    char32_t cp = 0;
    if (b0 < 0x80) {
        return {1, b0};
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) {
            lo = 0xA0;  // no overlong forms
        }
        if (b0 == 0xED) {
            hi = 0x9F;  // no surrogates
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) {
            lo = 0x90;
        }
        if (b0 == 0xF4) {
            hi = 0x8F;  // nothing past U+10FFFF
        }
    } else {
        return {};
    }
    if (at + len > text.size()) {
        return {};
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[at + k]);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) {
            return {};
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    return {len, cp};
}

}  // namespace clearnook::cli
