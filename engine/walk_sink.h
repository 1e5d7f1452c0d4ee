// What a walk tells of the tree it walks, in walk order: the seam between the walking and what
// is made of it.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/categories.h"
#include "platform/fs_services.h"

namespace clearnook {

// What a walker tells of the tree, in walk order. Push is followed by exactly one of Entered,
// Unlistable or Skipped; a directory entered is left with Left, after CutShort when its listing
// ended early.
class WalkSink {
  public:
    virtual ~WalkSink() = default;

    // Asked before each entry: false ends the walk here (a stop request).
    [[nodiscard]] virtual bool BeforeEntry() = 0;

    virtual void RootEntered(const platform::RootIdentity& identity) = 0;
    virtual void RootUnlistable(int error) = 0;
    // The directory `name` is about to be entered. Returns a copy of the name that stays valid
    // until the directory is left: `name` lies in a listing that entering may move.
    [[nodiscard]] virtual std::string_view Push(std::string_view name) = 0;
    virtual void Entered() = 0;
    virtual void Unlistable(int error) = 0;
    virtual void Skipped() = 0;
    virtual void CutShort(int error) = 0;
    virtual void Left() = 0;
    virtual void Record(CleanupCategory category, std::uint64_t size,
                        const platform::FileIdentity& identity, std::string_view name) = 0;
    // The next subdirectory of the current listing went to another walker (only walks that hand
    // directories off meet these).
    virtual void HandedOff() {}
};

}  // namespace clearnook
