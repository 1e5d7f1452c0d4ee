#include "cli/json_text.h"

#include <cstdio>

#include "cli/utf8.h"

namespace clearnook::cli {

void AppendJsonString(std::string& out, std::string_view bytes) {
    char esc[8];
    out.push_back('"');
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const std::size_t len = Utf8CharAt(bytes, i).length;
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
