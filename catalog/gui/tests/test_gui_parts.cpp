// The window's helpers on their own: the icon list, the text editor and the
// busy animation.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QApplication>
#include <QTest>

#include "busyindicator.h"
#include "desktopservices.h"
#include "gio_launch.h"
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
    void textEditorIsTheDesktopDefault();
    void noDefaultApplicationForAnUnknownType();
    void knownEditorOnPathAsFallback();
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

// The desktop's configuration lives in a private folder (main() points the
// XDG variables at it before anything reads them).
QTemporaryDir *g_desktop = nullptr;

void TestGuiParts::textEditorIsTheDesktopDefault()
{
    // An "editor" that writes down its arguments, named default for
    // text/plain after a missing entry; GIO expands the Exec line.
    const QString editor = g_desktop->filePath(QStringLiteral("bin/my editor"));
    const QString out = g_desktop->filePath(QStringLiteral("args.txt"));
    QVERIFY(WriteText(editor,
                      "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" + out.toUtf8() + ".tmp\"\nmv \"" +
                          out.toUtf8() + ".tmp\" \"" + out.toUtf8() + "\"\n"));
    QFile::setPermissions(editor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(WriteText(g_desktop->filePath(QStringLiteral("data/applications/my-editor.desktop")),
                      "[Desktop Entry]\nType=Application\nName=My Editor\nMimeType=text/plain;\nExec=\"" +
                          editor.toUtf8() + "\" --tab %F\n"));
    QVERIFY(WriteText(g_desktop->filePath(QStringLiteral("config/mimeapps.list")),
                      "[Added Associations]\ntext/plain=other.desktop;\n"
                      "[Default Applications]\ntext/html=x.desktop\ntext/plain=missing.desktop;my-editor.desktop;\n"));
    QVERIFY(OpenInTextEditor(QStringLiteral("/media/cd/read me.txt")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
    QFile args(out);
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(args.readAll(), QByteArray("--tab\n/media/cd/read me.txt\n"));
}

void TestGuiParts::noDefaultApplicationForAnUnknownType()
{
    QVERIFY(!LaunchDefaultApplication("application/x-tslcat-nothing", "/media/cd/a.txt"));
}

void TestGuiParts::knownEditorOnPathAsFallback()
{
    QTemporaryDir dir;
    const QByteArray path = qgetenv("PATH");
    const QString gedit = dir.filePath(QStringLiteral("path/gedit"));
    QVERIFY(WriteText(gedit, "#!/bin/sh\n"));
    QFile::setPermissions(gedit, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(WriteText(dir.filePath(QStringLiteral("path/kate")), "not executable"));
    qputenv("PATH", dir.filePath(QStringLiteral("path")).toUtf8());
    QCOMPARE(KnownEditorCommand(QStringLiteral("/x y")), (QStringList{gedit, "/x y"}));
    qputenv("PATH", dir.filePath(QStringLiteral("nothing")).toUtf8());
    QCOMPARE(KnownEditorCommand(QStringLiteral("/x")), QStringList());
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

int main(int argc, char **argv)
{
    // Before Qt or GIO read them: GIO keeps the first values it sees.
    QTemporaryDir desktop;
    g_desktop = &desktop;
    // The user's own mimeapps.list outranks the system's; the system's data
    // folders stay, as the icon lookup needs their MIME database.
    qputenv("XDG_CONFIG_HOME", desktop.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", desktop.filePath(QStringLiteral("none")).toUtf8());
    qputenv("XDG_DATA_HOME", desktop.filePath(QStringLiteral("data")).toUtf8());
    QApplication app(argc, argv);
    TestGuiParts test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_gui_parts.moc"
