// Which roots the drive box offers.  On Windows a root is a drive letter
// ("E:\"); on Linux it is the mount point of a mounted volume, ending in "/".
#pragma once

#include <QString>
#include <QStringList>

namespace tslcat {

struct VolumeRoots {
    QStringList roots;    // optical drives first, then the other volumes
    QString firstOptical; // empty when no optical drive has a mounted disc
};

// The mounted volumes, read from `mountsFile` (a /proc/self/mounts table);
// a device counts as an optical drive when `sysBlockDir`/<name>/device/type
// holds 5 (SCSI type "CD-ROM").  The parameters exist for tests.
VolumeRoots ListVolumeRoots(const QString &mountsFile = QStringLiteral("/proc/self/mounts"),
                            const QString &sysBlockDir = QStringLiteral("/sys/block"));

} // namespace tslcat
