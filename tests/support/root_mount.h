// Whether this machine's own mount table gives the tests of the real drive list a root to find.
// Linux.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "platform/drives_linux.h"

namespace clearnook::testing {

// Empty when "/" is where a file system that holds files is mounted, as on any booted machine;
// otherwise why it is not, for GTEST_SKIP. In a chroot the root is a directory inside another
// mount, so the table this process sees has no "/" and the drive list is rightly empty.
inline std::string WhyRootIsNoDrive() {
    std::ifstream table("/proc/self/mountinfo");
    if (!table) {
        return "/proc/self/mountinfo cannot be read";
    }
    std::string type;  // of the last mount at "/": the one a walk of it sees
    bool mounted = false;
    for (std::string line; std::getline(table, line);) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPEROPTIONS
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        fields >> id >> parent >> device >> root >> mountPoint;
        if (mountPoint != "/") {
            continue;
        }
        const std::size_t dash = line.find(" - ");
        if (dash == std::string::npos) {
            continue;
        }
        mounted = true;
        std::istringstream(line.substr(dash + 3)) >> type;
    }
    if (!mounted) {
        return "\"/\" is no mount point in this process's mount table (a chroot?): there is no "
               "root drive to find";
    }
    if (platform::IsPseudoFilesystem(type)) {
        return "\"/\" is a " + type + " file system, which the drive list leaves out";
    }
    return {};
}

}  // namespace clearnook::testing
