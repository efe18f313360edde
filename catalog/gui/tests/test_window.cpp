// The main window driven as a user would, on the offscreen platform, with
// fakes for message boxes, launching and volumes.  Each test runs in its
// own temporary working directory, where the window finds "mdb.dat".
#include <QAbstractItemModelTester>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

#include "busyindicator.h"
#include "catalog_match.h"
#include "catalog_names.h"
#include "catalog_tree.h"
#include "catalogtreemodel.h"
#include "catalogtreeview.h"
#include "fakes.h"
#include "icon_lookup.h"
#include "resultlistmodel.h"
#include "systemiconlist.h"
#include "tform1.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

// Tools 1998                 flat 0
//   readme.txt               1
//   setup                    2
//     tool.exe               3
//     empty                  4  (no entries: a file for the catalog)
//     docs                   5
//       manual.txt           6
//       a.zip                7
//       x.ZIP                8
// Photos                     9
//   img.jpg                  10
// Blank                      11 (a disc without entries)
void BuildSample(TCatalogTree &tree)
{
    TCatalogNodes &items = tree.Items();
    TCatalogNode *tools = items.AddChild(nullptr, "Tools 1998");
    items.AddChild(tools, "readme.txt");
    TCatalogNode *setup = items.AddChild(tools, "setup");
    items.AddChild(setup, "tool.exe");
    items.AddChild(setup, "empty");
    TCatalogNode *docs = items.AddChild(setup, "docs");
    items.AddChild(docs, "manual.txt");
    items.AddChild(docs, "a.zip");
    items.AddChild(docs, "x.ZIP");
    TCatalogNode *photos = items.AddChild(nullptr, "Photos");
    items.AddChild(photos, "img.jpg");
    items.AddChild(nullptr, "Blank");
}

QStringList Names(const TCatalogTree &tree)
{
    QStringList names;
    for (int i = 0; i < tree.Items().Count(); ++i) {
        const TCatalogNode *node = tree.Items().Item(i);
        names << QString(node->Level(), QLatin1Char(' ')) + DecodeName(node->Text());
    }
    return names;
}

QStringList SavedNames(const QString &file = QStringLiteral("mdb.dat"))
{
    TCatalogTree saved;
    saved.LoadFromFile(file);
    return Names(saved);
}

std::string ReadFileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

QStringList ComboItems(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

// One window in its own working directory.
struct Window {
    QTemporaryDir dir;
    QString previousDir = QDir::currentPath();
    FakeMessages messages;
    FakeLauncher launcher;
    FakeVolumes volumes;
    FakeFiles files;
    QString exportFile;           // what the save dialog of "Export Results..." answers
    int discWaitMilliseconds = 0; // after the insert prompt: one look, no waiting
    std::unique_ptr<TForm1> form;

    explicit Window(bool withCatalog = true)
    {
        QDir::setCurrent(dir.path());
        if (withCatalog) {
            TCatalogTree tree;
            BuildSample(tree);
            tree.SaveToFile(QStringLiteral("mdb.dat"));
        }
        volumes.Mount("/media/cd/", "TOOLS_98", true);
        volumes.Mount("/", "");
    }
    ~Window()
    {
        form.reset();
        QDir::setCurrent(previousDir);
    }

    // Creates and shows the window and waits for its start-up load.
    bool Start()
    {
        TFormServices services;
        services.messages = &messages;
        services.launcher = &launcher;
        services.volumes = &volumes;
        services.files = &files;
        services.chooseExportFile = [this] { return exportFile; };
        services.discWaitMilliseconds = discWaitMilliseconds;
        form = std::make_unique<TForm1>(services);
        form->show();
        return QTest::qWaitFor([this] { return form->LoadCount() == 1 && !form->Working(); });
    }

    TCatalogNode *Node(int flatIndex) { return form->CatalogTree().Items().Item(flatIndex); }
    QModelIndex Index(int flatIndex) { return form->TreeModel().IndexOf(Node(flatIndex)); }

    void Search(const QString &expression, int kind = 2, const QString &filter = QString(), bool matchCase = false)
    {
        form->SearchStringEdit->setText(expression);
        form->TypeRadioButtons->button(kind)->click();
        form->ExtComboBox->setEditText(filter);
        form->cboxMatchCase->setChecked(matchCase);
        form->SearchButton->click();
    }

    QStringList ResultRows()
    {
        QStringList rows;
        const TResultListModel &model = form->ResultModel();
        for (int r = 0; r < model.rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < 3; ++c)
                cells << model.index(r, c).data().toString();
            rows << cells.join(QLatin1Char('|'));
        }
        return rows;
    }

    void SelectResultRows(std::initializer_list<int> rows)
    {
        form->ListView1->clearSelection();
        for (int r : rows)
            form->ListView1->selectionModel()->select(form->ResultModel().index(r, 0),
                                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SystemIconList::PrepareIconTheme(); }

    void controlsHaveTheirNamesCaptionsAndInitialState();
    void resizingFollowsTheAnchors();
    void examplesTextIsTheFullText();

    void loadsTheCatalogOnce();
    void missingDatabaseIsReported();
    void failedLoadKeepsTheFileBeforeTheNextSave();

    void searchFromButtonAndEnter();
    void searchMatchModes();
    void searchAsYouType();
    void typedSearchGivesTheLibrarysHits_data();
    void typedSearchGivesTheLibrarysHits();
    void newerTextCancelsTheSearchInFlight();
    void shownRowsOutliveChangesOfTheTree();
    void searchRefusesEmptyAndInitialText();
    void faultyExpressionWarnsOnceThenNoMatches();
    void searchKindsFilterAndCase();
    void resultHintIsTheFullPath();
    void resultActions_data();
    void resultActions();
    void resultActionUsesFirstSelectedRowAndDoubleClick();
    void resultActionFindsTheDiscByName();
    void driveBoxFollowsTheVolumesWithoutTouchingTheText();

    void renameRefusedAtLevelOneAndSavedBelow();
    void renameKeepsUnchangedWindowsBytes();
    void removeAndRemoveAllAreSaved();
    void expandingGivesFilesTheirIcons();
    void scanAndAddADiscFromAFolder();
    void scanAndAddAnImageAndOpenArchives();
    void actionsDuringLongWorkAreRefused();
    void helpOpensThePageFromTheWorkingDirectory();
    void treeModelPassesTheModelTester();

    void sizeAndModifiedColumnsSortByHeader();
    void discTooltipHasTotalSizeAndFileCount();
    void exportResultsWritesTheRowsAsCsv();
    void updateCDAsksWhenTheLabelDiffersAndSaves();
};

void TestWindow::controlsHaveTheirNamesCaptionsAndInitialState()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Tessaly-Catalog"));

    struct Caption {
        const char *name;
        const char *text;
    };
    const Caption buttons[] = {{"GetNameButton", "Scan CD"}, {"AddNewButton", "Add CD to Database"},
                               {"SearchButton", "Search"},   {"HelpButton", "?"},
                               {"GHelpButton", "Help"},      {"QuitButton", "Exit"}};
    for (const Caption &c : buttons) {
        auto *button = f.findChild<QPushButton *>(QLatin1String(c.name));
        QVERIFY2(button, c.name);
        QCOMPARE(button->text(), QString::fromUtf8(c.text));
    }
    const Caption groups[] = {{"AddGroupBox", "Add New CD"},
                              {"SettingsGroupBox", "Settings:"},
                              {"SearchGroupBox", "Search:"},
                              {"GroupBox1", "Status:"},
                              {"TypeRadioGroup", "Search for:"}};
    for (const Caption &c : groups) {
        auto *group = f.findChild<QGroupBox *>(QLatin1String(c.name));
        QVERIFY2(group, c.name);
        QCOMPARE(group->title(), QString::fromUtf8(c.text));
    }
    const Caption labels[] = {{"Label3", "Search Results"},
                              {"NewCDLabel", "Drive Letter (CD):"},
                              {"SearchStringLabel", "Text to search for:"},
                              {"Label4", "File Type Filter:"},
                              {"DBLabel", "Database: 8 files"}};
    for (const Caption &c : labels) {
        auto *label = f.findChild<QLabel *>(QLatin1String(c.name));
        QVERIFY2(label, c.name);
        QCOMPARE(label->text(), QString::fromUtf8(c.text));
    }
    QVERIFY(f.findChild<QTreeView *>(QStringLiteral("CatalogTree1")));
    QVERIFY(f.findChild<TBusyAnimation *>(QStringLiteral("Animate1")));

    QCOMPARE(f.CDNameEdit->text(), QStringLiteral("CD Name"));
    QVERIFY(!f.CDNameEdit->isEnabled());
    QCOMPARE(f.CDNameEdit->maxLength(), 50);
    QVERIFY(!f.AddNewButton->isEnabled());
    QCOMPARE(f.SearchStringEdit->text(), QStringLiteral("Search Text goes here !"));
    QCOMPARE(f.SearchStringEdit->maxLength(), 50);
    QCOMPARE(f.cboxMatchCase->text(), QStringLiteral("Case Sensitive"));
    QVERIFY(!f.cboxMatchCase->isChecked());
    QCOMPARE(f.TypeRadioButtons->checkedId(), 2);
    QStringList items;
    for (int i = 0; i < 4; ++i)
        items << f.TypeRadioButtons->button(i)->text();
    QCOMPARE(items, (QStringList{"Filename", "Folder", "Filename && Folder", "CD"}));
    QVERIFY(!f.ExtComboBox->isEnabled());
    QVERIFY(f.FoundLabel->isHidden());
    QVERIFY(f.LoadGauge->isHidden());
    QVERIFY(f.Animate1->isHidden());
    QVERIFY(f.HelpButton->font().bold());
    // The first optical drive's mount point, from the drive query.
    QCOMPARE(f.CDDriveComboBox->currentText(), QStringLiteral("/media/cd/"));
    QCOMPARE(ComboItems(f.CDDriveComboBox), (QStringList{"/media/cd/", "/"}));

    const QHeaderView *header = f.ListView1->horizontalHeader();
    QCOMPARE(f.ResultModel().headerData(0, Qt::Horizontal).toString(), QStringLiteral("On CD"));
    QCOMPARE(f.ResultModel().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Filename/Folder"));
    QCOMPARE(f.ResultModel().headerData(2, Qt::Horizontal).toString(), QStringLiteral("FullPath"));
    QCOMPARE(header->sectionSize(0), 230);
    QCOMPARE(header->sectionSize(1), 220);
    QCOMPARE(header->sectionSize(2), 500);
    QCOMPARE(f.ListView1->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(f.ListView1->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(f.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);

    QStringList menu;
    for (QAction *a : f.TreePopupMenu->actions())
        menu << a->objectName() + QLatin1Char('=') + a->text();
    QCOMPARE(menu, (QStringList{"DeleteTree=Remove CD", "RemoveAll=Remove All", "UpdateCD=Update CD"}));
    menu.clear();
    for (QAction *a : f.ListViewPopupMenu->actions())
        menu << a->objectName() + QLatin1Char('=') + a->text();
    QCOMPARE(menu,
             (QStringList{"RunPop=Run Selected File", "OpenNotePad=Open with Notepad",
                          "BrowseFolderPop=Browse Containing Folder", "=",
                          QString::fromUtf8("ExportResults=Export Results\u2026")}));
}

void TestWindow::resizingFollowsTheAnchors()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    const QRect tree = f.CatalogTree1->geometry();
    const QRect list = f.ListView1->geometry();
    const QRect quit = f.QuitButton->geometry();
    const QRect add = f.AddGroupBox->geometry();
    const QRect search = f.SearchGroupBox->geometry();
    const QRect searchButton = f.SearchButton->geometry();
    QCOMPARE(list, QRect(328, 16, 457, 382));
    QCOMPARE(tree, QRect(8, 16, 313, 449));

    f.resize(f.width() + 100, f.height() + 50);
    QCOMPARE(f.CatalogTree1->geometry(), tree.adjusted(0, 0, 0, 50));        // left, top, bottom
    QCOMPARE(f.ListView1->geometry(), list.adjusted(0, 0, 100, 50));         // all four
    QCOMPARE(f.QuitButton->geometry(), quit.translated(100, 50));            // right, bottom
    QCOMPARE(f.AddGroupBox->geometry(), add.translated(0, 50));              // left, bottom
    QCOMPARE(f.SearchGroupBox->geometry(), search.adjusted(0, 50, 100, 50)); // left, right, bottom
    QCOMPARE(f.SearchButton->geometry(), searchButton);                      // inside its group

    f.resize(100, 100);
    QCOMPARE(f.width(), 792); // the minimum width
    QVERIFY(f.height() >= 515 - 27);
}

void TestWindow::examplesTextIsTheFullText()
{
    const QString text = TForm1::ExamplesText();
    QCOMPARE(text.size(), 969);
    QVERIFY(text.startsWith(QStringLiteral("Search Expression - Examples:\r\rfoo|bar|toto\tmatches")));
    QVERIFY(text.contains(QStringLiteral("\r\\$            \tmatches a dollar sign\r")));
    QVERIFY(text.contains(QStringLiteral("\r\\<[Aa].*\\> \tmatches any non-empty word")));
    QVERIFY(text.endsWith(QStringLiteral("a{2,4}     \tmatches 2, 3 or 4 characters a\r\rUse . as search string "
                                         "and set file-type to '.zip' to find all zip-filenames in Database")));

    Window w(false);
    QVERIFY(w.Start());
    w.messages.texts.clear();
    w.form->HelpButton->click();
    QCOMPARE(w.messages.texts, QStringList{text});
}

void TestWindow::loadsTheCatalogOnce()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    QVERIFY(w.messages.texts.isEmpty());
    QCOMPARE(f.DBLabel->text(), QStringLiteral("Database: 8 files"));
    QCOMPARE(ComboItems(f.ExtComboBox), (QStringList{"", ".exe", ".jpg", ".txt", ".zip"}));
    QCOMPARE(f.TreeModel().rowCount(), 3);
    QCOMPARE(f.ProgressLabel->text(), QString());
    QVERIFY(f.LoadGauge->isHidden());
    QVERIFY(f.Animate1->isHidden());
    // Disc nodes got folder icons; folder and file nodes keep what the file had.
    QCOMPARE(w.Node(0)->ImageIndex(), kIconFolder);
    QCOMPARE(w.Node(0)->SelectedIndex(), kIconFolderOpen);
    QCOMPARE(w.Node(2)->ImageIndex(), -1);

    // Later resizes do not load again, even when the file changed meanwhile.
    TCatalogTree empty;
    empty.SaveToFile(QStringLiteral("mdb.dat"));
    f.resize(f.width() + 40, f.height() + 30);
    QTest::qWait(20);
    f.resize(f.width() - 20, f.height());
    QTest::qWait(20);
    QCOMPARE(f.LoadCount(), 1);
    QCOMPARE(f.CatalogTree().Items().Count(), 12);
}

void TestWindow::missingDatabaseIsReported()
{
    Window w(false);
    QVERIFY(w.Start());
    QCOMPARE(w.messages.texts, QStringList{"No Database found (file 'mdb.dat' missing)"});
    QCOMPARE(w.form->DBLabel->text(), QStringLiteral("Database:"));
    QCOMPARE(w.form->ProgressLabel->text(), QStringLiteral("ProgressLabel"));
    QCOMPARE(w.form->ExtComboBox->count(), 0);
    QCOMPARE(w.form->TreeModel().rowCount(), 0);
}

void TestWindow::failedLoadKeepsTheFileBeforeTheNextSave()
{
    Window w(false);
    TCatalogTree tree;
    BuildSample(tree);
    tree.SaveToFile(QStringLiteral("whole.dat"));
    QFile whole(QStringLiteral("whole.dat"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QFile cut(QStringLiteral("mdb.dat"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() - 40)); // the last record is cut
    cut.close();

    QVERIFY(w.Start());
    QCOMPARE(w.messages.errors.size(), 1);              // the reader's own words for the fault
    QVERIFY(w.form->CatalogTree().Items().Count() > 0); // what was read stays
    QVERIFY(w.form->Animate1->isHidden());
    QVERIFY(w.form->LoadGauge->isHidden());
    QCOMPARE(w.form->TreeModel().rowCount(), w.form->CatalogTree().Items().TopLevelCount());

    // The next change would save the partial tree: refused unless the user
    // agrees, and then the damaged file is kept beside the new one.
    const int before = w.form->CatalogTree().Items().Count();
    w.messages.confirmAnswer = false;
    w.form->CatalogTree().SetSelected(w.form->CatalogTree().Items().TopLevel(0));
    w.form->DeleteTreeClick();
    QCOMPARE(w.messages.questions.size(), 1);
    QVERIFY(w.messages.questions[0].contains(QStringLiteral("could not be read completely")));
    QCOMPARE(w.messages.errors.last(), QStringLiteral("Not saved: 'mdb.dat' was not read completely."));
    QVERIFY(!QFile::exists(QStringLiteral("mdb.dat.damaged")));
    {
        QFile untouched(QStringLiteral("mdb.dat"));
        QVERIFY(untouched.open(QIODevice::ReadOnly));
        QCOMPARE(untouched.readAll(), bytes.left(bytes.size() - 40));
    }
    QVERIFY(w.form->CatalogTree().Items().Count() <= before);

    w.messages.confirmAnswer = true;
    w.form->RemoveAllClick();
    QCOMPARE(w.messages.questions.size(), 2);
    QFile kept(QStringLiteral("mdb.dat.damaged"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), bytes.left(bytes.size() - 40));
    QCOMPARE(SavedNames(), QStringList());
}

void TestWindow::searchFromButtonAndEnter()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    const QStringList expected{"Tools 1998|readme.txt|[ ]:\\readme.txt",
                               "Tools 1998|manual.txt|[ ]:\\setup\\docs\\manual.txt"};
    w.Search(QStringLiteral("\\.txt$"));
    QCOMPARE(w.ResultRows(), expected);
    QVERIFY(f.FoundLabel->isVisible());
    QCOMPARE(f.FoundLabel->text(), QStringLiteral("Found: 2 file(s)/folder(s)"));
    QCOMPARE(w.messages.beeps, 1);
    QVERIFY(w.messages.texts.isEmpty());
    QVERIFY(f.LoadGauge->isHidden());
    QCOMPARE(f.ProgressLabel->text(), QString());

    // Enter in the search box and in the file-type box run the same search.
    f.ResultModel().Clear();
    QTest::keyClick(f.SearchStringEdit, Qt::Key_Return);
    QCOMPARE(w.ResultRows(), expected);
    f.ResultModel().Clear();
    f.TypeRadioButtons->button(0)->click();
    QTest::keyClick(f.ExtComboBox->lineEdit(), Qt::Key_Return);
    QCOMPARE(w.ResultRows(), expected);
    QCOMPARE(f.ExtComboBox->count(), 5); // Enter does not add the typed text as an entry
    QCOMPARE(w.messages.beeps, 3);

    // A click into the search box empties it and hides the count.
    QTest::mouseClick(f.SearchStringEdit, Qt::LeftButton);
    QCOMPARE(f.SearchStringEdit->text(), QString());
    QVERIFY(f.FoundLabel->isHidden());
}

void TestWindow::searchMatchModes()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    QCOMPARE(ComboItems(f.MatchComboBox), (QStringList{"Regular expression", "About right", "Sounds like"}));
    QCOMPARE(ComboItems(f.MatchErrorsBox), (QStringList{"1", "2", "3"}));
    QCOMPARE(f.MatchLabel->text(), QStringLiteral("Match:"));
    QVERIFY(!f.MatchErrorsBox->isEnabled());

    const QString manual = QStringLiteral("Tools 1998|manual.txt|[ ]:\\setup\\docs\\manual.txt");
    w.Search(QStringLiteral("manxal"));
    QCOMPARE(w.messages.texts, QStringList{"No matches !"});
    f.MatchComboBox->setCurrentIndex(1);
    QVERIFY(f.MatchErrorsBox->isEnabled());
    w.Search(QStringLiteral("manxal"));
    QCOMPARE(w.ResultRows(), QStringList{manual});
    // Two wrong characters need the choice of 2; case applies as before.
    w.messages.texts.clear();
    w.Search(QStringLiteral("MANXAX"));
    QCOMPARE(w.messages.texts, QStringList{"No matches !"});
    f.MatchErrorsBox->setCurrentIndex(1);
    w.Search(QStringLiteral("MANXAX"));
    QCOMPARE(w.ResultRows(), QStringList{manual});
    w.messages.texts.clear();
    w.Search(QStringLiteral("MANXAX"), 2, QString(), true);
    QCOMPARE(w.messages.texts, QStringList{"No matches !"});
    // An expression is only text here: no compile warning.
    w.Search(QStringLiteral("[abc"));
    QVERIFY(w.messages.warnings.empty());

    f.MatchComboBox->setCurrentIndex(2);
    QVERIFY(!f.MatchErrorsBox->isEnabled());
    w.Search(QStringLiteral("Manuel"));
    QCOMPARE(w.ResultRows(), QStringList{manual});
    // The type filter applies as it does to regular expressions.
    w.messages.texts.clear();
    w.Search(QStringLiteral("Manuel"), 0, QStringLiteral(".zip"));
    QCOMPARE(w.messages.texts, QStringList{"No matches !"});
}

void TestWindow::searchAsYouType()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.SearchStringEdit->clear();
    QTest::keyClicks(f.SearchStringEdit, QStringLiteral("manu"));
    QVERIFY(w.ResultRows().isEmpty()); // not before the pause after the last key
    QTRY_COMPARE(w.ResultRows(), QStringList{"Tools 1998|manual.txt|[ ]:\\setup\\docs\\manual.txt"});
    QCOMPARE(f.FoundLabel->text(), QStringLiteral("Found: 1 file(s)/folder(s)"));
    QCOMPARE(w.messages.beeps, 0); // the beep stays with Search and Enter
    QVERIFY(w.messages.texts.isEmpty());

    // A faulty expression while typing: its error in the status line, no box.
    QTest::keyClicks(f.SearchStringEdit, QStringLiteral("[z"));
    QTRY_COMPARE(f.ProgressLabel->text(), QStringLiteral("Regular Expression Error: Missing ]"));
    QVERIFY(w.messages.warnings.empty());
    QVERIFY(w.messages.texts.isEmpty());
    QVERIFY(w.ResultRows().isEmpty());
    // The Search button keeps its box.
    f.SearchButton->click();
    QCOMPARE(int(w.messages.warnings.size()), 1);

    // Too slow last time for this mode: typing waits for Enter and says so.
    f.SearchStringEdit->clear();
    f.SetLastSearchMilliseconds(TMatchSpec{}, TForm1::kTypeAheadLimitMs + 1);
    QTest::keyClicks(f.SearchStringEdit, QStringLiteral("readme"));
    QTRY_COMPARE(f.ProgressLabel->text(), QStringLiteral("Press Enter to search"));
    QVERIFY(w.ResultRows().isEmpty());
    QTest::keyClick(f.SearchStringEdit, Qt::Key_Return);
    QCOMPARE(w.ResultRows(), QStringList{"Tools 1998|readme.txt|[ ]:\\readme.txt"});
    QCOMPARE(w.messages.beeps, 1);
    QVERIFY(f.LastSearchMilliseconds(TMatchSpec{}) <= TForm1::kTypeAheadLimitMs);
    // Another mode has its own time: it follows the typing.
    f.MatchComboBox->setCurrentIndex(2);
    f.SearchStringEdit->clear();
    QTest::keyClicks(f.SearchStringEdit, QStringLiteral("Tul"));
    QTRY_COMPARE(w.ResultRows(), QStringList{"Tools 1998|tool.exe|[ ]:\\setup\\tool.exe"});
}

void TestWindow::typedSearchGivesTheLibrarysHits_data()
{
    QTest::addColumn<int>("match");  // MatchComboBox index
    QTest::addColumn<int>("errors"); // MatchErrorsBox index (approximate only)
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<bool>("found"); // whether the library finds anything at all
    QTest::newRow("about right 1") << 1 << 0 << "manxal" << 2 << false << true;
    QTest::newRow("about right 1, short word") << 1 << 0 << "zip" << 2 << false << true;
    QTest::newRow("about right 2") << 1 << 1 << "MANXAX" << 2 << false << true;
    QTest::newRow("about right 2, case") << 1 << 1 << "MANXAX" << 2 << true << false;
    QTest::newRow("about right 3, files") << 1 << 2 << "taal.axe" << 0 << false << true;
    QTest::newRow("about right 3, folders") << 1 << 2 << "setap" << 1 << false << true;
    QTest::newRow("sounds like") << 2 << 0 << "Manuel" << 2 << false << true;
    QTest::newRow("sounds like, discs") << 2 << 0 << "Tulz" << 3 << false << true;
    QTest::newRow("sounds like, nothing") << 2 << 0 << "Quux" << 2 << false << false;
}

void TestWindow::typedSearchGivesTheLibrarysHits()
{
    QFETCH(int, match);
    QFETCH(int, errors);
    QFETCH(QString, typed);
    QFETCH(int, kind);
    QFETCH(bool, matchCase);
    QFETCH(bool, found);
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.MatchComboBox->setCurrentIndex(match);
    f.MatchErrorsBox->setCurrentIndex(errors);
    f.TypeRadioButtons->button(kind)->click();
    f.cboxMatchCase->setChecked(matchCase);
    f.SearchStringEdit->clear();

    // What the library's own call says of each candidate, in tree order.
    TNameMatcher matcher(f.CurrentMatchSpec(), EncodeName(typed), matchCase);
    QCOMPARE(matcher.CompileResult(), 0);
    QStringList expected;
    const TCatalogNodes &items = f.CatalogTree().Items();
    for (int i = 0; i < items.Count(); ++i) {
        const TCatalogNode &node = *items.Item(i);
        if (IsSearchCandidate(node, static_cast<TSearchKind>(kind)) && matcher.Match(node.TextCString()) == 1) {
            const TResultRow row = MakeResultRow(node);
            expected << (row.IsDiscRow()
                             ? DecodeName(row.discName) + QStringLiteral("||")
                             : QStringList{DecodeName(row.discName), DecodeName(row.nodeName), DecodeName(row.fullPath)}
                                   .join(QLatin1Char('|')));
        }
    }

    QCOMPARE(!expected.isEmpty(), found);

    QSignalSpy resets(&f.ResultModel(), &QAbstractItemModel::modelReset);
    QTest::keyClicks(f.SearchStringEdit, typed);
    // The search runs once the typing pauses: the list is emptied, then filled.
    QTRY_COMPARE(resets.count(), 2);
    QCOMPARE(w.ResultRows(), expected);
    QCOMPARE(f.FoundLabel->text(),
             expected.isEmpty() ? QString()
                                : QString::fromStdString(FoundText(static_cast<TSearchKind>(kind), expected.size())));
    // Typing reports nothing in boxes, found or not.
    QVERIFY(w.messages.texts.isEmpty());
    QCOMPARE(w.messages.beeps, 0);
}

namespace {

// A catalog whose approximate search takes a while even on a fast machine:
// long names, many of them.
void BuildSlowToSearch(int discs, int files)
{
    TCatalogTree tree;
    TCatalogNodes &items = tree.Items();
    const std::string filler(200, 'q');
    for (int d = 0; d < discs; ++d) {
        TCatalogNode *disc = items.AddChild(nullptr, "Disc " + std::to_string(d));
        for (int i = 0; i < files; ++i)
            items.AddChild(disc, filler + std::to_string(i) + ".txt");
    }
    items.AddChild(items.TopLevel(0), "readme.txt");
    tree.SaveToFile(QStringLiteral("mdb.dat"));
}

} // namespace

void TestWindow::newerTextCancelsTheSearchInFlight()
{
    Window w(false);
    BuildSlowToSearch(4, 25000);
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.MatchComboBox->setCurrentIndex(1);
    f.MatchErrorsBox->setCurrentIndex(2);
    QSignalSpy resets(&f.ResultModel(), &QAbstractItemModel::modelReset);

    // The first events the running search lets through: a newer text whose
    // pause has ended.  The search in flight stops and shows nothing; the
    // newer one follows.
    bool cancelledWhileRunning = false;
    QTimer::singleShot(0, &f, [&] {
        cancelledWhileRunning = f.Working();
        f.SearchStringEdit->setText(QStringLiteral("readme"));
        f.TypeAheadTimeout();
    });
    f.SearchStringEdit->setText(QStringLiteral("qqqqq"));
    f.TypeAheadTimeout();
    QVERIFY(cancelledWhileRunning);
    QCOMPARE(resets.count(), 1); // emptied, never filled
    QVERIFY(w.ResultRows().isEmpty());
    QCOMPARE(f.FoundLabel->text(), QString());
    QCOMPARE(f.LastSearchMilliseconds(f.CurrentMatchSpec()), qint64(-1)); // a cancelled search is not timed

    QTRY_COMPARE(resets.count(), 3);
    QCOMPARE(w.ResultRows(), QStringList{"Disc 0|readme.txt|[ ]:\\readme.txt"});
    QCOMPARE(f.FoundLabel->text(), QStringLiteral("Found: 1 file(s)/folder(s)"));
    QVERIFY(w.messages.texts.isEmpty());
}

void TestWindow::shownRowsOutliveChangesOfTheTree()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    TResultListModel &model = f.ResultModel();
    // The list keeps the model contract through searches, sorting and copies.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QStringList all{"Tools 1998|readme.txt|[ ]:\\readme.txt",
                          "Tools 1998|setup|[ ]:\\setup",
                          "Tools 1998|tool.exe|[ ]:\\setup\\tool.exe",
                          "Tools 1998|empty|[ ]:\\setup\\empty",
                          "Tools 1998|docs|[ ]:\\setup\\docs",
                          "Tools 1998|manual.txt|[ ]:\\setup\\docs\\manual.txt",
                          "Tools 1998|a.zip|[ ]:\\setup\\docs\\a.zip",
                          "Tools 1998|x.ZIP|[ ]:\\setup\\docs\\x.ZIP",
                          "Photos|img.jpg|[ ]:\\img.jpg"};
    w.Search(QStringLiteral("."));
    QCOMPARE(w.ResultRows(), all);
    QVERIFY(model.List().RefersToNodes()); // light until something changes

    // A rename below the disc, then of the disc: the rows keep the names found.
    f.CatalogTree1Edited(w.Node(2), "setup-2");
    QCOMPARE(DecodeName(w.Node(2)->Text()), QStringLiteral("setup-2"));
    QVERIFY(!model.List().RefersToNodes());
    QCOMPARE(w.ResultRows(), all);
    f.CatalogTree1Edited(w.Node(9), "Pictures");
    QCOMPARE(w.ResultRows(), all);

    // Sorting and the result actions work on the copies.
    f.ListView1->horizontalHeader()->setSortIndicator(1, Qt::AscendingOrder);
    QCOMPARE(w.ResultRows().value(0), QStringLiteral("Tools 1998|a.zip|[ ]:\\setup\\docs\\a.zip"));
    w.SelectResultRows({0});
    w.files.existing.insert("/media/cd/setup/docs/a.zip");
    f.CDDriveComboBox->setEditText(QStringLiteral("/media/cd/"));
    f.RunPop->trigger();
    QVERIFY(w.launcher.opened == std::vector<std::string>{"/media/cd/setup/docs/a.zip"});

    // Removing a disc, then all of them.
    w.Search(QStringLiteral("a"));
    const QStringList withA = w.ResultRows();
    QVERIFY(withA.size() >= 3);
    f.CatalogTree1->setCurrentIndex(w.Index(0));
    f.DeleteTree->trigger();
    QCOMPARE(w.ResultRows(), withA);
    f.RemoveAll->trigger();
    QCOMPARE(f.CatalogTree().Items().Count(), 0);
    QCOMPARE(w.ResultRows(), withA);
    QCOMPARE(f.FoundLabel->text(), QString::fromStdString(FoundText(TSearchKind::FilesAndFolders, withA.size())));

    // Another program's change, read from disk while idle.
    {
        TCatalogTree other;
        BuildSample(other);
        other.SaveToFile(QStringLiteral("mdb.dat"));
    }
    const QStringList zips{"Tools 1998|a.zip|[ ]:\\setup\\docs\\a.zip", "Tools 1998|x.ZIP|[ ]:\\setup\\docs\\x.ZIP"};
    QTRY_COMPARE_WITH_TIMEOUT(f.CatalogTree().Items().Count(), 12, 5000);
    w.Search(QStringLiteral("zip"));
    QCOMPARE(w.ResultRows(), zips);
    {
        TCatalogTree other;
        other.Items().AddChild(nullptr, "Only disc");
        other.SaveToFile(QStringLiteral("mdb.dat"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.CatalogTree().Items().Count(), 1, 5000);
    QCOMPARE(w.ResultRows(), zips);
    // Exported as shown.
    w.exportFile = QStringLiteral("out.csv");
    f.ExportResultsClick();
    QCOMPARE(QString::fromStdString(ReadFileBytes(QStringLiteral("out.csv"))),
             QStringLiteral("disc,name,path,kind,size,modified\r\n"
                            "Tools 1998,a.zip,[ ]:\\setup\\docs\\a.zip,file,,\r\n"
                            "Tools 1998,x.ZIP,[ ]:\\setup\\docs\\x.ZIP,file,,\r\n"));
}

void TestWindow::searchRefusesEmptyAndInitialText()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.SearchButton->click(); // the untouched initial text
    f.SearchStringEdit->clear();
    f.SearchButton->click();
    QCOMPARE(w.messages.texts, (QStringList{"Enter valid Search String !", "Enter valid Search String !"}));
    QVERIFY(f.FoundLabel->isHidden());
    QCOMPARE(w.messages.beeps, 0);
}

void TestWindow::faultyExpressionWarnsOnceThenNoMatches()
{
    Window w;
    QVERIFY(w.Start());
    w.Search(QStringLiteral("[abc"));
    QCOMPARE(int(w.messages.warnings.size()), 1);
    QCOMPARE(w.messages.warnings[0].first, QStringLiteral("Regular Expression Error"));
    QVERIFY(!w.messages.warnings[0].second.isEmpty());
    QCOMPARE(w.messages.texts, QStringList{"No matches !"});
    QCOMPARE(w.ResultRows(), QStringList());
    QVERIFY(w.form->FoundLabel->isVisible());
    QCOMPARE(w.form->FoundLabel->text(), QString());
}

void TestWindow::searchKindsFilterAndCase()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;

    // Filename with the filter: the extension must match exactly.
    w.Search(QStringLiteral("."), 0, QStringLiteral(".zip"));
    QCOMPARE(w.ResultRows(), QStringList{"Tools 1998|a.zip|[ ]:\\setup\\docs\\a.zip"});
    QCOMPARE(f.ResultModel().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Filename"));
    QCOMPARE(f.FoundLabel->text(), QStringLiteral("Found: 1 file(s)"));
    QVERIFY(f.ExtComboBox->isEnabled());

    // Filename without filter: child-less nodes below disc level, empty folders too.
    w.Search(QStringLiteral("."), 0);
    QCOMPARE(f.ResultModel().rowCount(), 7);

    // Folder: the filter is not read, and the box is disabled.
    w.Search(QStringLiteral("."), 1, QStringLiteral(".zip"));
    QVERIFY(!f.ExtComboBox->isEnabled());
    QCOMPARE(w.ResultRows(), (QStringList{"Tools 1998|setup|[ ]:\\setup", "Tools 1998|docs|[ ]:\\setup\\docs"}));
    QCOMPARE(f.ResultModel().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Folder"));
    QCOMPARE(f.FoundLabel->text(), QStringLiteral("Found: 2 folder(s)"));

    // CD: disc rows have no sub-items; the filter box is enabled.
    w.Search(QStringLiteral("o"), 3);
    QVERIFY(f.ExtComboBox->isEnabled());
    QCOMPARE(w.ResultRows(), (QStringList{"Tools 1998||", "Photos||"}));
    QCOMPARE(f.ResultModel().headerData(1, Qt::Horizontal).toString(), QString());
    QCOMPARE(f.FoundLabel->text(), QStringLiteral("Found: 2 CD(s)"));

    // Letter case.
    w.Search(QStringLiteral("README"), 2);
    QCOMPARE(f.ResultModel().rowCount(), 1);
    w.messages.texts.clear();
    w.Search(QStringLiteral("README"), 2, QString(), true);
    QCOMPARE(f.ResultModel().rowCount(), 0);
    QCOMPARE(w.messages.texts, QStringList{"No matches !"});
}

void TestWindow::resultHintIsTheFullPath()
{
    Window w;
    QVERIFY(w.Start());
    w.Search(QStringLiteral("a"), 2);
    const QStringList rows = w.ResultRows();
    const int manual = int(rows.indexOf(QStringLiteral("Tools 1998|manual.txt|[ ]:\\setup\\docs\\manual.txt")));
    QVERIFY(manual >= 0);
    w.SelectResultRows({manual});
    QCOMPARE(w.form->ListView1->toolTip(), QStringLiteral("[ ]:\\setup\\docs\\manual.txt"));

    // A disc row leaves the hint as it was.
    w.Search(QStringLiteral("Photos"), 3);
    w.SelectResultRows({0});
    QCOMPARE(w.form->ListView1->toolTip(), QStringLiteral("[ ]:\\setup\\docs\\manual.txt"));
}

void TestWindow::resultActions_data()
{
    QTest::addColumn<int>("action"); // 0 run, 1 editor, 2 browse
    QTest::addColumn<QString>("drive");
    QTest::addColumn<bool>("present"); // the file is on the disc in the drive
    QTest::addColumn<bool>("insertedOnPrompt");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("edited");

    const QString prompt = QStringLiteral("Insert CD \r\r'Tools 1998'\r\r into CD-Rom Drive, then press OK");
    const QString target = QStringLiteral("/media/cd/setup/docs/manual.txt");
    QTest::newRow("drive not ready") << 0 << "/nowhere/at/all/" << true << false << QStringList{"Drive not ready !"}
                                     << QString() << QString();
    QTest::newRow("run, found at once") << 0 << "/media/cd/" << true << false << QStringList() << target << QString();
    QTest::newRow("run, wrong disc") << 0 << "/media/cd/" << false << false << QStringList{prompt} << QString()
                                     << QString();
    QTest::newRow("run, disc inserted") << 0 << "/media/cd/" << false << true << QStringList{prompt} << target
                                        << QString();
    QTest::newRow("editor") << 1 << "/media/cd/" << true << false << QStringList() << QString() << target;
    QTest::newRow("editor, root without separator")
        << 1 << "/media/cd" << true << false << QStringList() << QString() << target;
    QTest::newRow("browse") << 2 << "/media/cd/" << true << false << QStringList()
                            << QStringLiteral("/media/cd/setup/docs/") << QString();
}

void TestWindow::resultActions()
{
    QFETCH(int, action);
    QFETCH(QString, drive);
    QFETCH(bool, present);
    QFETCH(bool, insertedOnPrompt);
    QFETCH(QStringList, messages);
    QFETCH(QString, opened);
    QFETCH(QString, edited);

    Window w;
    QVERIFY(w.Start());
    w.Search(QStringLiteral("manual"), 2);
    QCOMPARE(w.form->ResultModel().rowCount(), 1);
    w.SelectResultRows({0});
    w.form->CDDriveComboBox->setEditText(drive);
    if (present)
        w.files.existing.insert("/media/cd/setup/docs/manual.txt");
    if (insertedOnPrompt)
        w.messages.onText = [&w](const QString &) { w.files.existing.insert("/media/cd/setup/docs/manual.txt"); };
    w.messages.texts.clear();

    QAction *actions[] = {w.form->RunPop, w.form->OpenNotePad, w.form->BrowseFolderPop};
    actions[action]->trigger();

    QCOMPARE(w.messages.texts, messages);
    QCOMPARE(w.launcher.opened.empty() ? QString() : QString::fromStdString(w.launcher.opened.back()), opened);
    QCOMPARE(w.launcher.edited.empty() ? QString() : QString::fromStdString(w.launcher.edited.back()), edited);
    QVERIFY(w.launcher.opened.size() + w.launcher.edited.size() <= 1);
}

void TestWindow::resultActionUsesFirstSelectedRowAndDoubleClick()
{
    Window w;
    QVERIFY(w.Start());
    w.files.existing.insert("/media/cd/readme.txt");
    w.files.existing.insert("/media/cd/setup/docs/manual.txt");
    w.Search(QStringLiteral("\\.txt$"), 0);
    QCOMPARE(w.form->ResultModel().rowCount(), 2);
    w.SelectResultRows({1, 0});
    w.form->RunPopClick();
    QCOMPARE(w.launcher.opened, std::vector<std::string>{"/media/cd/readme.txt"});

    // A double click anywhere in the list runs the selected file.
    w.SelectResultRows({1});
    QTest::mouseDClick(w.form->ListView1->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(int(w.launcher.opened.size()), 2);
    QCOMPARE(w.launcher.opened.back(), std::string("/media/cd/setup/docs/manual.txt"));

    // Nothing selected: nothing happens.
    w.form->ListView1->clearSelection();
    w.form->BrowseFolderPopClick();
    QCOMPARE(int(w.launcher.opened.size()), 2);
    QVERIFY(w.messages.texts.isEmpty());
}

void TestWindow::resultActionFindsTheDiscByName()
{
    Window w;
    w.discWaitMilliseconds = 20000;
    QVERIFY(w.Start());
    w.Search(QStringLiteral("manual"), 2);
    w.SelectResultRows({0});
    const std::string elsewhere = "/media/me/TOOLS 1998/setup/docs/manual.txt";

    // Mounted under its label, in other letter case: used without a word.
    w.volumes.Mount("/media/me/TOOLS 1998/", "TOOLS 1998");
    w.files.existing.insert(elsewhere);
    w.form->OpenNotePad->trigger();
    QCOMPARE(w.launcher.edited, std::vector<std::string>{elsewhere});
    QVERIFY(w.messages.texts.isEmpty());
    QVERIFY(w.messages.questions.isEmpty());

    // Under another label: offered in a question naming the place.
    w.volumes.list.back().label = "BACKUP";
    w.messages.confirmAnswer = true;
    w.form->RunPop->trigger();
    QCOMPARE(w.messages.questions,
             QStringList{"The disc 'Tools 1998' is not mounted, but the file is on\r\r"
                         "/media/me/TOOLS 1998/   label 'BACKUP'\r\r"
                         "This may be another disc. Use it?"});
    QCOMPARE(w.launcher.opened, std::vector<std::string>{elsewhere});

    // Inserted after the prompt: the window keeps running while it looks,
    // the drive box takes in the new volume, and the disc is used as soon
    // as it is mounted.
    w.volumes.Unmount("/media/me/TOOLS 1998/");
    w.files.existing.clear();
    w.launcher.opened.clear();
    bool boxFollowed = false;
    w.messages.onText = [&](const QString &) {
        QTimer::singleShot(300, w.form.get(), [&] {
            w.volumes.Mount("/media/me/Tools 1998/", "Tools 1998", true);
            w.files.existing.insert("/media/me/Tools 1998/setup/docs/manual.txt");
            w.volumes.Changed();
            boxFollowed = ComboItems(w.form->CDDriveComboBox).contains(QStringLiteral("/media/me/Tools 1998/"));
        });
    };
    w.form->RunPopClick();
    QCOMPARE(w.messages.texts, QStringList{"Insert CD \r\r'Tools 1998'\r\r into CD-Rom Drive, then press OK"});
    QCOMPARE(w.launcher.opened, std::vector<std::string>{"/media/me/Tools 1998/setup/docs/manual.txt"});
    QVERIFY(boxFollowed);
    QVERIFY(!w.form->Working());
}

void TestWindow::driveBoxFollowsTheVolumesWithoutTouchingTheText()
{
    Window w;
    QVERIFY(w.Start());
    QComboBox *box = w.form->CDDriveComboBox;
    QLineEdit *edit = box->lineEdit();
    box->setFocus();
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("/home/me/discs"));
    edit->setSelection(6, 3); // "me/"

    // Mounts and unmounts arrive while the window runs.
    QTimer::singleShot(50, w.form.get(), [&] {
        w.volumes.Mount("/media/me/NEW DISC/", "NEW DISC", true);
        w.volumes.Changed();
    });
    QTRY_VERIFY_WITH_TIMEOUT(ComboItems(box).contains(QStringLiteral("/media/me/NEW DISC/")), 2000);
    QCOMPARE(ComboItems(box), (QStringList{"/media/cd/", "/", "/media/me/NEW DISC/"}));
    QCOMPARE(box->itemData(2, Qt::ToolTipRole).toString(), QStringLiteral("NEW DISC"));
    QCOMPARE(box->currentText(), QStringLiteral("/home/me/discs"));
    QCOMPARE(edit->selectedText(), QStringLiteral("me/"));
    QTest::keyClicks(edit, QStringLiteral("you/"));
    QCOMPARE(box->currentText(), QStringLiteral("/home/you/discs"));

    QTimer::singleShot(50, w.form.get(), [&] {
        w.volumes.Unmount("/media/cd/");
        // An empty CD drive stays on offer; other empty mount points do not.
        TVolume empty;
        empty.root = "/media/cdrom0/";
        empty.mounted = empty.ready = false;
        empty.optical = true;
        w.volumes.list.push_back(empty);
        empty.root = "/mnt/backup/";
        empty.optical = false;
        w.volumes.list.push_back(empty);
        w.volumes.Changed();
    });
    QTRY_VERIFY_WITH_TIMEOUT(!ComboItems(box).contains(QStringLiteral("/media/cd/")), 2000);
    QCOMPARE(ComboItems(box), (QStringList{"/", "/media/me/NEW DISC/", "/media/cdrom0/"}));
    QCOMPARE(box->currentText(), QStringLiteral("/home/you/discs"));
    QCOMPARE(edit->cursorPosition(), 10);

    // Choosing an entry puts only its path into the box.
    box->setCurrentIndex(1);
    QCOMPARE(box->currentText(), QStringLiteral("/media/me/NEW DISC/"));
}

void TestWindow::renameRefusedAtLevelOneAndSavedBelow()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.activateWindow();

    // An entry directly in a disc's root: no editor opens.
    f.CatalogTree1->expand(w.Index(0));
    const QModelIndex readme = w.Index(1);
    f.CatalogTree1->setCurrentIndex(readme);
    f.CatalogTree1->edit(readme);
    QVERIFY(!f.CatalogTree1->indexWidget(readme));
    QCOMPARE(w.Node(1)->Text(), std::string_view("readme.txt"));

    // A folder two levels down: edited in place and saved at once.
    f.CatalogTree1->expand(w.Index(2));
    const QModelIndex tool = w.Index(3);
    f.CatalogTree1->setCurrentIndex(tool);
    f.CatalogTree1->edit(tool);
    auto *editor = qobject_cast<QLineEdit *>(f.CatalogTree1->indexWidget(tool));
    QVERIFY(editor);
    editor->setText(QStringLiteral("tool-2.exe"));
    QTest::keyClick(editor, Qt::Key_Return); // the delegate commits from the event loop
    QTRY_COMPARE(w.Node(3)->Text(), std::string_view("tool-2.exe"));
    QVERIFY(SavedNames().contains(QStringLiteral("  tool-2.exe")));

    // A disc name too.
    const QModelIndex disc = w.Index(9);
    f.CatalogTree1->setCurrentIndex(disc);
    f.CatalogTree1->edit(disc);
    editor = qobject_cast<QLineEdit *>(f.CatalogTree1->indexWidget(disc));
    QVERIFY(editor);
    editor->setText(QStringLiteral("Fotos ü"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(w.Node(9)->Text(), std::string_view("Fotos \xC3\xBC"));
    QCOMPARE(SavedNames().at(9), QStringLiteral("Fotos ü"));
    QCOMPARE(w.Node(9)->AbsoluteIndex(), 9);
}

void TestWindow::renameKeepsUnchangedWindowsBytes()
{
    Window w(false);
    TCatalogTree tree;
    // "Caf\xE9" is Windows-1252, not UTF-8.
    TCatalogNode *disc = tree.Items().AddChild(nullptr, "Caf\xE9 \x80");
    tree.Items().AddChild(disc, "x");
    tree.SaveToFile(QStringLiteral("mdb.dat"));
    QVERIFY(w.Start());
    const QModelIndex index = w.Index(0);
    QCOMPARE(index.data().toString(), QStringLiteral("Café €"));
    QVERIFY(w.form->TreeModel().setData(index, QStringLiteral("Café €")));
    QCOMPARE(w.Node(0)->Text(), std::string_view("Caf\xE9 \x80"));
    QVERIFY(w.form->TreeModel().setData(index, QStringLiteral("Café")));
    QCOMPARE(w.Node(0)->Text(), std::string_view("Caf\xC3\xA9"));
}

void TestWindow::removeAndRemoveAllAreSaved()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;

    // Nothing selected: nothing happens.
    f.DeleteTreeClick();
    QCOMPARE(f.CatalogTree().Items().Count(), 12);

    // A folder goes with its contents only.
    f.CatalogTree1->expand(w.Index(0));
    f.CatalogTree1->setCurrentIndex(w.Index(2));
    QCOMPARE(f.CatalogTree().Selected(), w.Node(2));
    f.DeleteTree->trigger();
    const QStringList left{"Tools 1998", " readme.txt", "Photos", " img.jpg", "Blank"};
    QCOMPARE(Names(f.CatalogTree()), left);
    QCOMPARE(SavedNames(), left);
    QCOMPARE(f.DBLabel->text(), QStringLiteral("Database: 3 files"));
    QCOMPARE(f.TreeModel().rowCount(f.TreeModel().IndexOf(w.Node(0))), 1);

    f.RemoveAll->trigger();
    QCOMPARE(f.CatalogTree().Items().Count(), 0);
    QCOMPARE(f.TreeModel().rowCount(), 0);
    QFile saved(QStringLiteral("mdb.dat"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("\x0DTNT\x0D\0\0\0\0\0", 10));
    QCOMPARE(f.DBLabel->text(), QStringLiteral("Database: 0 files"));
}

void TestWindow::expandingGivesFilesTheirIcons()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.CatalogTree1->expand(w.Index(0));
    QCOMPARE(w.Node(1)->ImageIndex(), f.SystemIcons().IconIndex("readme.txt", false, false, kFaNormal));
    QVERIFY(w.Node(2)->ImageIndex() == -1); // a folder keeps its icon
    f.CatalogTree1->expand(w.Index(2));
    QVERIFY(w.Node(3)->ImageIndex() >= 0);               // tool.exe
    QCOMPARE(w.Node(4)->ImageIndex(), kIconGenericFile); // "empty": no extension
    QCOMPARE(w.Node(6)->ImageIndex(), -1);               // below docs, not yet opened
    QVERIFY(w.Node(2)->Expanded());
    f.CatalogTree1->collapse(w.Index(2));
    QVERIFY(!w.Node(2)->Expanded());
}

void TestWindow::scanAndAddADiscFromAFolder()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;

    f.CDDriveComboBox->setEditText(QStringLiteral("/no/such/folder/"));
    f.GetNameButton->click();
    QCOMPARE(w.messages.texts, QStringList{"No CD present\r          or\rNo Volume label !"});
    QVERIFY(!f.AddNewButton->isEnabled());

    QTemporaryDir disc;
    const QString root = disc.path() + QStringLiteral("/MyDisc");
    for (const char *file : {"a.TXT", "B.txt", "zeta/z.c", "Alpha/q.h", ".hidden/secret.txt"}) {
        const QString path = root + QLatin1Char('/') + QLatin1String(file);
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
    }
    f.CDDriveComboBox->setEditText(root + QLatin1Char('/'));
    f.GetNameButton->click();
    QVERIFY(f.CDNameEdit->isEnabled());
    QVERIFY(f.AddNewButton->isEnabled());
    QCOMPARE(f.CDNameEdit->text(), QStringLiteral("MyDisc")); // a folder offers its name

    // A volume mounted there offers its label; without a label, the
    // folder's name as for a plain folder.
    {
        const std::string mount = QFile::encodeName(root + QLatin1Char('/')).toStdString();
        w.volumes.Mount(mount, "MY_LABEL");
        f.GetNameButton->click();
        QCOMPARE(f.CDNameEdit->text(), QStringLiteral("MY_LABEL"));
        w.volumes.list.back().label.clear();
        f.GetNameButton->click();
        QCOMPARE(f.CDNameEdit->text(), QStringLiteral("MyDisc"));
        // An fstab mount point with nothing on it is an empty folder that
        // is no ready drive.
        w.volumes.list.back().mounted = false;
        w.volumes.list.back().ready = false;
        w.messages.texts.clear();
        f.CDNameEdit->setText(QStringLiteral("kept"));
        f.GetNameButton->click();
        QCOMPARE(w.messages.texts, QStringList{"No CD present\r          or\rNo Volume label !"});
        QCOMPARE(f.CDNameEdit->text(), QStringLiteral("kept"));
        w.volumes.Unmount(mount);
    }

    f.CDNameEdit->setText(QStringLiteral("New Disc"));
    f.AddNewButton->click();
    const QStringList added{"New Disc", " a.TXT", " B.txt", " Alpha", "  q.h", " zeta", "  z.c"};
    QCOMPARE(Names(f.CatalogTree()).mid(12), added);
    QCOMPARE(SavedNames().mid(12), added);
    QCOMPARE(f.TreeModel().rowCount(), 4);
    QCOMPARE(f.DBLabel->text(), QStringLiteral("Database: 12 files"));
    QCOMPARE(ComboItems(f.ExtComboBox), (QStringList{"", ".c", ".exe", ".h", ".jpg", ".txt", ".zip"}));
    QVERIFY(!f.AddNewButton->isEnabled());
    QVERIFY(!f.CDNameEdit->isEnabled());
    QCOMPARE(f.CDNameEdit->text(), QStringLiteral("CD Name"));
    QVERIFY(f.Animate1->isHidden());
    QCOMPARE(w.Node(12)->ImageIndex(), kIconFolder);
    QCOMPARE(w.Node(15)->ImageIndex(), kIconFolder);
}

void TestWindow::scanAndAddAnImageAndOpenArchives()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    QCOMPARE(f.cboxArchives->parentWidget(), static_cast<QWidget *>(f.SettingsGroupBox));
    QCOMPARE(f.cboxArchives->text(), QStringLiteral("Open Archives"));
    QVERIFY(!f.cboxArchives->isChecked());
    const int before = f.CatalogTree().Items().Count();

    // A folder holding a tar archive, and an image made of the same folder.
    QTemporaryDir work;
    const QString src = work.filePath(QStringLiteral("src"));
    QVERIFY(QDir().mkpath(src + QStringLiteral("/packed/inner")));
    for (const char *file : {"a.txt", "packed/m1.c", "packed/inner/m2.h"}) {
        QFile out(src + QLatin1Char('/') + QLatin1String(file));
        QVERIFY(out.open(QIODevice::WriteOnly));
    }
    QProcess tar;
    tar.start(QStringLiteral("tar"), {"-cf", src + "/pack.tar", "-C", src + "/packed", "."});
    QVERIFY(tar.waitForFinished() && tar.exitCode() == 0);
    QVERIFY(QDir(src + QStringLiteral("/packed")).removeRecursively());
    const QString image = work.filePath(QStringLiteral("disc.iso"));
    QProcess xorriso;
    xorriso.start(QStringLiteral("xorriso"), {"-as", "mkisofs", "-R", "-V", "GUIDISC", "-o", image, src});
    QVERIFY2(xorriso.waitForFinished(60000) && xorriso.exitCode() == 0, "xorriso is needed");

    // Not an image: refused, naming the file, nothing enabled.
    const QString notImage = work.filePath(QStringLiteral("src/a.txt"));
    f.CDDriveComboBox->setEditText(notImage);
    f.GetNameButton->click();
    QCOMPARE(
        w.messages.errors,
        QStringList{QStringLiteral("Cannot read disc image ") + notImage + QStringLiteral(": not an ISO 9660 image")});
    QVERIFY(!f.AddNewButton->isEnabled());

    // The image offers its label and is catalogued; the archive inside it
    // stays a file even with archives opened.
    f.cboxArchives->setChecked(true);
    f.CDDriveComboBox->setEditText(image);
    f.GetNameButton->click();
    QCOMPARE(f.CDNameEdit->text(), QStringLiteral("GUIDISC"));
    f.AddNewButton->click();
    QCOMPARE(Names(f.CatalogTree()).mid(before), (QStringList{"GUIDISC", " a.txt", " pack.tar"}));

    // The folder with archives opened: the tar is a folder of its members.
    f.CDDriveComboBox->setEditText(src + QLatin1Char('/'));
    f.GetNameButton->click();
    f.AddNewButton->click();
    QCOMPARE(Names(f.CatalogTree()).mid(before + 3),
             (QStringList{"src", " a.txt", " pack.tar", "  m1.c", "  inner", "   m2.h"}));
    QCOMPARE(SavedNames().mid(before + 3), Names(f.CatalogTree()).mid(before + 3));
}

void TestWindow::actionsDuringLongWorkAreRefused()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    f.CatalogTree1->setCurrentIndex(w.Index(0));
    // The library's warning comes while the search runs: everything that
    // would change the catalog or start other long work is refused there.
    bool ran = false;
    w.messages.onWarning = [&] {
        ran = true;
        QVERIFY(f.Working());
        f.DeleteTreeClick();
        f.RemoveAllClick();
        f.SearchStringEdit->setText(QStringLiteral("readme"));
        f.SearchButtonClick();
        bool allow = true;
        f.CatalogTree1Editing(w.Node(0), allow);
        QVERIFY(!allow);
        f.QuitButtonClick(); // deferred until the search ends
        QVERIFY(f.isHidden());
    };
    w.Search(QStringLiteral("a\\"));
    w.Search(QStringLiteral("[z"));
    QVERIFY(ran);
    QCOMPARE(f.CatalogTree().Items().Count(), 12);
    QCOMPARE(w.ResultRows(), QStringList());
    QCOMPARE(SavedNames().size(), 12);
    QVERIFY(w.messages.texts.contains(QStringLiteral("No matches !")));
}

void TestWindow::helpOpensThePageFromTheWorkingDirectory()
{
    Window w;
    QVERIFY(w.Start());
    QFile page(QStringLiteral("tslcat_help.html"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.close();
    w.form->GHelpButton->click();
    QCOMPARE(w.launcher.opened,
             std::vector<std::string>{
                 QFile::encodeName(QDir::current().absoluteFilePath("tslcat_help.html")).toStdString()});
}

void TestWindow::treeModelPassesTheModelTester()
{
    TCatalogTree tree;
    SystemIconList icons;
    TCatalogTreeModel model(tree, icons);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    TCatalogTreeView view;
    view.setModel(&model);
    view.show();

    BuildSample(tree);
    QCOMPARE(model.rowCount(), 3);
    view.expandAll();
    TCatalogNodes &items = tree.Items();
    items.Item(2)->SetText("Setup");
    items.Item(6)->SetIcons(kIconGenericFile, kIconGenericFile);
    QCOMPARE(model.IndexOf(items.Item(6)).data(Qt::DecorationRole).value<QIcon>().isNull(), false);

    // Appends inside an update appear when it ends.
    items.BeginUpdate();
    TCatalogNode *disc = items.AddChild(nullptr, "Scanned");
    for (int i = 0; i < 50; ++i)
        items.AddChild(items.AddChild(disc, "folder"), "file");
    QCOMPARE(model.rowCount(), 3);
    items.AddChild(items.Item(0), "late"); // below a disc the view knows: passed on at once
    QCOMPARE(model.rowCount(model.index(0, 0)), 3);
    items.EndUpdate();
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.rowCount(model.index(3, 0)), 50);
    QCOMPARE(model.parent(model.index(7, 0, model.index(3, 0))), model.index(3, 0));

    items.Delete(items.Item(5)); // docs: setup keeps tool.exe, empty
    QCOMPARE(model.rowCount(model.index(1, 0, model.index(0, 0))), 2);
    items.Delete(items.TopLevel(1));
    QCOMPARE(model.rowCount(), 3);
    items.Clear();
    QCOMPARE(model.rowCount(), 0);
    BuildSample(tree);
    QCOMPARE(model.rowCount(), 3);
}

// Disc "Sized": big.iso (3 MiB, 2021-03-04 05:06:07 UTC), note.txt (12
// bytes, 2020), old.txt (nothing known), folder sub holding tiny (1 byte).
void BuildSized()
{
    TCatalogTree tree;
    TCatalogNodes &items = tree.Items();
    TCatalogNode *disc = items.AddChild(nullptr, "Sized");
    disc->SetFileInfo(TNodeKind::Disc);
    items.AddChild(disc, "big.iso")->SetFileInfo(TNodeKind::File, 3 << 20, 1614834367);
    items.AddChild(disc, "note.txt")->SetFileInfo(TNodeKind::File, 12, 1577836800);
    items.AddChild(disc, "old.txt");
    TCatalogNode *sub = items.AddChild(disc, "sub");
    sub->SetFileInfo(TNodeKind::Folder);
    items.AddChild(sub, "tiny")->SetFileInfo(TNodeKind::File, 1, 1577836800);
    tree.SaveToFile(QStringLiteral("mdb.dat"));
}

void TestWindow::sizeAndModifiedColumnsSortByHeader()
{
    Window w(false);
    BuildSized();
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    TResultListModel &model = f.ResultModel();
    QCOMPARE(model.columnCount(), 5);
    QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Size"));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Modified"));

    w.Search(QStringLiteral("."), 0);
    auto column = [&](int c) {
        QStringList cells;
        for (int r = 0; r < model.rowCount(); ++r)
            cells << model.index(r, c).data().toString();
        return cells;
    };
    const QLocale locale;
    QCOMPARE(column(1), (QStringList{"big.iso", "note.txt", "old.txt", "tiny"}));
    QCOMPARE(column(3),
             (QStringList{locale.formattedDataSize(3 << 20), locale.formattedDataSize(12), QString(),
                          locale.formattedDataSize(1)}));
    QCOMPARE(model.index(0, 3).data(Qt::ToolTipRole).toString(),
             QStringLiteral("%1 bytes").arg(locale.toString(3 << 20)));
    QVERIFY(!model.index(2, 3).data(Qt::ToolTipRole).isValid());
    QCOMPARE(model.index(0, 4).data().toString(),
             locale.toString(QDateTime::fromSecsSinceEpoch(1614834367).toLocalTime(), QLocale::ShortFormat));
    QVERIFY(model.index(2, 4).data().toString().isEmpty());

    // A click on the header sorts; a second click turns the order round.
    QHeaderView *header = f.ListView1->horizontalHeader();
    f.ListView1->selectRow(1); // note.txt stays selected while rows move
    auto clickHeader = [&](int section) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
    };
    f.ListView1->scrollTo(model.index(0, 3));
    clickHeader(3);
    QCOMPARE(column(1), (QStringList{"old.txt", "tiny", "note.txt", "big.iso"}));
    clickHeader(3);
    QCOMPARE(column(1), (QStringList{"big.iso", "note.txt", "tiny", "old.txt"}));
    QCOMPARE(f.ListView1->selectionModel()->selectedRows(0).value(0).row(), 1);
    QCOMPARE(model.Row(1)->nodeName, std::string("note.txt"));
    header->setSortIndicator(4, Qt::DescendingOrder);
    QCOMPARE(column(1), (QStringList{"big.iso", "note.txt", "tiny", "old.txt"}));

    // A new search shows tree order again.
    w.Search(QStringLiteral("."), 0);
    QCOMPARE(column(1), (QStringList{"big.iso", "note.txt", "old.txt", "tiny"}));
    QCOMPARE(header->sortIndicatorSection(), -1);
}

void TestWindow::discTooltipHasTotalSizeAndFileCount()
{
    Window w(false);
    BuildSized();
    QVERIFY(w.Start());
    const QLocale locale;
    const qint64 total = (3 << 20) + 12 + 1;
    QCOMPARE(w.Index(0).data(Qt::ToolTipRole).toString(),
             QStringLiteral("Total size: %1 (%2 bytes)\nFiles: 4")
                 .arg(locale.formattedDataSize(total), locale.toString(total)));
    QVERIFY(!w.Index(1).data(Qt::ToolTipRole).isValid());
}

void TestWindow::exportResultsWritesTheRowsAsCsv()
{
    Window w(false);
    BuildSized();
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    auto *action = f.findChild<QAction *>(QStringLiteral("ExportResults"));
    QVERIFY(action);
    QCOMPARE(action->text(), QString::fromUtf8("Export Results\u2026"));
    w.Search(QStringLiteral("t"), 0);
    w.exportFile = w.dir.filePath(QStringLiteral("out.csv"));
    action->trigger();
    QCOMPARE(QString::fromStdString(ReadFileBytes(w.exportFile)),
             QStringLiteral("disc,name,path,kind,size,modified\r\n"
                            "Sized,note.txt,[ ]:\\note.txt,file,12,2020-01-01T00:00:00Z\r\n"
                            "Sized,old.txt,[ ]:\\old.txt,file,,\r\n"
                            "Sized,tiny,[ ]:\\sub\\tiny,file,1,2020-01-01T00:00:00Z\r\n"));
    // Cancelling the dialog writes nothing.
    QVERIFY(QFile::remove(w.exportFile));
    w.exportFile.clear();
    action->trigger();
    QVERIFY(w.messages.errors.isEmpty());
}

void TestWindow::updateCDAsksWhenTheLabelDiffersAndSaves()
{
    Window w;
    QVERIFY(w.Start());
    TForm1 &f = *w.form;
    auto *update = f.findChild<QAction *>(QStringLiteral("UpdateCD"));
    QVERIFY(update);
    QCOMPARE(update->text(), QStringLiteral("Update CD"));

    QTemporaryDir disc;
    for (const char *file : {"new.txt", "setup/tool.exe"}) {
        const QString path = disc.filePath(QLatin1String(file));
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("abc");
    }
    f.CDDriveComboBox->setEditText(disc.path() + QLatin1Char('/'));
    f.CatalogTree().SetSelected(w.Node(3)); // tool.exe on "Tools 1998"
    const QStringList before = SavedNames();

    // The folder has no label, unlike "Tools 1998": the user is asked.
    w.messages.confirmAnswer = false;
    update->trigger();
    QCOMPARE(w.messages.questions.size(), 1);
    QVERIFY(w.messages.questions[0].contains(QStringLiteral("Tools 1998")));
    QCOMPARE(SavedNames(), before);

    w.messages.confirmAnswer = true;
    update->trigger();
    QCOMPARE(SavedNames(),
             (QStringList{"Tools 1998", " new.txt", " setup", "  tool.exe", "Photos", " img.jpg", "Blank"}));
    QCOMPARE(w.Node(1)->Size(), 3u);
    QCOMPARE(f.DBLabel->text(), QStringLiteral("Database: 4 files"));

    // Nothing readable: a message and no change.
    f.CDDriveComboBox->setEditText(QStringLiteral("/no/such/folder/"));
    f.CatalogTree().SetSelected(w.Node(0));
    update->trigger();
    QVERIFY(!w.messages.texts.isEmpty());
    QCOMPARE(w.messages.texts.last(), QStringLiteral("Nothing readable at /no/such/folder/"));
    QCOMPARE(SavedNames().size(), 7);
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
