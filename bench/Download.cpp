// The download is written through libarchive's writer, as a zip tool would, and made into a
// package through ListModSource and WriteModPackage, as tessera-cli pack does.
#include "Download.h"

#include "Error.h"
#include "ModSource.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <memory>

namespace tessera::bench {

namespace {

struct WriterFree {
    void operator()(archive* a) const { archive_write_free(a); }
};

void Check(archive* a, int status, const std::string& path)
{
    if (status < ARCHIVE_WARN)
        throw TesseraError(ErrorKind::Io, "Cannot write the benchmark download " + path + ": " + archive_error_string(a), path);
}

} // namespace

BenchPackage WriteDownload(const GameFixture& game, const std::string& base, int members)
{
    const GameArchive& gta3 = game.Archive("models\\gta3");
    BenchPackage package;
    package.label = "50,000-member zip";
    package.repetitions = 3;
    const std::string zip = base + ".zip";
    const std::unique_ptr<archive, WriterFree> writer(archive_write_new());
    archive* a = writer.get();
    Check(a, archive_write_set_format_zip(a), zip);
    Check(a, archive_write_open_filename(a, zip.c_str()), zip);
    for (int i = 0; i < members; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "dl%05d.dff", i);
        // Spread over folders as a large mod's download is; each installs under its own name.
        const std::string path = "models/part" + std::to_string(i / 1000) + "/" + name;
        const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_copy_pathname(entry.get(), path.c_str());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), 1);
        Check(a, archive_write_header(a, entry.get()), zip);
        const char byte = static_cast<char>('a' + i % 26);
        if (archive_write_data(a, &byte, 1) != 1)
            Check(a, ARCHIVE_FATAL, zip);
        package.files.push_back({name, 1, 0, gta3.base, {}, false});
    }
    Check(a, archive_write_close(a), zip);

    WriteModPackage(ListModSource(zip), base);
    package.zpk = base + ".zpk";
    package.source = zip;
    return package;
}

} // namespace tessera::bench
