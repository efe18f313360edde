// TForm1: the main window of tslcat.  It lays out the controls, turns user
// actions into calls on the catalog core (load, save, add a disc, search,
// result actions) and shows what the core reports.  The catalog's rules
// live in the core; what is here is the window's side of them.
//
// Long work (loading, adding a disc, searching) runs on the window's thread
// and lets the window process events in time slices of about 16 ms, so it
// repaints and the gauge moves without slowing a large catalog down.  While
// such work runs, every action that would change the catalog or start
// another long operation is refused (it does nothing); leaving the program
// is deferred until the work ends.
//
// Other programs (tslcat-cli, another window) may change the catalog file
// while the window is open.  Every change the window makes is a kept
// operation (catalog_edits.h), committed under the catalog's writer lock:
// when the file changed since the window last loaded or saved it, the
// window reloads it and makes its change again on what it read.  While idle
// it watches the file and shows others' changes within a moment.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "catalog_edits.h"
#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_tree.h"
#include "result_actions.h"
#include "volumes.h"

class QAction;
class QFileSystemWatcher;
class QTimer;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableView;
class QTreeView;

namespace tslcat {

class SystemIconList;
class TBusyAnimation;
class TCatalogTreeModel;
class TCatalogTreeView;
class TMessages;
class TResultListModel;

// What the window needs from the system, replaceable by tests.  Null
// members get the real implementations.
struct TFormServices {
    TMessages *messages = nullptr;
    ILauncher *launcher = nullptr;
    IVolumeList *volumes = nullptr; // the drive box, drive readiness and the disc lookup
    IFileProbe *files = nullptr;
    // The file "Export Results..." writes; "" when the user cancels.  Null:
    // a save dialog.
    std::function<QString()> chooseExportFile;
    int discWaitMilliseconds = 10000; // looking for a disc after the insert prompt
};

// Timing of the event processing during long work, for the benchmark.
struct TEventSliceStats {
    qint64 longestGapMs = 0; // longest time between two event-processing points
    qint64 slices = 0;       // how often events were processed
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(TFormServices services = {}, QWidget *parent = nullptr);
    ~TForm1() override;

    // --- controls, by their designer names ---
    QLabel *DBLabel;
    QLabel *Label3;
    TCatalogTreeView *CatalogTree1;
    QTableView *ListView1;
    QGroupBox *AddGroupBox;
    QPushButton *GetNameButton;
    QLineEdit *CDNameEdit;
    QPushButton *AddNewButton;
    QGroupBox *SettingsGroupBox;
    QLabel *NewCDLabel;
    QComboBox *CDDriveComboBox;
    QGroupBox *SearchGroupBox;
    QLabel *SearchStringLabel;
    QLineEdit *SearchStringEdit;
    QCheckBox *cboxMatchCase;
    // "Open Archives" in "Settings:": catalog the members of archives found
    // by "Add CD to Database".  Off at start.
    QCheckBox *cboxArchives;
    QGroupBox *TypeRadioGroup;
    QButtonGroup *TypeRadioButtons; // ids 0..3: Filename, Folder, Filename && Folder, CD
    QPushButton *SearchButton;
    QPushButton *HelpButton;
    QLabel *Label4;
    QComboBox *ExtComboBox;
    QLabel *FoundLabel;
    // "Match:" how names are judged: "Regular expression", "About right"
    // (with MatchErrorsBox: 1, 2 or 3 wrong characters), "Sounds like".
    QLabel *MatchLabel;
    QComboBox *MatchComboBox;
    QComboBox *MatchErrorsBox;
    QGroupBox *GroupBox1;
    QLabel *ProgressLabel;
    QProgressBar *LoadGauge;
    QPushButton *GHelpButton;
    QPushButton *QuitButton;
    TBusyAnimation *Animate1;
    QMenu *TreePopupMenu;
    QAction *DeleteTree;
    QAction *RemoveAll;
    QAction *UpdateCD;
    QMenu *ListViewPopupMenu;
    QAction *RunPop;
    QAction *OpenNotePad;
    QAction *BrowseFolderPop;
    QAction *ExportResults;

    // --- handlers ---
    void FormCreate();
    void FormShow();
    void FormResize();
    void LoadCatalog();
    void SaveCatalog();
    void GetNameButtonClick();
    void AddNewButtonClick();
    void SearchButtonClick();
    void SearchStringEditClick();
    // Search as you type: the text box changed by the user; the search
    // follows kTypeAheadDelayMs after the last change.
    void SearchStringEdited();
    void TypeAheadTimeout();
    void MatchComboBoxChange();
    TMatchSpec CurrentMatchSpec() const;
    static constexpr int kTypeAheadDelayMs = 150;
    // Results follow the typing while the last search of the same mode took
    // at most this long.
    static constexpr qint64 kTypeAheadLimitMs = 100;
    // How long the last search of `spec`'s mode took, -1 before the first;
    // the setter stands in for a slow catalog.
    qint64 LastSearchMilliseconds(const TMatchSpec &spec) const;
    void SetLastSearchMilliseconds(const TMatchSpec &spec, qint64 ms);
    void TypeRadioGroupClick();
    void HelpButtonClick();
    void GHelpButtonClick();
    void QuitButtonClick();
    void CatalogTree1Editing(TCatalogNode *node, bool &allowEdit);
    void CatalogTree1Edited(TCatalogNode *node, const std::string &text);
    void CatalogTree1Expanding(TCatalogNode *node, bool &allowExpansion);
    void CatalogTree1Change(TCatalogNode *node);
    void DeleteTreeClick();
    void RemoveAllClick();
    void UpdateCDClick();
    void ExportResultsClick();
    void RunPopClick();
    void OpenNotePadClick();
    void BrowseFolderPopClick();
    void ListView1SelectItem(int row, bool selected);
    void ListView1DblClick();
    // Refills the drive box from the volume list, keeping its text.
    void VolumesChanged();

    // --- state, for tests and the benchmark ---
    TCatalogTree &CatalogTree() { return *m_tree; }
    TCatalogTreeModel &TreeModel() { return *m_treeModel; }
    TResultListModel &ResultModel() { return *m_resultModel; }
    SystemIconList &SystemIcons() { return *m_icons; }
    bool LoadPending() const { return m_loadPending; }
    bool Working() const { return m_working > 0; }
    int LoadCount() const { return m_loadCount; }
    const TEventSliceStats &SliceStats() const { return m_sliceStats; }
    void ResetSliceStats() { m_sliceStats = {}; }
    static QString ExamplesText();
    // The database file, "mdb.dat" in the working directory.
    static QString DatabaseFileName();
    // Reads the file again when someone else changed it and the window is
    // idle (the file watcher calls it, shortly after a change).
    void CheckForOutsideChange();
    // How long the file watcher waits after a change before it looks.
    static constexpr int kOutsideChangeDelayMs = 300;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Progress;
    class WorkScope;
    friend class Progress;
    friend class WorkScope;

    void FillDriveBox(const std::vector<TVolume> &volumes);
    void BuildControls();
    void ConnectHandlers();
    void RunResultAction(TResultAction action);
    std::shared_ptr<const TResultRow> FirstSelectedRow() const;
    // Turns the result rows that still refer to nodes into copies: called
    // before anything changes the tree.
    void DetachResults();
    void SyncViewWithTree();
    void ProcessEventsSlice(bool force);
    void ShowFileTypes(const TFileTypeList &types);
    QString DamagedCatalogKeepName() const;
    void KeepDamagedCatalog(const QString &keep);
    // Commits one change under the writer lock (reloading first when the
    // file changed); reports a change that no longer applies, a lock that
    // stays taken and failures.  True when the change was saved.
    bool CommitEdit(const TCatalogEdit &edit);
    // Reads the file into the tree again, keeping the selected node (or its
    // disc) when it is still there.  Throws the load's errors.
    void ReloadTreeFromDisk();
    void WatchCatalogFile();
    void LimitSearchText();
    static void LibraryMessageSink(const char *text, const char *caption);

    // Services and their real stand-ins.
    TFormServices m_services;
    std::unique_ptr<TMessages> m_ownMessages;
    std::unique_ptr<ILauncher> m_ownLauncher;
    std::unique_ptr<IVolumeList> m_ownVolumes;
    std::unique_ptr<IFileProbe> m_ownFiles;
    std::unique_ptr<IVolumeQuery> m_driveQuery; // a drive root's readiness on the volume list
    class DiscWaiter;
    std::unique_ptr<DiscWaiter> m_discWaiter;

    std::unique_ptr<TCatalogTree> m_tree;
    std::unique_ptr<SystemIconList> m_icons;
    TCatalogTreeModel *m_treeModel = nullptr;
    TResultListModel *m_resultModel = nullptr;
    std::unique_ptr<Progress> m_progress;
    std::unique_ptr<TCatalogCommitter> m_committer;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_outsideChangeTimer = nullptr;
    QTimer *m_typeAheadTimer = nullptr;
    TSearchControl *m_searchControl = nullptr; // while a search runs
    // Milliseconds the last search of each mode took (regex, approx 0..9,
    // soundex), -1 before the first.
    qint64 m_lastSearchMs[12] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    // One search of the window: `typed` for the search as you type (errors
    // go to the status line, no message box and no beep).
    void RunWindowSearch(bool typed);

    bool m_loadPending = false;
    bool m_shown = false;
    bool m_inResize = false;
    bool m_loadFailed = false; // the file on disk holds more than the tree
    bool m_quitPending = false;
    int m_working = 0;
    int m_loadCount = 0;
    std::string m_scannedLabel; // bytes of the last disc name "Scan CD" offered
    int64_t m_shownHits = 0;    // the count FoundLabel shows
    TSearchKind m_searchKind = TSearchKind::FilesAndFolders;
    unsigned m_sliceCalls = 0;
    bool m_sliceEveryCall = false; // while a search runs: its driver calls seldom
    QElapsedTimer m_sliceClock;
    TEventSliceStats m_sliceStats;
};

} // namespace tslcat
