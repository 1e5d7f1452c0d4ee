#include "cli/json_text.h"

#include <cstdio>

namespace clearnook::cli {
namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte there starts none.
std::size_t ValidSequenceAt(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 < 0x80) {
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0;  // no overlong forms
        if (b0 == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) {
            return 0;
        }
    }
    return len;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view bytes) {
    char esc[8];
    out.push_back('"');
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const std::size_t len = ValidSequenceAt(bytes, i);
        if (len == 0) {
            std::snprintf(esc, sizeof esc, "\\udc%02x", b);
            out.append(esc);
            ++i;
            continue;
        }
        if (len > 1) {
            out.append(bytes.substr(i, len));
        } else if (b == '"' || b == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(b));
        } else if (b == '\n') {
            out.append("\\n");
        } else if (b == '\t') {
            out.append("\\t");
        } else if (b < 0x20 || b == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\u%04x", b);
            out.append(esc);
        } else {
            out.push_back(static_cast<char>(b));
        }
        i += len;
    }
    out.push_back('"');
}

}  // namespace clearnook::cli
