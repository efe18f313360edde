// archive_reader.cpp - listing images and archives through libarchive, and
// the ISO 9660 volume descriptors.

#include "archive_reader.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QString>

#include "catalog_errors.h"
#include "platform.h"

namespace tslcat {

namespace {

using Clock = std::chrono::steady_clock;

// ---- the bytes libarchive reads: a file or a block of memory -------------------

constexpr size_t kReadBlock = 64 * 1024;

struct TByteSource {
    QFile *file = nullptr;
    const unsigned char *data = nullptr;
    int64_t size = 0;
    int64_t position = 0;
    std::vector<unsigned char> buffer;
    bool hasDeadline = false;
    Clock::time_point deadline;
    bool timedOut = false;

    bool PastDeadline()
    {
        if (hasDeadline && !timedOut && Clock::now() > deadline)
            timedOut = true;
        return timedOut;
    }
};

// The time bound is checked at every block read, so even one member whose
// data libarchive must decompress to pass (a compressed tar holding a
// "bomb") cannot hold the scan longer than the bound.
la_ssize_t ReadBlock(struct archive *a, void *client, const void **block)
{
    auto *src = static_cast<TByteSource *>(client);
    if (src->PastDeadline()) {
        archive_set_error(a, ETIMEDOUT, "reading took too long");
        return -1;
    }
    const int64_t left = std::max<int64_t>(0, src->size - src->position);
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, kReadBlock));
    if (src->data) {
        *block = src->data + src->position;
        src->position += static_cast<int64_t>(want);
        return static_cast<la_ssize_t>(want);
    }
    src->buffer.resize(kReadBlock);
    const qint64 got = src->file->seek(src->position)
        ? src->file->read(reinterpret_cast<char *>(src->buffer.data()), static_cast<qint64>(want))
        : -1;
    if (got < 0) {
        archive_set_error(a, EIO, "read error");
        return -1;
    }
    *block = src->buffer.data();
    src->position += got;
    return static_cast<la_ssize_t>(got);
}

la_int64_t SkipBytes(struct archive *, void *client, la_int64_t request)
{
    auto *src = static_cast<TByteSource *>(client);
    const int64_t left = std::max<int64_t>(0, src->size - src->position);
    const int64_t skipped = std::clamp<int64_t>(request, 0, left);
    src->position += skipped;
    return skipped;
}

la_int64_t SeekTo(struct archive *, void *client, la_int64_t offset, int whence)
{
    auto *src = static_cast<TByteSource *>(client);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = src->position;
    else if (whence == SEEK_END)
        base = src->size;
    // Offsets from hostile headers: no overflow, no position before the start.
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0)
        return ARCHIVE_FATAL;
    src->position = base + offset;
    return src->position;
}

// One libarchive reader, freed on every path.
class TReader {
public:
    TReader() : a_(archive_read_new()) {}
    ~TReader()
    {
        if (a_)
            archive_read_free(a_);
    }
    TReader(const TReader &) = delete;
    TReader &operator=(const TReader &) = delete;
    struct archive *get() const { return a_; }

private:
    struct archive *a_;
};

enum class TFormats { IsoOnly, Archives };

// Lists everything in `src` into `tree`.  Returns Ok, or why not.
TArchiveReport ListEntries(TByteSource &src, TEntryTree &tree, TFormats formats, size_t maxNodes,
                           const TArchiveLimits &limits, const std::function<void()> &tick)
{
    TReader reader;
    struct archive *a = reader.get();
    if (!a)
        return {TArchiveResult::Unreadable, "out of memory"};
    archive_read_support_format_iso9660(a);
    if (formats == TFormats::Archives) {
        archive_read_support_format_zip(a);
        archive_read_support_format_7zip(a);
        archive_read_support_format_tar(a);
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_bzip2(a);
        archive_read_support_filter_xz(a);
        archive_read_support_filter_zstd(a);
    }
    if (limits.maxMilliseconds > 0) {
        src.hasDeadline = true;
        src.deadline = Clock::now() + std::chrono::milliseconds(limits.maxMilliseconds);
    }
    archive_read_set_callback_data(a, &src);
    archive_read_set_read_callback(a, ReadBlock);
    archive_read_set_skip_callback(a, SkipBytes);
    archive_read_set_seek_callback(a, SeekTo);

    const auto failure = [&](const char *fallback) -> TArchiveReport {
        if (src.timedOut)
            return {TArchiveResult::TooSlow,
                    "reading took over " + std::to_string(limits.maxMilliseconds / 1000) + " s"};
        const char *why = archive_error_string(a);
        return {TArchiveResult::Unreadable, why && *why ? why : fallback};
    };

    platform::TUtf8TextScope utf8;
    if (archive_read_open1(a) != ARCHIVE_OK)
        return failure("not an archive");
    struct archive_entry *entry = nullptr;
    size_t count = 0;
    for (;;) {
        const int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return failure("damaged");
        const char *path = archive_entry_pathname(entry);
        if (!path)
            path = archive_entry_pathname_utf8(entry);
        if (path) {
            const mode_t type = archive_entry_filetype(entry);
            const TEntryKind kind = type == AE_IFDIR ? TEntryKind::Folder
                : type == AE_IFLNK                   ? TEntryKind::Link
                                                     : TEntryKind::File;
            int64_t size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
            // A link's own size, as lstat gives it on disc: its target's length.
            if (kind == TEntryKind::Link) {
                const char *target = archive_entry_symlink(entry);
                size = target ? static_cast<int64_t>(std::strlen(target)) : 0;
            }
            const int64_t modified = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : 0;
            const auto added = tree.Add(path, kind, size > 0 ? static_cast<uint64_t>(size) : 0, modified, maxNodes);
            if (added == TEntryTree::TAdded::OverBudget)
                return {TArchiveResult::TooManyMembers,
                        formats == TFormats::IsoOnly ? "its directories point at each other"
                                                     : "more than " + std::to_string(maxNodes) + " members"};
        }
        if (src.PastDeadline())
            return failure("");
        if (tick && ++count % 1024 == 0)
            tick();
    }
    return {};
}

TArchiveReport ListFile(const std::string &path, TEntryTree &tree, TFormats formats, size_t maxNodes,
                        const TArchiveLimits &limits, const std::function<void()> &tick)
{
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!QFileInfo(file).isFile())
        return {TArchiveResult::Unreadable, "not a file"};
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {TArchiveResult::Unreadable, "cannot be opened"};
    TByteSource src;
    src.file = &file;
    src.size = file.size();
    return ListEntries(src, tree, formats, maxNodes, limits, tick);
}

bool EndsWithNoCase(std::string_view name, std::string_view suffix)
{
    if (name.size() < suffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

// ---- ISO 9660 volume descriptors -----------------------------------------------

constexpr size_t kSector = 2048;
constexpr size_t kFirstDescriptor = 16 * kSector;
constexpr int kMaxDescriptors = 64; // a real image has a handful before its terminator

uint32_t Le32(std::string_view d, size_t at)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(d[at])) |
        static_cast<uint32_t>(static_cast<unsigned char>(d[at + 1])) << 8 |
        static_cast<uint32_t>(static_cast<unsigned char>(d[at + 2])) << 16 |
        static_cast<uint32_t>(static_cast<unsigned char>(d[at + 3])) << 24;
}

uint16_t Le16(std::string_view d, size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(d[at]) | static_cast<unsigned char>(d[at + 1]) << 8);
}

// The identifier fields are padded with spaces (and, from some writers,
// zero bytes).
QString Trimmed(QString s)
{
    while (!s.isEmpty() && (s.back() == u' ' || s.back() == QChar(0)))
        s.chop(1);
    return s;
}

std::string ReadHead(const std::string &path, std::string &problem, uint64_t &fileSize)
{
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!QFileInfo(file).isFile()) {
        problem = "not a file";
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        problem = "cannot be opened";
        return {};
    }
    fileSize = static_cast<uint64_t>(file.size());
    return file.read(kFirstDescriptor + kMaxDescriptors * kSector).toStdString();
}

// The volume of an image whose first bytes are `head` and whose size is
// `fileSize`, or the problem with it.
bool CheckImage(std::string_view head, uint64_t fileSize, TIsoVolume &volume, std::string &problem)
{
    if (!ReadIsoVolume(head, volume, problem))
        return false;
    if (fileSize < volume.volumeBytes) {
        problem = "the image is truncated (" + std::to_string(fileSize) + " of " + std::to_string(volume.volumeBytes) +
            " bytes)";
        return false;
    }
    return true;
}

// A directory record takes at least 34 bytes of the image, so a real image
// holds no more entries than that allows; past it the directories must
// point at each other.
size_t ImageNodeBudget(uint64_t imageBytes)
{
    return static_cast<size_t>(std::min<uint64_t>(imageBytes / 34 + 64, SIZE_MAX / 2));
}

[[noreturn]] void Refuse(const std::string &name, const std::string &problem)
{
    throw EImageError(name, problem);
}

} // namespace

bool IsArchiveName(std::string_view name)
{
    static constexpr std::string_view kSuffixes[] = {".zip",  ".7z",      ".tar",     ".tgz", ".tar.gz",
                                                     ".tbz",  ".tbz2",    ".tar.bz2", ".txz", ".tar.xz",
                                                     ".tzst", ".tar.zst", ".iso"};
    for (std::string_view suffix : kSuffixes)
        if (name.size() > suffix.size() && EndsWithNoCase(name, suffix))
            return true;
    return false;
}

TArchiveReport ReadArchiveMembers(const std::string &path, TEntryTree &members, const TArchiveLimits &limits,
                                  const std::function<void()> &tick)
{
    const size_t budget = limits.maxMembers ? limits.maxMembers : SIZE_MAX;
    return ListFile(path, members, TFormats::Archives, budget, limits, tick);
}

TArchiveReport ReadArchiveMembers(const void *data, size_t size, TEntryTree &members, const TArchiveLimits &limits)
{
    TByteSource src;
    src.data = static_cast<const unsigned char *>(data);
    src.size = static_cast<int64_t>(size);
    const size_t budget = limits.maxMembers ? limits.maxMembers : SIZE_MAX;
    return ListEntries(src, members, TFormats::Archives, budget, limits, {});
}

bool ReadIsoVolume(std::string_view bytes, TIsoVolume &volume, std::string &problem)
{
    volume = {};
    bool primary = false;
    QString primaryLabel, jolietLabel;
    for (int i = 0; i < kMaxDescriptors; ++i) {
        const size_t at = kFirstDescriptor + static_cast<size_t>(i) * kSector;
        if (bytes.size() < at + kSector)
            break;
        const std::string_view d = bytes.substr(at, kSector);
        if (d.substr(1, 5) != "CD001")
            break;
        const auto type = static_cast<unsigned char>(d[0]);
        if (type == 255)
            break; // the set's terminator
        if (type == 1 && !primary) {
            primary = true;
            const uint32_t blocks = Le32(d, 80);
            const uint16_t blockSize = Le16(d, 128);
            if (blockSize < 512 || blockSize > kSector || (blockSize & (blockSize - 1)) != 0) {
                problem = "the volume descriptor is damaged (block size " + std::to_string(blockSize) + ")";
                return false;
            }
            volume.volumeBytes = static_cast<uint64_t>(blocks) * blockSize;
            primaryLabel = Trimmed(QString::fromLatin1(d.data() + 40, 32));
        } else if (type == 2 && d[88] == '%' && d[89] == '/' && (d[90] == '@' || d[90] == 'C' || d[90] == 'E')) {
            // Joliet: UCS-2, big-endian.
            char16_t units[16];
            for (int k = 0; k < 16; ++k)
                units[k] = static_cast<char16_t>(static_cast<unsigned char>(d[40 + 2 * k]) << 8 |
                                                 static_cast<unsigned char>(d[41 + 2 * k]));
            volume.joliet = true;
            jolietLabel = Trimmed(QString::fromUtf16(units, 16));
        }
    }
    if (!primary) {
        problem = "not an ISO 9660 image";
        return false;
    }
    volume.label = (volume.joliet ? jolietLabel : primaryLabel).toUtf8().toStdString();
    return true;
}

TImageSource::TImageSource(const std::string &path, const std::function<void()> &tick) : path_(path)
{
    std::string problem;
    uint64_t fileSize = 0;
    const std::string head = ReadHead(path, problem, fileSize);
    if (!problem.empty() || !CheckImage(head, fileSize, volume_, problem))
        Refuse(path, problem);
    const TArchiveReport report =
        ListFile(path, entries_, TFormats::IsoOnly, ImageNodeBudget(fileSize), TArchiveLimits{}, tick);
    if (report.result != TArchiveResult::Ok)
        Refuse(path, report.message);
}

TImageSource::TImageSource(const void *data, size_t size, const std::string &name) : path_(name)
{
    std::string problem;
    const std::string_view bytes(static_cast<const char *>(data), size);
    if (!CheckImage(bytes, size, volume_, problem))
        Refuse(name, problem);
    TByteSource src;
    src.data = static_cast<const unsigned char *>(data);
    src.size = static_cast<int64_t>(size);
    const TArchiveReport report =
        ListEntries(src, entries_, TFormats::IsoOnly, ImageNodeBudget(size), TArchiveLimits{}, {});
    if (report.result != TArchiveResult::Ok)
        Refuse(name, report.message);
}

void TImageSource::Walk(IScanSink &sink)
{
    TScanEntry root;
    root.kind = TEntryKind::Folder;
    entries_.Walk(sink, root, path_ + "/");
}

std::string ImageDiscName(const std::string &path)
{
    std::string problem;
    uint64_t fileSize = 0;
    TIsoVolume volume;
    const std::string head = ReadHead(path, problem, fileSize);
    if (!problem.empty() || !CheckImage(head, fileSize, volume, problem))
        Refuse(path, problem);
    if (!volume.label.empty())
        return volume.label;
    const size_t slash = path.find_last_of(platform::PathSeparator());
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace tslcat
