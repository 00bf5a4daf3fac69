#pragma once
// The extraction driver as most tests run it: every frame searched anew.

#include "document/grid_commands.h"

namespace vexel::test {

// Searches every frame of `doc` anew on `threads` threads with `extract`
// (empty: the document's own extraction).
inline GridSearchResult searchAll(CVexelDoc& doc, int threads = 1, FrameExtractor extract = {}) {
    GridSearch search;
    search.threads = threads;
    search.everyFrame = true;
    search.extract = std::move(extract);
    return doc.SearchGrids(search);
}

}  // namespace vexel::test

using vexel::test::searchAll;
