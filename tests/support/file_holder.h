// A child process that holds files open, as a running program holds its swap file or the cache
// entry it reads, until the holder is destroyed. Linux.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace clearnook::testing {

class FileHolder {
  public:
    enum class How {
        Descriptor,  // each file stays open
        Mapping,     // each file is mapped, and its descriptor closed: only the mapping holds it
    };

    // Starts the child, which opens `paths` (files of at least one byte for a Mapping) and holds
    // them; returns once it does, or once it failed to (Holding() false, the test failed).
    FileHolder(std::vector<std::string> paths, How how);
    // Ends the child and waits for it.
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    [[nodiscard]] bool Holding() const { return m_holding; }

  private:
    std::vector<std::string> m_paths;
    pid_t m_pid = -1;
    int m_release = -1;  // closed to let the child go
    bool m_holding = false;
};

}  // namespace clearnook::testing
