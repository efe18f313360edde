// volumes.h - the system's volumes as the catalog sees them: the drive list,
// the readiness of a drive root, finding a disc by its name, and the default
// name of a new disc.
//
// The system's list comes from one small per-OS file (volumes_linux.cpp,
// volumes_other.cpp) behind IVolumeList; everything else here works on a
// plain vector of TVolume, so tests give it any list they like.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tslcat {

class IFileProbe;
struct TResultRow;

struct TVolume {
    std::string root;       // mount path ending in the separator, raw bytes ("/media/user/TOOLS/")
    std::string label;      // the file system's label as bytes ("" when it has none)
    std::string device;     // "/dev/sr0"; "" when unknown
    std::string fileSystem; // "iso9660", "ext4"...
    bool mounted = true;    // false: a mount point the system names (fstab) with nothing on it
    bool ready = true;      // mounted and readable
    bool optical = false;   // on a CD/DVD drive
};

// The volumes of the system.
class IVolumeList {
public:
    virtual ~IVolumeList() = default;
    // Mounted volumes on block devices, and the mount points the system
    // names with nothing mounted on them; optical drives first.
    virtual std::vector<TVolume> Volumes() = 0;
    // Calls `changed` (on the caller's thread, from its event loop) after
    // something was mounted or unmounted.  A list that cannot watch never
    // calls it.  Call at most once.
    virtual void Watch(std::function<void()> changed) { (void)changed; }
};

// The system's list: Qt's storage information for what is mounted, the
// system's table of mount points (fstab) for what is not.
class TSystemVolumeList final : public IVolumeList {
public:
    TSystemVolumeList();
    ~TSystemVolumeList() override;
    std::vector<TVolume> Volumes() override;
    // Watches the mount table without polling where the system signals its
    // changes (Linux); elsewhere compares the list once a second.
    void Watch(std::function<void()> changed) override;

private:
    struct Watcher;
    std::unique_ptr<Watcher> m_watcher;
};

// `root` ending in exactly one separator ("/" stays "/").
std::string DriveRootOf(std::string_view root);

// Optical drives first, each group in its given order; later entries with
// a root already listed are dropped.
void OrderVolumes(std::vector<TVolume> &volumes);

// The volume query of a drive root against `volumes`: a volume mounted at
// `root` (or at the folder it links to) answers with its readiness and
// label; a mount point with nothing mounted is not ready; any other
// readable folder is ready, without a label.
bool QueryDrive(const std::vector<TVolume> &volumes, std::string_view root, std::string &label);

// The name a new disc gets unless the user gives one: the volume label when
// there is one, else the last component of the folder's absolute path
// ("" for "/").
std::string DefaultDiscName(std::string_view root, std::string_view label);

// The first ready volume whose label is the disc name as the window shows
// it: an exact match first, else one that differs only in letter case.
// Null when none.
const TVolume *FindVolumeByLabel(const std::vector<TVolume> &volumes, std::string_view discName);

// The first ready volume, other than the one at `skipRoot`, on which the
// row's path exists as a file.  Null when none.
const TVolume *FindVolumeWithFile(const std::vector<TVolume> &volumes, const TResultRow &row, IFileProbe &files,
                                  std::string_view skipRoot = {});

} // namespace tslcat
