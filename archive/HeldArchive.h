// The archives a modArchive holds open (HoldArchive): private to the archive layer.
#pragma once

#include "Archive.h"

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tessera {

// One archive held open by HoldArchive. While another is the current one, its records wait
// here.
struct modArchive::Held {
    std::string base;
    fs::File img;
    fs::File dir;
    std::int64_t imgLength = 0;
    std::int64_t dirLength = 0;
    std::vector<DirRecord> added;     // written since the records were last taken in
    std::vector<DirRecord> records;   // while it is not the current archive
    // Record numbers by RecordKey, built on the first rename: a rename per file must not read
    // every record of a large archive each time.
    std::unordered_map<std::string, std::vector<std::size_t>> byKey;
    bool indexed = false;

    // Takes in the added records behind the given ones.
    void Fold(std::vector<DirRecord>& into)
    {
        for (const DirRecord& r : added) {
            if (indexed)
                byKey[RecordKey(r.sName)].push_back(into.size());
            into.push_back(r);
        }
        added.clear();
    }
};

struct modArchive::Holds {
    std::vector<std::unique_ptr<Held>> archives;
    Held* current = nullptr;   // the held archive whose records are records_, if any
};

} // namespace tessera
