// icon_lookup.h - the lookup of an icon index by name and kind.
//
// Nodes store only icon indexes (ImageIndex plain, SelectedIndex selected),
// and those are written into "mdb.dat".  The window's SystemIconList and the
// display-free TPlainIconLookup implement the same interface, and both give
// the folder icons and the generic file icon the same fixed indexes, so the
// indexes stored for folders stay valid between runs, between the window and
// tslcat-cli, and with files written by the Windows program (whose shell list
// has the closed folder at 3, the open folder at 4 and the unknown file at 0).
#pragma once

#include <cstdint>
#include <string_view>

namespace tslcat {

// Windows file-attribute flags, as the shell takes them.  The catalog asks
// only for kFaDirectory (discs and folders) and kFaNormal (files).
enum TFileAttribute : uint32_t {
    kFaReadOnly = 1,
    kFaHidden = 2,
    kFaSystem = 4,
    kFaDirectory = 16,
    kFaArchive = 32,
    kFaNormal = 128,
    kFaTemporary = 256,
    kFaCompressed = 2048,
    kFaOffline = 4096,
};
using TFileAttributes = uint32_t;

inline constexpr int32_t kIconGenericFile = 0; // a file type without its own icon
inline constexpr int32_t kIconFolder = 3;      // closed folder (plain state)
inline constexpr int32_t kIconFolderOpen = 4;  // open folder (selected state)

class IIconLookup {
public:
    virtual ~IIconLookup() = default;
    // Index of the icon for `name` (raw bytes; a full path or a bare name)
    // of the kind given by `attributes`.  The catalog passes `selected` and
    // `open` with the same value: false for ImageIndex, true for
    // SelectedIndex.  Must not touch the file system for the name: discs
    // are usually absent.  A directory gives kIconFolder / kIconFolderOpen.
    virtual int32_t IconIndex(std::string_view name, bool selected, bool open, TFileAttributes attributes) = 0;
};

// The display-free lookup of the core and tslcat-cli: folders get the fixed
// folder indexes, everything else kIconGenericFile.
class TPlainIconLookup : public IIconLookup {
public:
    int32_t IconIndex(std::string_view name, bool selected, bool open, TFileAttributes attributes) override;
};

// Folder icons (plain, selected) for `name`: the lookups of discs and folders.
int32_t FolderIcon(IIconLookup &icons, std::string_view name, bool selected);
// File icons (plain, selected) for `name`.
int32_t FileIcon(IIconLookup &icons, std::string_view name, bool selected);

} // namespace tslcat
