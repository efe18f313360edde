// The window and other programs on one catalog: changes by tslcat-cli shown
// while idle, the window's changes made again on a catalog changed
// meanwhile, changes that no longer apply, the lock, the backup; and the
// limits of typed names and search text.
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "catalog_lock.h"
#include "catalog_names.h"
#include "catalog_tree.h"
#include "catalogtreemodel.h"
#include "fakes.h"
#include "resultlistmodel.h"
#include "systemiconlist.h"
#include "tform1.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

const QString kDb = QStringLiteral("mdb.dat");

// Discs with one file each, saved to `file`.
void SaveDiscs(const std::vector<std::string> &names, const QString &file = kDb)
{
    TCatalogTree tree;
    for (const std::string &name : names) {
        TCatalogNode *disc = tree.Items().AddChild(nullptr, name);
        tree.Items().AddChild(disc, name + ".txt");
    }
    tree.SaveToFile(file);
}

QStringList DiscsOf(const TCatalogTree &tree)
{
    QStringList names;
    for (int row = 0; row < tree.Items().TopLevelCount(); ++row)
        names << DecodeName(tree.Items().TopLevel(row)->Text());
    return names;
}

QStringList SavedDiscs()
{
    TCatalogTree saved;
    saved.LoadFromFile(kDb);
    return DiscsOf(saved);
}

QByteArray Bytes(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Window {
    QTemporaryDir dir;
    QString previousDir = QDir::currentPath();
    FakeMessages messages;
    FakeLauncher launcher;
    FakeVolumes volumes;
    FakeFiles files;
    std::unique_ptr<TForm1> form;

    explicit Window(const std::vector<std::string> &discs = {"Tools", "Photos", "Music"})
    {
        QDir::setCurrent(dir.path());
        if (!discs.empty())
            SaveDiscs(discs);
    }
    ~Window()
    {
        form.reset();
        QDir::setCurrent(previousDir);
    }
    bool Start()
    {
        TFormServices services;
        services.messages = &messages;
        services.launcher = &launcher;
        services.volumes = &volumes;
        services.files = &files;
        form = std::make_unique<TForm1>(services);
        form->show();
        return QTest::qWaitFor([this] { return form->LoadCount() == 1 && !form->Working(); });
    }
    TCatalogNode *Disc(int row) { return form->CatalogTree().Items().TopLevel(row); }
    // Renames as the user does, through the view's model.
    bool Rename(TCatalogNode *node, const QString &name)
    {
        return form->TreeModel().setData(form->TreeModel().IndexOf(node), name, Qt::EditRole);
    }
};

} // namespace

class TestWindowSharing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SystemIconList::PrepareIconTheme(); }
    void init() { qunsetenv("TSLCAT_LOCK_TIMEOUT"); }

    void changesByTheCliAreShownAndKeptByTheNextRename();
    void aChangeMadeMeanwhileIsReadBeforeSaving();
    void aChangeThatNoLongerAppliesIsReportedAndDropped();
    void aHeldLockRefusesTheChangeAndKeepsTheFile();
    void removeAllKeepsTheCatalogInTheBackup();
    void renamesOver255BytesAreRefused();
    void searchTextIsCutBetweenCharacters();
    void damageQuestionNamesTheFileKept();
    void windowsNamesAreFoundByTypingAndByTheListedType();
};

void TestWindowSharing::changesByTheCliAreShownAndKeptByTheNextRename()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.CatalogTree().SetSelected(w.Disc(1)); // Photos
    f.SearchStringEdit->setText(QStringLiteral("Photos"));
    f.TypeRadioButtons->button(3)->click();
    f.SearchButton->click();
    QCOMPARE(f.ResultModel().rowCount(), 1);

    QTemporaryDir disc;
    QVERIFY(QDir(disc.path()).mkpath(QStringLiteral("sub")));
    QProcess cli;
    cli.start(TSLCAT_CLI_PATH,
              {QStringLiteral("add"), QStringLiteral("--name"), QStringLiteral("From CLI"), disc.path()});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);

    // Shown while idle, without any action in the window.
    QTRY_COMPARE_WITH_TIMEOUT(DiscsOf(f.CatalogTree()), QStringList({"Tools", "Photos", "Music", "From CLI"}), 5000);
    QCOMPARE(f.DBLabel->text(), QStringLiteral("Database: 4 files"));
    QVERIFY(f.CatalogTree().Selected());
    QCOMPARE(DecodeName(f.CatalogTree().Selected()->Text()), QStringLiteral("Photos"));
    QCOMPARE(f.ResultModel().rowCount(), 1); // results are copies and stay

    QVERIFY(w.Rename(w.Disc(1), QStringLiteral("Pictures")));
    QCOMPARE(SavedDiscs(), QStringList({"Tools", "Pictures", "Music", "From CLI"}));
    QVERIFY(w.messages.texts.isEmpty());
    QVERIFY(w.messages.errors.isEmpty());
}

void TestWindowSharing::aChangeMadeMeanwhileIsReadBeforeSaving()
{
    Window w;
    QVERIFY(w.Start());
    // Another program removes Tools and adds Games; the window has not
    // looked yet when the user renames Music (now at another row).
    SaveDiscs({"Photos", "Music", "Games"});
    TCatalogNode *music = w.Disc(2);
    QVERIFY(w.Rename(music, QStringLiteral("Songs")));
    QCOMPARE(SavedDiscs(), QStringList({"Photos", "Songs", "Games"}));
    QCOMPARE(DiscsOf(w.form->CatalogTree()), QStringList({"Photos", "Songs", "Games"}));
    QVERIFY(w.messages.texts.isEmpty());

    // Remove CD the same way: the disc removed is the one the user chose.
    SaveDiscs({"Extra", "Photos", "Songs", "Games"});
    w.form->CatalogTree().SetSelected(w.Disc(0)); // Photos, row 1 on disk
    w.form->DeleteTreeClick();
    QCOMPARE(SavedDiscs(), QStringList({"Extra", "Songs", "Games"}));
    QCOMPARE(w.form->DBLabel->text(), QStringLiteral("Database: 3 files"));
}

void TestWindowSharing::aChangeThatNoLongerAppliesIsReportedAndDropped()
{
    Window w;
    QVERIFY(w.Start());
    SaveDiscs({"Tools", "Music"}); // Photos removed elsewhere
    const QByteArray before = Bytes(kDb);
    QVERIFY(w.Rename(w.Disc(1), QStringLiteral("Pictures")));
    QCOMPARE(w.messages.texts.size(), 1);
    QVERIFY(w.messages.texts[0].contains(QStringLiteral("dropped")));
    QVERIFY(w.messages.texts[0].contains(QStringLiteral("rename 'Photos' to 'Pictures'")));
    QCOMPARE(Bytes(kDb), before);
    QCOMPARE(DiscsOf(w.form->CatalogTree()), QStringList({"Tools", "Music"}));
}

void TestWindowSharing::aHeldLockRefusesTheChangeAndKeepsTheFile()
{
    Window w;
    QVERIFY(w.Start());
    const QByteArray before = Bytes(kDb);
    TCatalogLock other(kDb);
    other.Acquire(0);
    qputenv("TSLCAT_LOCK_TIMEOUT", "0.2");
    w.form->CatalogTree().SetSelected(w.Disc(0));
    w.form->DeleteTreeClick();
    QCOMPARE(w.messages.errors.size(), 1);
    QVERIFY(w.messages.errors[0].contains(QStringLiteral("is being changed by another program")));
    QCOMPARE(Bytes(kDb), before);
    QCOMPARE(DiscsOf(w.form->CatalogTree()), QStringList({"Tools", "Photos", "Music"}));

    other.Release();
    w.form->DeleteTreeClick();
    QCOMPARE(SavedDiscs(), QStringList({"Photos", "Music"}));
}

void TestWindowSharing::removeAllKeepsTheCatalogInTheBackup()
{
    Window w;
    QVERIFY(w.Start());
    const QByteArray before = Bytes(kDb);
    QVERIFY(!QFile::exists(QStringLiteral("mdb.dat.bak")));
    w.form->RemoveAllClick();
    QCOMPARE(SavedDiscs(), QStringList());
    QCOMPARE(Bytes(QStringLiteral("mdb.dat.bak")), before);

    // One generation: the next destructive change replaces it.
    SaveDiscs({"New"});
    const QByteArray withNew = Bytes(kDb);
    QTRY_COMPARE_WITH_TIMEOUT(DiscsOf(w.form->CatalogTree()), QStringList({"New"}), 5000);
    w.form->CatalogTree().SetSelected(w.Disc(0));
    w.form->DeleteTreeClick();
    QCOMPARE(Bytes(QStringLiteral("mdb.dat.bak")), withNew);
}

void TestWindowSharing::renamesOver255BytesAreRefused()
{
    Window w;
    QVERIFY(w.Start());
    const QByteArray before = Bytes(kDb);
    // 127 two-byte characters and "ab": 256 bytes.
    const QString tooLong = QString(127, QChar(0xE9)) + QStringLiteral("ab");
    QVERIFY(w.Rename(w.Disc(0), tooLong));
    QCOMPARE(w.messages.texts.size(), 1);
    QVERIFY(w.messages.texts[0].contains(QStringLiteral("at most 255 bytes, and this one has 256")));
    // The part that fits ends between characters.
    QVERIFY(w.messages.texts[0].contains(QString(127, QChar(0xE9)) + QStringLiteral("a\r")));
    QCOMPARE(Bytes(kDb), before);
    QCOMPARE(DecodeName(w.Disc(0)->Text()), QStringLiteral("Tools"));

    const QString fits = QString(127, QChar(0xE9)) + QStringLiteral("a"); // 255 bytes
    QVERIFY(w.Rename(w.Disc(0), fits));
    QCOMPARE(SavedDiscs().first(), fits);
}

void TestWindowSharing::searchTextIsCutBetweenCharacters()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.SearchStringEdit->setText(QString(30, QChar(0xE9))); // 60 bytes
    QCOMPARE(f.SearchStringEdit->text(), QString(25, QChar(0xE9)));
    QVERIFY(f.ProgressLabel->text().contains(QStringLiteral("cut to 50 bytes")));
    f.SearchStringEdit->setText(QString(50, QLatin1Char('a'))); // fits
    QCOMPARE(f.SearchStringEdit->text().size(), 50);
}

void TestWindowSharing::damageQuestionNamesTheFileKept()
{
    Window w;
    const QByteArray whole = Bytes(kDb);
    {
        QFile cut(kDb);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(whole.left(whole.size() - 10));
    }
    QFile earlier(QStringLiteral("mdb.dat.damaged"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.close();
    QVERIFY(w.Start());
    QCOMPARE(w.messages.errors.size(), 1);
    w.messages.confirmAnswer = true;
    w.form->RemoveAllClick();
    QCOMPARE(w.messages.questions.size(), 1);
    QVERIFY2(w.messages.questions[0].contains(QStringLiteral("kept as 'mdb.dat.damaged.1'")),
             qPrintable(w.messages.questions[0]));
    QCOMPARE(Bytes(QStringLiteral("mdb.dat.damaged.1")), whole.left(whole.size() - 10));
    QCOMPARE(Bytes(QStringLiteral("mdb.dat.damaged")), QByteArray());
}

void TestWindowSharing::windowsNamesAreFoundByTypingAndByTheListedType()
{
    Window w(std::vector<std::string>{});
    {
        TCatalogTree tree;
        TCatalogNode *disc = tree.Items().AddChild(nullptr, "CD");
        tree.Items().AddChild(disc, "caf\xE9.txt");    // Windows-1252
        tree.Items().AddChild(disc, "note.\xE9t\xE9"); // Windows-1252 extension
        tree.Items().AddChild(disc, "other.txt");
        tree.SaveToFile(kDb);
    }
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.SearchStringEdit->setText(QString::fromUtf16(u"caf\u00e9"));
    f.TypeRadioButtons->button(0)->click();
    f.SearchButton->click();
    QCOMPARE(f.ResultModel().rowCount(), 1);

    const int listed = f.ExtComboBox->findText(QString::fromUtf16(u".\u00e9t\u00e9"));
    QVERIFY(listed >= 0);
    f.ExtComboBox->setCurrentIndex(listed);
    f.SearchStringEdit->setText(QStringLiteral("."));
    f.SearchButton->click();
    QCOMPARE(f.ResultModel().rowCount(), 1);
    QCOMPARE(f.ResultModel().index(0, 1).data().toString(), QString::fromUtf16(u"note.\u00e9t\u00e9"));
}

QTEST_MAIN(TestWindowSharing)
#include "test_window_sharing.moc"
