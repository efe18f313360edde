#include "drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tslcat {

namespace {

// /proc/self/mounts writes space, tab, newline and backslash in names as
// three-digit octal escapes.
QString UnescapeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.append(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return QString::fromUtf8(out);
}

bool IsOpticalDevice(const QString &device, const QString &sysBlockDir)
{
    // /dev/cdrom and friends are links to /dev/srN.
    QString resolved = QFileInfo(device).canonicalFilePath();
    if (resolved.isEmpty())
        resolved = device;
    const QString name = QFileInfo(resolved).fileName();
    if (name.isEmpty())
        return false;
    QFile type(sysBlockDir + QLatin1Char('/') + name + QStringLiteral("/device/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed() == "5";
}

} // namespace

VolumeRoots ListVolumeRoots(const QString &mountsFile, const QString &sysBlockDir)
{
    VolumeRoots result;
    QFile mounts(mountsFile);
    if (!mounts.open(QIODevice::ReadOnly))
        return result;
    QStringList optical;
    QStringList others;
    const QList<QByteArray> lines = mounts.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3)
            continue;
        const QString device = UnescapeMountField(fields[0]);
        // Only volumes on block devices are discs or disks; proc, sysfs,
        // tmpfs and the like are not something to catalog.
        if (!device.startsWith(QLatin1String("/dev/")))
            continue;
        QString root = UnescapeMountField(fields[1]);
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        if (optical.contains(root) || others.contains(root))
            continue;
        (IsOpticalDevice(device, sysBlockDir) ? optical : others).append(root);
    }
    result.roots = optical + others;
    if (!optical.isEmpty())
        result.firstOptical = optical.first();
    return result;
}

} // namespace tslcat
