// Keeps a history small: git's loose objects, one file each, become one
// pack with deltas between the versions of a file.
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

// Once more than `looseLimit` objects lie loose, writes every object of
// the branch `branchRef` into one new pack, then removes the loose objects
// and the older packs that it holds wholly (an object reachable from no
// commit, in an older pack, keeps that pack). The caller holds the
// history's lock: nothing else writes objects meanwhile.
shell::Result<HistoryPack> packLooseObjects(git_repository* repo, const char* branchRef,
                                            int looseLimit);

} // namespace kt::fleet
