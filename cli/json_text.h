// JSON string literals for arbitrary file-name bytes.
#pragma once

#include <string>
#include <string_view>

namespace clearnook::cli {

// Appends `bytes` as a quoted JSON string. Valid UTF-8 passes through; each byte that is not part
// of a valid UTF-8 sequence becomes \udcXX (XX its value), the escape Python's surrogateescape
// reads back to the same bytes, so no path is lost or altered.
void AppendJsonString(std::string& out, std::string_view bytes);

}  // namespace clearnook::cli
