// Drive roots where there is no /proc/self/mounts: every mounted volume Qt
// knows, without telling optical drives apart.
#include "drives.h"

#include <QStorageInfo>

namespace tslcat {

VolumeRoots ListVolumeRoots(const QString &, const QString &)
{
    VolumeRoots result;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        QString root = volume.rootPath();
        if (!root.endsWith(QLatin1Char('/')) && !root.endsWith(QLatin1Char('\\')))
            root += QLatin1Char('/');
        result.roots.append(root);
    }
    return result;
}

} // namespace tslcat
