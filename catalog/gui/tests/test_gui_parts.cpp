// The window's helpers on their own: the icon list, the drive list, the
// text editor's command line and the busy animation.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "busyindicator.h"
#include "desktopservices.h"
#include "drives.h"
#include "icon_lookup.h"
#include "systemiconlist.h"

using namespace tslcat;

namespace {

bool WriteText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

} // namespace

class TestGuiParts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SystemIconList::PrepareIconTheme(); }
    void iconIndexesOfFoldersAndFiles();
    void iconListProperties();
    void volumeRootsPutOpticalDrivesFirst();
    void volumeRootsWithoutOpticalDrive();
    void execLineExpansion_data();
    void execLineExpansion();
    void textEditorFromMimeDefaults();
    void busyAnimationRunsAndStops();
};

void TestGuiParts::iconIndexesOfFoldersAndFiles()
{
    SystemIconList icons;
    // Folders: fixed places, closed and open differ, whatever the name.
    QCOMPARE(icons.IconIndex("Backup", false, false, kFaDirectory), kIconFolder);
    QCOMPARE(icons.IconIndex("Backup", true, true, kFaDirectory), kIconFolderOpen);
    QCOMPARE(icons.IconIndex("/no/such/folder.txt", false, false, kFaDirectory), kIconFolder);
    // Unknown types get the generic file icon.
    QCOMPARE(icons.IconIndex("data.qqqzzz", false, false, kFaNormal), kIconGenericFile);
    QCOMPARE(icons.IconIndex("noextension", true, true, kFaNormal), kIconGenericFile);
    // A known type has its own icon, the same plain and selected, and the
    // same for every name of that type, in any letter case.
    const int text = icons.IconIndex("readme.txt", false, false, kFaNormal);
    QVERIFY(text != kIconGenericFile && text != kIconFolder && text != kIconFolderOpen);
    QCOMPARE(icons.IconIndex("readme.txt", true, true, kFaNormal), text);
    QCOMPARE(icons.IconIndex("E:\\other\\NOTES.TXT", false, false, kFaNormal), text);
    const int html = icons.IconIndex("index.html", false, false, kFaNormal);
    QVERIFY(html >= 0 && html < icons.Count());
    QVERIFY(!icons.Icon(text).isNull());
    QVERIFY(!icons.Icon(kIconFolder).isNull());
    QVERIFY(icons.Icon(-1).isNull());
    QVERIFY(icons.Icon(icons.Count()).isNull());

    // One list shared by every instance with ShareImages.
    SystemIconList other;
    QCOMPARE(other.IconIndex("readme.txt", false, false, kFaNormal), text);
    QCOMPARE(other.Count(), icons.Count());
}

void TestGuiParts::iconListProperties()
{
    SystemIconList icons;
    QCOMPARE(icons.ImageSize(), isSmall);
    QVERIFY(icons.ShareImages());
    QCOMPARE(icons.Width(), 16);
    QCOMPARE(icons.Height(), 16);
    const QString version = SystemIconList::Version();
    icons.SetVersion(QStringLiteral("changed"));
    QCOMPARE(SystemIconList::Version(), version);
    icons.SetImageSize(isLarge);
    QCOMPARE(icons.Width(), 32);
    // Without sharing, the list is a copy with the same fixed places.
    icons.SetShareImages(false);
    QCOMPARE(icons.IconIndex("x", false, false, kFaDirectory), kIconFolder);
    QVERIFY(!icons.Icon(kIconFolderOpen).isNull());
}

void TestGuiParts::volumeRootsPutOpticalDrivesFirst()
{
    QTemporaryDir dir;
    const QString sys = dir.path() + QStringLiteral("/sys/block");
    QVERIFY(WriteText(sys + QStringLiteral("/sr0/device/type"), "5\n"));
    QVERIFY(WriteText(sys + QStringLiteral("/sr1/device/type"), "5\n"));
    QVERIFY(WriteText(sys + QStringLiteral("/sda/device/type"), "0\n"));
    const QString mounts = dir.path() + QStringLiteral("/mounts");
    QVERIFY(WriteText(mounts,
                      "proc /proc proc rw 0 0\n"
                      "/dev/sda1 / ext4 rw 0 0\n"
                      "tmpfs /run tmpfs rw 0 0\n"
                      "/dev/sda2 /home ext4 rw 0 0\n"
                      "/dev/sr1 /media/user/DATA\\040DISC iso9660 ro 0 0\n"
                      "/dev/sr0 /media/cdrom0 udf ro 0 0\n"
                      "/dev/sda2 /home ext4 rw 0 0\n"
                      "broken line\n"));
    const VolumeRoots roots = ListVolumeRoots(mounts, sys);
    QCOMPARE(roots.roots, (QStringList{"/media/user/DATA DISC/", "/media/cdrom0/", "/", "/home/"}));
    QCOMPARE(roots.firstOptical, QStringLiteral("/media/user/DATA DISC/"));
}

void TestGuiParts::volumeRootsWithoutOpticalDrive()
{
    QTemporaryDir dir;
    const QString mounts = dir.path() + QStringLiteral("/mounts");
    QVERIFY(WriteText(mounts, "/dev/vda1 / ext4 rw 0 0\noverlay /x overlay rw 0 0\n"));
    VolumeRoots roots = ListVolumeRoots(mounts, dir.path());
    QCOMPARE(roots.roots, QStringList{"/"});
    QVERIFY(roots.firstOptical.isEmpty());
    roots = ListVolumeRoots(dir.path() + QStringLiteral("/missing"), dir.path());
    QVERIFY(roots.roots.isEmpty());
}

void TestGuiParts::execLineExpansion_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QStringList>("command");
    const QString f = QStringLiteral("/media/cd/read me.txt");
    QTest::newRow("file code") << "gedit %U" << QStringList{"gedit", f};
    QTest::newRow("no code") << "mousepad" << QStringList{"mousepad", f};
    QTest::newRow("other codes dropped") << "kate -b %F %i %c" << QStringList{"kate", "-b", f};
    QTest::newRow("quoted program") << "\"/opt/my editor/ed\" --new %f" << QStringList{"/opt/my editor/ed", "--new", f};
    QTest::newRow("escaped quote") << "ed \"a\\\"b\" %u" << QStringList{"ed", "a\"b", f};
    QTest::newRow("percent") << "ed --level=50%% %f" << QStringList{"ed", "--level=50%", f};
    QTest::newRow("empty") << "" << QStringList();
}

void TestGuiParts::execLineExpansion()
{
    QFETCH(QString, exec);
    QFETCH(QStringList, command);
    QCOMPARE(ExpandExecLine(exec, QStringLiteral("/media/cd/read me.txt")), command);
}

void TestGuiParts::textEditorFromMimeDefaults()
{
    QTemporaryDir dir;
    // A fake editor on a private data path, named default for text/plain.
    const QString editor = dir.path() + QStringLiteral("/bin/my-editor");
    QVERIFY(WriteText(editor, "#!/bin/sh\n"));
    QFile::setPermissions(editor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(WriteText(dir.path() + QStringLiteral("/data/applications/my-editor.desktop"),
                      "[Desktop Entry]\nName=My Editor\nExec=" + editor.toUtf8() + " --tab %F\n"));
    QVERIFY(WriteText(dir.path() + QStringLiteral("/config/mimeapps.list"),
                      "[Added Associations]\ntext/plain=other.desktop;\n"
                      "[Default Applications]\ntext/html=x.desktop\ntext/plain=missing.desktop;my-editor.desktop;\n"));
    qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", (dir.path() + QStringLiteral("/none")).toUtf8());
    qputenv("XDG_DATA_HOME", (dir.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_DATA_DIRS", (dir.path() + QStringLiteral("/none")).toUtf8());
    QCOMPARE(TextEditorCommand(QStringLiteral("/media/cd/a.txt")), (QStringList{editor, "--tab", "/media/cd/a.txt"}));

    // Without a default, a known editor on PATH.
    QFile::remove(dir.path() + QStringLiteral("/config/mimeapps.list"));
    const QByteArray path = qgetenv("PATH");
    const QString gedit = dir.path() + QStringLiteral("/path/gedit");
    QVERIFY(WriteText(gedit, "#!/bin/sh\n"));
    QFile::setPermissions(gedit, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", (dir.path() + QStringLiteral("/path")).toUtf8());
    QCOMPARE(TextEditorCommand(QStringLiteral("/x")), (QStringList{gedit, "/x"}));
    qputenv("PATH", dir.path().toUtf8() + "/nothing");
    QCOMPARE(TextEditorCommand(QStringLiteral("/x")), QStringList());
    qputenv("PATH", path);
}

void TestGuiParts::busyAnimationRunsAndStops()
{
    TBusyAnimation animation;
    animation.resize(80, 50);
    animation.show();
    QVERIFY(!animation.Active());
    QCOMPARE(animation.Frame(), TBusyAnimation::kStopFrame);
    animation.SetActive(true);
    QTRY_VERIFY(animation.Frame() != TBusyAnimation::kStopFrame);
    animation.SetActive(false);
    QVERIFY(!animation.Active());
    QCOMPARE(animation.Frame(), TBusyAnimation::kStopFrame);
}

QTEST_MAIN(TestGuiParts)
#include "test_gui_parts.moc"
