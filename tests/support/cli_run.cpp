#include "tests/support/cli_run.h"

#include <string_view>
#include <utility>

namespace clearnook::testing {
namespace {

// Reads the JSON of clearnook-cli --json, field by field in the order the program writes them.
class CliJsonReader {
  public:
    explicit CliJsonReader(const std::string& text) : m_s(text) {}

    bool Read(CliJson& json) {
        std::vector<CliJsonCategory>& categories = json.categories;
        if (!Expect("{") || !Key("root") || !String(json.root) || !Expect(",") || !Key("rules") ||
            !String(json.rules) || !Expect(",") || !Key("unreadable") || !Number(json.unreadable) ||
            !Expect(",") || !Key("categories") || !Expect("[")) {
            return false;
        }
        for (;;) {
            CliJsonCategory c;
            std::uint64_t index = 0;
            if (!Expect("{") || !Key("index") || !Number(index) || !Expect(",") || !Key("key") ||
                !String(c.key) || !Expect(",") || !Key("name") || !String(c.name) || !Expect(",") ||
                !Key("bytes") || !Number(c.bytes) || !Expect(",") || !Key("size") ||
                !String(c.size) || !Expect(",") || !Key("count") || !Number(c.count)) {
                return false;
            }
            if (index != categories.size()) {
                return false;
            }
            // The list of files is there with --list only.
            c.listed = Expect(",");
            if (c.listed && (!Key("files") || !Expect("[") || !Files(c.files) || !Expect("]"))) {
                return false;
            }
            if (!Expect("}")) {
                return false;
            }
            categories.push_back(std::move(c));
            Skip();
            if (Peek() != ',') {
                break;
            }
            ++m_at;
        }
        return Expect("]") && Expect("}");
    }

  private:
    // Zero or more strings separated by commas.
    bool Files(std::vector<std::string>& files) {
        Skip();
        if (Peek() == ']') {
            return true;
        }
        for (;;) {
            std::string f;
            if (!String(f)) {
                return false;
            }
            files.push_back(std::move(f));
            if (!Expect(",")) {
                return true;
            }
        }
    }

    void Skip() {
        while (m_at < m_s.size() && (m_s[m_at] == ' ' || m_s[m_at] == '\n')) {
            ++m_at;
        }
    }
    char Peek() const { return m_at < m_s.size() ? m_s[m_at] : '\0'; }
    bool Expect(std::string_view token) {
        Skip();
        if (m_s.compare(m_at, token.size(), token) != 0) {
            return false;
        }
        m_at += token.size();
        return true;
    }
    bool Key(std::string_view name) {
        std::string k;
        return String(k) && k == name && Expect(":");
    }
    bool Number(std::uint64_t& v) {
        Skip();
        const std::size_t start = m_at;
        v = 0;
        while (m_at < m_s.size() && m_s[m_at] >= '0' && m_s[m_at] <= '9') {
            v = v * 10 + static_cast<std::uint64_t>(m_s[m_at++] - '0');
        }
        return m_at > start;
    }
    bool String(std::string& out) {
        Skip();
        if (Peek() != '"') {
            return false;
        }
        ++m_at;
        out.clear();
        while (m_at < m_s.size() && m_s[m_at] != '"') {
            const char c = m_s[m_at++];
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (m_at >= m_s.size()) {
                return false;
            }
            const char e = m_s[m_at++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    if (m_at + 4 > m_s.size()) {
                        return false;
                    }
                    const unsigned long u = std::stoul(m_s.substr(m_at, 4), nullptr, 16);
                    m_at += 4;
                    if (u >= 0xDC80 && u <= 0xDCFF) {
                        out.push_back(static_cast<char>(u - 0xDC00));
                    } else if (u < 0x80) {
                        out.push_back(static_cast<char>(u));
                    } else {
                        return false;  // the program writes other characters as they are
                    }
                    break;
                }
                default:
                    return false;
            }
        }
        if (Peek() != '"') {
            return false;
        }
        ++m_at;
        return true;
    }

    const std::string& m_s;
    std::size_t m_at = 0;
};

}  // namespace

bool ReadCliJson(const std::string& text, CliJson& json) {
    json = {};
    return CliJsonReader(text).Read(json);
}

}  // namespace clearnook::testing
