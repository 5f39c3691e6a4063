// The hashes an install records of its package: of the whole .zpk, and of what each planned
// file writes (an archive entry's data with its last block filled up with zeros, as it lies in
// the .img). Either way they come from one read of the .zpk from its start to its end, so
// nothing written is read back.
#pragma once

#include "Archive.h"
#include "FileSystem.h"
#include "Hash.h"
#include "InstallPackage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tessera {

// A read of its own before the copies, which then go from file to file inside the kernel.
// Returns each planned file's hash (empty for a refused one) and sets zpkHash.
std::vector<std::string> HashPackage(const fs::File& zpk, modArchive& archive, const std::vector<PlannedFile>& plan, std::string& zpkHash);

// The same hashes taken from the copies themselves, where the bytes pass through this process
// anyway (no copy inside the kernel): the .zpk is read once, not twice. Only for a plan whose
// files are copied in the order they lie in the .zpk, none overlapping the one before (Fits);
// the bytes between them and after the last are read for the package's hash as the copies
// reach them. The copies use the archive's transfer buffer, as the reads here do in between.
class HashesInCopy {
public:
    static bool Fits(const std::vector<PlannedFile>& plan);
    HashesInCopy(const fs::File& zpk, modArchive& archive, const std::vector<PlannedFile>& plan);

    // Before planned file i is copied: the tap its copy shows its bytes to.
    fs::CopyTap Tap(std::size_t i);
    // After its copy, which copied the whole file.
    void Copied(std::size_t i);
    // Once every file is copied: the hashes, as HashPackage gives them.
    std::vector<std::string> Finish(std::string& zpkHash);

private:
    void ReadUpTo(std::int64_t end);   // the .zpk's bytes up to end, for its hash

    const fs::File& zpk_;
    modArchive& archive_;
    const std::vector<PlannedFile>& plan_;
    ContentHash whole_;
    ContentHash file_;
    std::int64_t hashedTo_ = 0;   // the .zpk's hash holds its bytes up to here
    std::vector<std::string> hashes_;
};

} // namespace tessera
