// An environment variable set, or unset, for a test's while. POSIX.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace clearnook::testing {

class ScopedEnv {
  public:
    // Sets `name` to `value`, or unsets it when `value` is empty; the destructor puts back what
    // was there.
    ScopedEnv(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str())) {
            m_saved = old;
        }
        Put(value);
    }
    ~ScopedEnv() { Put(m_saved); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void Put(const std::optional<std::string>& value) const {
        if (value) {
            ::setenv(m_name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(m_name.c_str());
        }
    }

    std::string m_name;
    std::optional<std::string> m_saved;
};

}  // namespace clearnook::testing
