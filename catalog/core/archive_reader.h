// archive_reader.h - the trees inside ISO images and archives, read with
// libarchive without extracting or mounting anything.
//
// Two uses share one reader:
//   - an ISO 9660 image scanned as a disc (TImageSource): its whole tree, its
//     volume label, and a refusal for anything damaged, truncated or foreign;
//   - the members of an archive met during a scan (ReadArchiveMembers):
//     zip, 7z, tar (plain, gzip, bzip2, xz, zstd) and ISO 9660, within
//     bounds of members and time, never more than a listing.
// Only headers are read: no member's data is unpacked, so a member's
// claimed size costs nothing.  Names come out as the archive gives them, as
// UTF-8 where the archive knows its encoding (Rock Ridge names are taken as
// the bytes they are, Joliet names are converted), whatever the locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "scan_source.h"

namespace tslcat {

struct TArchiveLimits {
    size_t maxMembers = 0;       // entries, implied folders included; 0: no bound
    int64_t maxMilliseconds = 0; // reading time; 0: no bound

    // The bounds of an archive met during a scan.
    static TArchiveLimits ForArchive() { return {100000, 30000}; }
};

enum class TArchiveResult {
    Ok,
    TooManyMembers, // past TArchiveLimits::maxMembers
    TooSlow,        // past TArchiveLimits::maxMilliseconds
    Unreadable,     // not an archive of a kind read here, or damaged
};

struct TArchiveReport {
    TArchiveResult result = TArchiveResult::Ok;
    std::string message; // why it is not Ok, for people ("" when Ok)
};

// True for names that end in an archive extension read here, ASCII case
// ignored: .zip .7z .tar .tgz .tar.gz .tbz .tbz2 .tar.bz2 .txz .tar.xz
// .tzst .tar.zst .iso.
bool IsArchiveName(std::string_view name);

// Reads the member list of the archive at `path` (or in `data`) into
// `members`, which should be empty.  On anything but Ok, `members` holds
// what was read so far and the caller drops it.  `tick` is called now and
// then while reading (the window processes events there).
TArchiveReport ReadArchiveMembers(const std::string &path, TEntryTree &members, const TArchiveLimits &limits,
                                  const std::function<void()> &tick = {});
TArchiveReport ReadArchiveMembers(const void *data, size_t size, TEntryTree &members, const TArchiveLimits &limits);

// What the volume descriptors of an ISO 9660 image say.
struct TIsoVolume {
    std::string label;        // Joliet's volume identifier when there is one, else the primary's; UTF-8, trimmed
    uint64_t volumeBytes = 0; // the volume's size: blocks times block size
    bool joliet = false;      // a Joliet supplementary descriptor is present
};

// Reads the descriptors at sector 16 onward of the image in `bytes` (at
// least the first 34,816 bytes of the file, more when it has several
// descriptors).  False, with `problem` set, when there is no primary volume
// descriptor or it does not hold together.
bool ReadIsoVolume(std::string_view bytes, TIsoVolume &volume, std::string &problem);

// An ISO 9660 image file read whole as a disc.  The constructor reads the
// descriptors and the tree, and throws EImageError ("Cannot read disc image
// <path>: <problem>") for a file that is not an ISO 9660 image, is shorter
// than its volume, or whose directories cannot be read to the end.  Walks
// report paths as the image's path, the separator, and the member's path.
class TImageSource final : public ITreeSource {
public:
    explicit TImageSource(const std::string &path, const std::function<void()> &tick = {});
    // Reads an image held in memory; `name` stands for the file in messages.
    TImageSource(const void *data, size_t size, const std::string &name);

    const TIsoVolume &Volume() const { return volume_; }
    const TEntryTree &Entries() const { return entries_; }
    void Walk(IScanSink &sink) override;
    bool FilesAreOnDisk() const override { return false; }

private:
    std::string path_;
    TIsoVolume volume_;
    TEntryTree entries_;
};

// The disc name an image gets by default: its volume label, else the
// file's base name (the last path component).  Throws EImageError as
// TImageSource does.
std::string ImageDiscName(const std::string &path);

} // namespace tslcat
