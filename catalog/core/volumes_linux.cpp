// volumes_linux.cpp - the system's volumes on Linux: what is mounted from
// Qt's storage information, the mount points with nothing on them from
// /etc/fstab (read with the C library's getmntent), optical drives told
// apart by their SCSI device type, and the mount table watched through the
// kernel's change signal on /proc/self/mounts.

#include "volumes.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QStorageInfo>

#include <fcntl.h>
#include <mntent.h>
#include <paths.h>
#include <unistd.h>

namespace tslcat {

namespace {

std::string Bytes(const QString &s)
{
    return QFile::encodeName(s).toStdString();
}

// A device is on an optical drive when its block device reports SCSI type 5
// (CD-ROM); /dev/cdrom and the like are links to /dev/srN.
bool IsOpticalDevice(const QString &device)
{
    QString resolved = QFileInfo(device).canonicalFilePath();
    if (resolved.isEmpty())
        resolved = device;
    const QString name = QFileInfo(resolved).fileName();
    if (name.isEmpty())
        return false;
    QFile type(QStringLiteral("/sys/block/") + name + QStringLiteral("/device/type"));
    return type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "5";
}

bool IsOpticalFileSystem(const QString &types)
{
    for (const QString &type : types.split(QLatin1Char(',')))
        if (type == QLatin1String("iso9660") || type == QLatin1String("udf"))
            return true;
    return false;
}

// The mount points fstab names that are not mounted now: an empty CD drive
// is the common case.  Swap and pseudo entries have no folder to offer.
void AddUnmountedFstabEntries(std::vector<TVolume> &volumes)
{
    FILE *table = ::setmntent(_PATH_MNTTAB, "re");
    if (!table)
        return;
    while (const mntent *entry = ::getmntent(table)) {
        if (entry->mnt_dir[0] != '/' || std::string_view(entry->mnt_type) == "swap")
            continue;
        TVolume v;
        v.root = DriveRootOf(entry->mnt_dir);
        const QString canonical = QFileInfo(QFile::decodeName(entry->mnt_dir)).canonicalFilePath();
        bool known = false;
        for (const TVolume &m : volumes)
            known = known || m.root == v.root || (!canonical.isEmpty() && m.root == DriveRootOf(Bytes(canonical)));
        if (known)
            continue;
        v.device = entry->mnt_fsname;
        v.fileSystem = entry->mnt_type;
        v.mounted = false;
        v.ready = false;
        v.optical = IsOpticalFileSystem(QString::fromLocal8Bit(entry->mnt_type)) ||
            (v.device.rfind("/dev/", 0) == 0 && IsOpticalDevice(QFile::decodeName(entry->mnt_fsname)));
        volumes.push_back(std::move(v));
    }
    ::endmntent(table);
}

} // namespace

struct TSystemVolumeList::Watcher {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> mounts;
    std::unique_ptr<QFileSystemWatcher> fstab;
    ~Watcher()
    {
        mounts.reset();
        if (fd >= 0)
            ::close(fd);
    }
};

TSystemVolumeList::TSystemVolumeList() = default;
TSystemVolumeList::~TSystemVolumeList() = default;

std::vector<TVolume> TSystemVolumeList::Volumes()
{
    std::vector<TVolume> volumes;
    for (const QStorageInfo &storage : QStorageInfo::mountedVolumes()) {
        const QString device = QString::fromLocal8Bit(storage.device());
        // Only volumes on block devices are discs or disks; proc, tmpfs and
        // the like are nothing to catalog.
        if (!device.startsWith(QLatin1String("/dev/")))
            continue;
        TVolume v;
        v.root = DriveRootOf(Bytes(storage.rootPath()));
        v.label = Bytes(storage.name());
        v.device = Bytes(device);
        v.fileSystem = storage.fileSystemType().toStdString();
        v.ready = storage.isValid() && storage.isReady();
        v.optical = IsOpticalDevice(device) || IsOpticalFileSystem(QString::fromLatin1(storage.fileSystemType()));
        volumes.push_back(std::move(v));
    }
    AddUnmountedFstabEntries(volumes);
    OrderVolumes(volumes);
    return volumes;
}

void TSystemVolumeList::Watch(std::function<void()> changed)
{
    if (m_watcher || !changed)
        return;
    m_watcher = std::make_unique<Watcher>();
    // The kernel marks /proc/self/mounts with POLLPRI (an "exception") after
    // every change of the mount table, so nothing needs to poll it.
    m_watcher->fd = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    if (m_watcher->fd >= 0) {
        m_watcher->mounts = std::make_unique<QSocketNotifier>(m_watcher->fd, QSocketNotifier::Exception);
        QObject::connect(m_watcher->mounts.get(), &QSocketNotifier::activated, m_watcher->mounts.get(),
                         [changed] { changed(); });
    }
    // An edited fstab adds or removes an empty mount point.  Editors replace
    // the file, which ends the watch on it, so it is watched again each time.
    m_watcher->fstab = std::make_unique<QFileSystemWatcher>();
    QFileSystemWatcher *fstab = m_watcher->fstab.get();
    const QString fstabPath = QStringLiteral(_PATH_MNTTAB);
    fstab->addPath(fstabPath);
    QObject::connect(fstab, &QFileSystemWatcher::fileChanged, fstab, [fstab, fstabPath, changed] {
        if (!fstab->files().contains(fstabPath))
            fstab->addPath(fstabPath);
        changed();
    });
}

} // namespace tslcat
