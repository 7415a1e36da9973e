// Keeps a history small: git's loose objects, one file each, become packs
// of git's, and now and then the packs become one with deltas between the
// versions of a file.
#pragma once

#include "shell/result.h"

struct git_repository;

namespace kt::fleet {

// What a packing did.
struct HistoryPack {
    int loose = 0;   // loose objects found
    int packed = 0;  // objects in the new pack; 0 when none was made
    int removed = 0; // loose objects and older packs that the new pack holds, removed
};

// Once more than `looseLimit` objects lie loose, writes them into a new
// pack. When that would make more than `packLimit` packs, the new pack
// holds every object of the branch `branchRef` instead, with deltas
// between versions (which a pack of the loose objects alone cannot have,
// and which costs time in proportion to the whole history), and the older
// packs that it holds wholly go (an object reachable from no commit keeps
// its pack). The loose objects the new pack holds go. The caller holds the
// history's lock: nothing else writes objects meanwhile.
shell::Result<HistoryPack> packLooseObjects(git_repository* repo, const char* branchRef,
                                            int looseLimit, int packLimit);

} // namespace kt::fleet
