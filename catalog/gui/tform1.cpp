#include "tform1.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTableView>
#include <QTreeView>

#include "anchors.h"
#include "busyindicator.h"
#include "catalog_errors.h"
#include "catalog_export.h"
#include "catalog_lock.h"
#include "catalog_names.h"
#include "catalog_texts.h"
#include "catalog_update.h"
#include "catalogtreemodel.h"
#include "catalogtreeview.h"
#include "desktopservices.h"
#include "quarn32.h"
#include "resultlistmodel.h"
#include "systemiconlist.h"
#include "tree_scanner.h"

namespace tslcat {

namespace {

// The client area the layout was designed for: an 800 x 600 window less
// its frame.
constexpr QSize kDesignClient(792, 573);

// The window whose message box shows the library's reports; there is one
// main window per process.
TMessages *g_libraryMessages = nullptr;
// Library reports while a typed search compiles: kept for the status line
// instead of a message box.
QString *g_typedSearchReport = nullptr;

QString Text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

std::string PathBytes(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// The drive box's list shows each volume's label beside its mount path;
// the path alone is the item's text, so choosing an item puts just the path
// into the box.
constexpr int kVolumeLabelRole = Qt::UserRole + 1;

class TDriveItemDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString label = index.data(kVolumeLabelRole).toString();
        if (!label.isEmpty())
            option->text += QStringLiteral("   ") + label;
    }
};

QLabel *MakeLabel(const QString &text, QWidget *parent, const char *name)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QPushButton *MakeButton(const QString &caption, QWidget *parent, const char *name)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QGroupBox *MakeGroup(const QString &caption, QWidget *parent, const char *name)
{
    auto *group = new QGroupBox(caption, parent);
    group->setObjectName(QLatin1String(name));
    return group;
}

// A label sized to its text, at its designed top-left corner; `minWidth`
// keeps room for texts that change (counts).
QRect AutoSized(QLabel *label, int left, int top, int minWidth = 0)
{
    const QSize hint = label->sizeHint();
    return QRect(left, top, qMax(hint.width(), minWidth), hint.height());
}

} // namespace

// --- progress hooks of the core -----------------------------------------------

class TForm1::Progress final : public ICatalogProgress {
public:
    explicit Progress(TForm1 &form) : m_form(form) {}

    bool animate = true; // show Animate1 while busy (loading, adding)
    int pendingPosition = -1;

    void SetStatusText(const char *text) override
    {
        m_form.ProgressLabel->setText(Text(text));
        m_form.ProgressLabel->repaint();
    }
    void ShowGauge(bool visible) override { m_form.LoadGauge->setVisible(visible); }
    void SetGaugeMaximum(int maximum) override { m_form.LoadGauge->setRange(0, qMax(0, maximum)); }
    void SetGaugePosition(int position) override { pendingPosition = position; }
    void SetBusy(bool busy) override
    {
        if (busy && !m_cursor) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_cursor = true;
        } else if (!busy && m_cursor) {
            QApplication::restoreOverrideCursor();
            m_cursor = false;
        }
        if (busy && animate) {
            m_form.Animate1->show();
            m_form.Animate1->raise();
            m_form.Animate1->SetActive(true);
        } else if (!busy) {
            m_form.Animate1->SetActive(false);
            m_form.Animate1->hide();
        }
    }
    void ProcessEvents() override { m_form.ProcessEventsSlice(false); }

    // Puts the cursor, the animation, the gauge and the status back after a
    // failure left them on.
    void Reset()
    {
        SetBusy(false);
        m_form.LoadGauge->hide();
        m_form.ProgressLabel->setText(QString());
    }

private:
    TForm1 &m_form;
    bool m_cursor = false;
};

// Marks long work for its lifetime: actions are refused meanwhile, and a
// request to leave is carried out when it ends.
class TForm1::WorkScope {
public:
    explicit WorkScope(TForm1 &form) : m_form(form)
    {
        if (m_form.m_working++ == 0)
            m_form.m_sliceClock.start();
    }
    ~WorkScope()
    {
        if (--m_form.m_working > 0)
            return;
        m_form.m_sliceStats.longestGapMs = qMax(m_form.m_sliceStats.longestGapMs, m_form.m_sliceClock.elapsed());
        m_form.m_sliceClock.invalidate();
        if (m_form.m_quitPending) {
            QTimer::singleShot(0, &m_form, [form = &m_form] {
                form->close();
                QCoreApplication::quit();
            });
        }
    }
    WorkScope(const WorkScope &) = delete;
    WorkScope &operator=(const WorkScope &) = delete;

private:
    TForm1 &m_form;
};

// Waits for a disc with the window responsive: the wait ends early when the
// volumes change, and at once when the user leaves the program.
class TForm1::DiscWaiter final : public IWaiter {
public:
    explicit DiscWaiter(TForm1 &form) : m_form(form) {}

    bool Wait(int milliseconds) override
    {
        if (m_form.m_quitPending)
            return false;
        // The user sees that the program is still looking.
        QApplication::setOverrideCursor(Qt::BusyCursor);
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(milliseconds);
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
        QApplication::restoreOverrideCursor();
        return !m_form.m_quitPending;
    }
    // The volumes changed or the program is leaving: look again now.
    void Wake()
    {
        if (m_loop)
            m_loop->quit();
    }

private:
    TForm1 &m_form;
    QEventLoop *m_loop = nullptr; // non-owning: the running Wait owns it
};

// --- construction ---------------------------------------------------------------

TForm1::TForm1(TFormServices services, QWidget *parent)
    : QWidget(parent), m_services(std::move(services)), m_tree(std::make_unique<TCatalogTree>()),
      m_icons(std::make_unique<SystemIconList>(isSmall, true))
{
    if (!m_services.messages) {
        m_ownMessages = std::make_unique<TBoxMessages>(this);
        m_services.messages = m_ownMessages.get();
    }
    if (!m_services.launcher) {
        m_ownLauncher = std::make_unique<TDesktopLauncher>();
        m_services.launcher = m_ownLauncher.get();
    }
    if (!m_services.volumes) {
        m_ownVolumes = std::make_unique<TSystemVolumeList>();
        m_services.volumes = m_ownVolumes.get();
    }
    if (!m_services.files) {
        m_ownFiles = std::make_unique<TSystemFileProbe>();
        m_services.files = m_ownFiles.get();
    }
    m_driveQuery = std::make_unique<TVolumeListQuery>(*m_services.volumes);
    m_discWaiter = std::make_unique<DiscWaiter>(*this);
    m_progress = std::make_unique<Progress>(*this);
    m_committer = std::make_unique<TCatalogCommitter>(DatabaseFileName());

    // Others' saves rename a new file over the catalog, which a watch on the
    // file alone loses; the folder's watch sees the rename.  A short delay
    // lets a burst of changes settle into one look.
    m_watcher = new QFileSystemWatcher(this);
    m_outsideChangeTimer = new QTimer(this);
    m_outsideChangeTimer->setSingleShot(true);
    m_outsideChangeTimer->setInterval(kOutsideChangeDelayMs);
    connect(m_outsideChangeTimer, &QTimer::timeout, this, &TForm1::CheckForOutsideChange);
    // A change while the timer runs does not restart it: a folder that
    // changes all the time must not put the look off for ever.
    auto lookSoon = [this] {
        if (!m_outsideChangeTimer->isActive())
            m_outsideChangeTimer->start();
    };
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, lookSoon);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, lookSoon);

    BuildControls();
    ConnectHandlers();
    FormCreate();
    m_services.volumes->Watch([this] { VolumesChanged(); });
}

TForm1::~TForm1()
{
    if (g_libraryMessages == m_services.messages) {
        QuarnSetMessageSink(nullptr);
        g_libraryMessages = nullptr;
    }
    // The model observes the tree: detach it before the tree goes.
    delete m_treeModel;
    m_treeModel = nullptr;
    // The result rows are not shown any more: their node references go
    // before the tree does, rather than be copied for nobody.
    m_resultModel->Clear();
}

QString TForm1::DatabaseFileName()
{
    return Text(texts::kDatabaseFileName);
}

void TForm1::BuildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tessaly-Catalog"));
    QFont designFont = font();
    designFont.setPointSize(8);
    setFont(designFont);
    resize(kDesignClient);
    setMinimumSize(kDesignClient.width(), 515 - (600 - kDesignClient.height()));
    move(189, 136);

    auto *form = new TAnchors(this, kDesignClient);

    DBLabel = MakeLabel(Text(texts::kDatabaseLabelInitial), this, "DBLabel");
    form->Place(DBLabel, AutoSized(DBLabel, 8, 0, 313), akLeft | akTop);
    Label3 = MakeLabel(QStringLiteral("Search Results"), this, "Label3");
    form->Place(Label3, AutoSized(Label3, 328, 0, 457), akLeft | akTop | akRight);

    CatalogTree1 = new TCatalogTreeView(this);
    CatalogTree1->setObjectName(QStringLiteral("CatalogTree1"));
    m_treeModel = new TCatalogTreeModel(*m_tree, *m_icons, this);
    CatalogTree1->setModel(m_treeModel);
    form->Place(CatalogTree1, QRect(8, 16, 313, 449), akLeft | akTop | akBottom);

    // A table view: its rows cost nothing until shown, so a search with a
    // million hits is displayed at once.
    ListView1 = new QTableView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    m_resultModel = new TResultListModel(this);
    ListView1->setModel(m_resultModel);
    ListView1->setShowGrid(false);
    ListView1->setWordWrap(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setMinimumSectionSize(1);
    ListView1->verticalHeader()->setDefaultSectionSize(qMax(16, ListView1->fontMetrics().height() + 2));
    ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    ListView1->horizontalHeader()->setSectionsMovable(false);
    ListView1->setColumnWidth(0, 230);
    ListView1->setColumnWidth(1, 220);
    ListView1->setColumnWidth(2, 500);
    ListView1->setColumnWidth(TResultListModel::kSizeColumn, 80);
    ListView1->setColumnWidth(TResultListModel::kModifiedColumn, 130);
    // Rows come in tree order; a click on a header sorts by that column.
    ListView1->horizontalHeader()->setSectionsClickable(true);
    ListView1->horizontalHeader()->setSortIndicatorShown(true);
    ListView1->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    form->Place(ListView1, QRect(328, 16, 457, 382), akLeft | akTop | akRight | akBottom);

    // "Add New CD"
    AddGroupBox = MakeGroup(QStringLiteral("Add New CD"), this, "AddGroupBox");
    form->Place(AddGroupBox, QRect(9, 469, 192, 100), akLeft | akBottom);
    GetNameButton = MakeButton(QStringLiteral("Scan CD"), AddGroupBox, "GetNameButton");
    GetNameButton->setGeometry(8, 24, 57, 25);
    CDNameEdit = new QLineEdit(Text(texts::kCDNameInitial), AddGroupBox);
    CDNameEdit->setObjectName(QStringLiteral("CDNameEdit"));
    CDNameEdit->setMaxLength(50);
    CDNameEdit->setEnabled(false);
    CDNameEdit->setGeometry(72, 26, 113, 21);
    AddNewButton = MakeButton(QStringLiteral("Add CD to Database"), AddGroupBox, "AddNewButton");
    AddNewButton->setEnabled(false);
    AddNewButton->setGeometry(8, 64, 177, 25);

    // "Settings:"
    SettingsGroupBox = MakeGroup(QStringLiteral("Settings:"), this, "SettingsGroupBox");
    form->Place(SettingsGroupBox, QRect(208, 472, 113, 97), akLeft | akBottom);
    NewCDLabel = MakeLabel(QStringLiteral("Drive Letter (CD):"), SettingsGroupBox, "NewCDLabel");
    NewCDLabel->setGeometry(AutoSized(NewCDLabel, 8, 28));
    CDDriveComboBox = new QComboBox(SettingsGroupBox);
    CDDriveComboBox->setObjectName(QStringLiteral("CDDriveComboBox"));
    CDDriveComboBox->setEditable(true);
    CDDriveComboBox->setInsertPolicy(QComboBox::NoInsert);
    // Mount points are longer than drive letters: the box keeps its place
    // but uses the group's width, and its list may be wider still.
    CDDriveComboBox->setGeometry(8, 56, 97, 21);
    CDDriveComboBox->view()->setMinimumWidth(200);
    CDDriveComboBox->setItemDelegate(new TDriveItemDelegate(CDDriveComboBox));
    cboxArchives = new QCheckBox(QStringLiteral("Open Archives"), SettingsGroupBox);
    cboxArchives->setObjectName(QStringLiteral("cboxArchives"));
    cboxArchives->setToolTip(QStringLiteral("List the members of zip, 7z, tar and ISO files found on the disc"));
    cboxArchives->setGeometry(8, 78, 97, 17);

    // "Search:"
    SearchGroupBox = MakeGroup(QStringLiteral("Search:"), this, "SearchGroupBox");
    form->Place(SearchGroupBox, QRect(329, 406, 455, 128), akLeft | akRight | akBottom);
    auto *search = new TAnchors(SearchGroupBox, QSize(455, 128));
    SearchStringLabel = MakeLabel(QStringLiteral("Text to search for:"), SearchGroupBox, "SearchStringLabel");
    SearchStringLabel->setGeometry(AutoSized(SearchStringLabel, 8, 24));
    SearchStringEdit = new QLineEdit(Text(texts::kSearchTextInitial), SearchGroupBox);
    SearchStringEdit->setObjectName(QStringLiteral("SearchStringEdit"));
    SearchStringEdit->setMaxLength(50);
    SearchStringEdit->setGeometry(8, 40, 305, 21);
    cboxMatchCase = new QCheckBox(QStringLiteral("Case Sensitive"), SearchGroupBox);
    cboxMatchCase->setObjectName(QStringLiteral("cboxMatchCase"));
    cboxMatchCase->setGeometry(352, 44, qMax(89, cboxMatchCase->sizeHint().width()), 17);

    TypeRadioGroup = MakeGroup(QStringLiteral("Search for:"), SearchGroupBox, "TypeRadioGroup");
    TypeRadioGroup->setGeometry(8, 72, 217, 49);
    TypeRadioButtons = new QButtonGroup(TypeRadioGroup);
    // Two columns, filled top to bottom.
    static const char *const kItems[] = {"Filename", "Folder", "Filename && Folder", "CD"};
    for (int i = 0; i < 4; ++i) {
        // A doubled ampersand is one literal ampersand in a caption.
        QString caption = QLatin1String(kItems[i]);
        auto *item = new QRadioButton(caption, TypeRadioGroup);
        item->setObjectName(QStringLiteral("TypeRadioItem%1").arg(i));
        // The second column starts a little left of the middle so that
        // "Filename & Folder" fits whole in wider fonts.
        item->setGeometry(i / 2 ? 96 : 8, 15 + (i % 2) * 16, i / 2 ? 117 : 86, 16);
        TypeRadioButtons->addButton(item, i);
    }
    TypeRadioButtons->button(2)->setChecked(true);

    SearchButton = MakeButton(QStringLiteral("Search"), SearchGroupBox, "SearchButton");
    SearchButton->setGeometry(320, 72, 89, 33);
    HelpButton = MakeButton(QStringLiteral("?"), SearchGroupBox, "HelpButton");
    QFont bold = HelpButton->font();
    bold.setBold(true);
    HelpButton->setFont(bold);
    HelpButton->setGeometry(424, 72, 21, 33);
    Label4 = MakeLabel(QStringLiteral("File Type Filter:"), SearchGroupBox, "Label4");
    Label4->setGeometry(AutoSized(Label4, 232, 83));
    ExtComboBox = new QComboBox(SearchGroupBox);
    ExtComboBox->setObjectName(QStringLiteral("ExtComboBox"));
    ExtComboBox->setEditable(true);
    ExtComboBox->setInsertPolicy(QComboBox::NoInsert);
    ExtComboBox->setEnabled(false);
    ExtComboBox->setGeometry(232, 100, 65, 21);
    ExtComboBox->view()->setMinimumWidth(100);
    MatchLabel = MakeLabel(QStringLiteral("Match:"), SearchGroupBox, "MatchLabel");
    MatchLabel->setGeometry(AutoSized(MatchLabel, 196, 19));
    MatchComboBox = new QComboBox(SearchGroupBox);
    MatchComboBox->setObjectName(QStringLiteral("MatchComboBox"));
    MatchComboBox->addItems(
        {QStringLiteral("Regular expression"), QStringLiteral("About right"), QStringLiteral("Sounds like")});
    MatchComboBox->setGeometry(236, 15, 130, 21);
    MatchErrorsBox = new QComboBox(SearchGroupBox);
    MatchErrorsBox->setObjectName(QStringLiteral("MatchErrorsBox"));
    MatchErrorsBox->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    MatchErrorsBox->setToolTip(QStringLiteral("Wrong characters allowed"));
    MatchErrorsBox->setEnabled(false);
    MatchErrorsBox->setGeometry(370, 15, 41, 21);
    FoundLabel = MakeLabel(QString(), SearchGroupBox, "FoundLabel");
    FoundLabel->hide();
    // Room for "Found: 1234567 file(s)/folder(s)" where the window allows.
    search->Place(FoundLabel, QRect(305, 107, 145, FoundLabel->sizeHint().height()), akLeft | akTop | akRight);

    // "Status:"
    GroupBox1 = MakeGroup(QStringLiteral("Status:"), this, "GroupBox1");
    form->Place(GroupBox1, QRect(328, 536, 313, 33), akLeft | akRight | akBottom);
    auto *status = new TAnchors(GroupBox1, QSize(313, 33));
    ProgressLabel = MakeLabel(QStringLiteral("ProgressLabel"), GroupBox1, "ProgressLabel");
    status->Place(ProgressLabel, QRect(8, 13, 150, ProgressLabel->sizeHint().height()), akLeft | akBottom);
    LoadGauge = new QProgressBar(GroupBox1);
    LoadGauge->setObjectName(QStringLiteral("LoadGauge"));
    LoadGauge->setTextVisible(true);
    LoadGauge->setFormat(QStringLiteral("%p%"));
    LoadGauge->hide();
    status->Place(LoadGauge, QRect(160, 10, 145, 17), akLeft | akRight | akBottom);

    GHelpButton = MakeButton(QStringLiteral("Help"), this, "GHelpButton");
    form->Place(GHelpButton, QRect(648, 544, 65, 25), akRight | akBottom);
    QuitButton = MakeButton(QStringLiteral("Exit"), this, "QuitButton");
    form->Place(QuitButton, QRect(720, 544, 65, 25), akRight | akBottom);

    Animate1 = new TBusyAnimation(this);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    Animate1->hide();
    form->Place(Animate1, QRect(120, 136, 80, 50), akLeft | akTop);

    TreePopupMenu = new QMenu(this);
    TreePopupMenu->setObjectName(QStringLiteral("TreePopupMenu"));
    DeleteTree = TreePopupMenu->addAction(QStringLiteral("Remove CD"));
    DeleteTree->setObjectName(QStringLiteral("DeleteTree"));
    RemoveAll = TreePopupMenu->addAction(QStringLiteral("Remove All"));
    RemoveAll->setObjectName(QStringLiteral("RemoveAll"));
    UpdateCD = TreePopupMenu->addAction(QStringLiteral("Update CD"));
    UpdateCD->setObjectName(QStringLiteral("UpdateCD"));

    ListViewPopupMenu = new QMenu(this);
    ListViewPopupMenu->setObjectName(QStringLiteral("ListViewPopupMenu"));
    RunPop = ListViewPopupMenu->addAction(QStringLiteral("Run Selected File"));
    RunPop->setObjectName(QStringLiteral("RunPop"));
    OpenNotePad = ListViewPopupMenu->addAction(QStringLiteral("Open with Notepad"));
    OpenNotePad->setObjectName(QStringLiteral("OpenNotePad"));
    BrowseFolderPop = ListViewPopupMenu->addAction(QStringLiteral("Browse Containing Folder"));
    BrowseFolderPop->setObjectName(QStringLiteral("BrowseFolderPop"));
    ListViewPopupMenu->addSeparator();
    ExportResults = ListViewPopupMenu->addAction(QStringLiteral("Export Results\u2026"));
    ExportResults->setObjectName(QStringLiteral("ExportResults"));

    // The drive box offers the volumes; its text is set at show.
    FillDriveBox(m_services.volumes->Volumes());
    CDDriveComboBox->setEditText(QStringLiteral("fgh"));
}

void TForm1::ConnectHandlers()
{
    connect(GetNameButton, &QPushButton::clicked, this, &TForm1::GetNameButtonClick);
    connect(AddNewButton, &QPushButton::clicked, this, &TForm1::AddNewButtonClick);
    connect(SearchButton, &QPushButton::clicked, this, &TForm1::SearchButtonClick);
    connect(SearchStringEdit, &QLineEdit::textEdited, this, &TForm1::SearchStringEdited);
    connect(MatchComboBox, &QComboBox::currentIndexChanged, this, &TForm1::MatchComboBoxChange);
    m_typeAheadTimer = new QTimer(this);
    m_typeAheadTimer->setSingleShot(true);
    m_typeAheadTimer->setInterval(kTypeAheadDelayMs);
    connect(m_typeAheadTimer, &QTimer::timeout, this, &TForm1::TypeAheadTimeout);
    connect(HelpButton, &QPushButton::clicked, this, &TForm1::HelpButtonClick);
    connect(GHelpButton, &QPushButton::clicked, this, &TForm1::GHelpButtonClick);
    connect(QuitButton, &QPushButton::clicked, this, &TForm1::QuitButtonClick);
    connect(TypeRadioButtons, &QButtonGroup::idClicked, this, &TForm1::TypeRadioGroupClick);
    connect(DeleteTree, &QAction::triggered, this, &TForm1::DeleteTreeClick);
    connect(RemoveAll, &QAction::triggered, this, &TForm1::RemoveAllClick);
    connect(RunPop, &QAction::triggered, this, &TForm1::RunPopClick);
    connect(OpenNotePad, &QAction::triggered, this, &TForm1::OpenNotePadClick);
    connect(BrowseFolderPop, &QAction::triggered, this, &TForm1::BrowseFolderPopClick);
    connect(UpdateCD, &QAction::triggered, this, &TForm1::UpdateCDClick);
    connect(ExportResults, &QAction::triggered, this, &TForm1::ExportResultsClick);
    connect(ListView1->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                if (column >= 0)
                    m_resultModel->sort(column, order);
            });

    SearchStringEdit->installEventFilter(this);
    connect(SearchStringEdit, &QLineEdit::textChanged, this, &TForm1::LimitSearchText);
    ExtComboBox->installEventFilter(this);
    if (ExtComboBox->lineEdit())
        ExtComboBox->lineEdit()->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);

    connect(CatalogTree1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { TreePopupMenu->popup(CatalogTree1->viewport()->mapToGlobal(at)); });
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { ListViewPopupMenu->popup(ListView1->viewport()->mapToGlobal(at)); });

    // The tree and its view keep each other in step.
    CatalogTree1->OnEditing = [this](TCatalogNode *node, bool &allow) { CatalogTree1Editing(node, allow); };
    m_treeModel->OnEdited = [this](TCatalogNode *node, const std::string &text) { CatalogTree1Edited(node, text); };
    m_tree->OnExpanding = [this](TCatalogTree &, TCatalogNode *node, bool &allow) {
        CatalogTree1Expanding(node, allow);
    };
    connect(CatalogTree1, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        if (TCatalogNode *node = m_treeModel->NodeAt(index))
            node->SetExpanded(true);
    });
    connect(CatalogTree1, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        if (TCatalogNode *node = m_treeModel->NodeAt(index))
            node->SetExpanded(false);
    });
    connect(m_treeModel, &TCatalogTreeModel::ExpandRequested, CatalogTree1,
            [this](const QModelIndex &index, bool expanded) {
                if (CatalogTree1->isExpanded(index) != expanded)
                    CatalogTree1->setExpanded(index, expanded);
            });
    connect(m_treeModel, &TCatalogTreeModel::CurrentRequested, CatalogTree1,
            [this](const QModelIndex &index) { CatalogTree1->setCurrentIndex(index); });
    connect(CatalogTree1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                // While the tree removes nodes the view moves its current row;
                // the tree is told once the removal is over.
                if (m_treeModel->ChangingStructure()) {
                    const QPersistentModelIndex later(current);
                    QTimer::singleShot(0, this, [this, later] {
                        if (later.isValid() && later == CatalogTree1->currentIndex())
                            CatalogTree1Change(m_treeModel->NodeAt(later));
                    });
                    return;
                }
                CatalogTree1Change(m_treeModel->NodeAt(current));
            });

    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                for (const QModelIndex &index : deselected.indexes())
                    if (index.column() == 0)
                        ListView1SelectItem(index.row(), false);
                for (const QModelIndex &index : selected.indexes())
                    if (index.column() == 0)
                        ListView1SelectItem(index.row(), true);
            });
}

// --- start-up ----------------------------------------------------------------

void TForm1::FormCreate()
{
    m_loadPending = true;
    // The library reports a faulty expression through its message sink; the
    // window shows it as a warning box.  (The desktops this runs on have no
    // disc auto-start to cancel, so there is no window message to register.)
    g_libraryMessages = m_services.messages;
    QuarnSetMessageSink(&TForm1::LibraryMessageSink);
}

void TForm1::LibraryMessageSink(const char *text, const char *caption)
{
    if (g_typedSearchReport) {
        *g_typedSearchReport = Text(caption ? caption : "") + QStringLiteral(": ") + Text(text ? text : "");
        return;
    }
    if (g_libraryMessages)
        g_libraryMessages->Warning(Text(caption ? caption : ""), Text(text ? text : ""));
}

void TForm1::FormShow()
{
    const std::vector<TVolume> volumes = m_services.volumes->Volumes();
    FillDriveBox(volumes);
    // The first optical drive, with a disc or without one.
    for (const TVolume &v : volumes) {
        if (v.optical) {
            CDDriveComboBox->setEditText(QFile::decodeName(QByteArray::fromStdString(v.root)));
            break;
        }
    }
    SearchButton->setFocus();
}

void TForm1::FillDriveBox(const std::vector<TVolume> &volumes)
{
    // Refilling the list must not touch what the user is typing: the box's
    // text, cursor and selection are put back as they were.
    QLineEdit *edit = CDDriveComboBox->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    const int selectionStart = edit->selectionStart();
    const int selectionLength = int(edit->selectedText().size());
    const bool modified = edit->isModified();
    const QSignalBlocker blockBox(CDDriveComboBox);
    const QSignalBlocker blockEdit(edit);
    CDDriveComboBox->clear();
    for (const TVolume &v : volumes) {
        // Mount points with nothing on them are listed for optical drives
        // only: an empty CD drive, where the disc will go.
        if (!v.mounted && !v.optical)
            continue;
        CDDriveComboBox->addItem(QFile::decodeName(QByteArray::fromStdString(v.root)));
        const QString label = v.mounted ? DecodeName(v.label) : QStringLiteral("(no disc)");
        CDDriveComboBox->setItemData(CDDriveComboBox->count() - 1, label, kVolumeLabelRole);
        CDDriveComboBox->setItemData(CDDriveComboBox->count() - 1, label, Qt::ToolTipRole);
    }
    CDDriveComboBox->setCurrentIndex(-1);
    edit->setText(text);
    if (selectionStart >= 0)
        edit->setSelection(selectionStart, selectionLength);
    else
        edit->setCursorPosition(cursor);
    edit->setModified(modified);
}

void TForm1::VolumesChanged()
{
    FillDriveBox(m_services.volumes->Volumes());
    m_discWaiter->Wake();
}

void TForm1::FormResize()
{
    // Processing events here can deliver the next resize; that one finds
    // this one still running and leaves the work to it.
    if (m_inResize)
        return;
    m_inResize = true;
    ProcessEventsSlice(true);
    m_inResize = false;
    if (m_loadPending) {
        m_loadPending = false;
        LoadCatalog();
    }
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
        // Qt delivers the first resize before the window is on screen; the
        // load waits until it is, so the user sees the window while it runs.
        QTimer::singleShot(0, this, [this] {
            if (m_loadPending)
                FormResize();
        });
    }
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (isVisible() && !m_loadPending)
        FormResize();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (Working()) {
        // Leaving in the middle of a load or scan would pull the tree from
        // under it: hide now, leave when it is done.
        m_quitPending = true;
        hide();
        event->ignore();
        m_discWaiter->Wake();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::ProcessEventsSlice(bool force)
{
    // Reading the clock costs more than a node of a walk that calls for
    // every node, so it is read only every 64th call; the search driver
    // calls every few milliseconds, and each of its calls counts.
    if (!force && !m_sliceEveryCall && (++m_sliceCalls & 63) != 0)
        return;
    if (!m_sliceClock.isValid()) {
        m_sliceClock.start();
    } else if (!force && m_sliceClock.elapsed() < 16) {
        return;
    }
    if (Working()) {
        m_sliceStats.longestGapMs = qMax(m_sliceStats.longestGapMs, m_sliceClock.elapsed());
        ++m_sliceStats.slices;
    }
    if (m_progress->pendingPosition >= 0 && LoadGauge->isVisible()) {
        LoadGauge->setValue(m_progress->pendingPosition);
        m_progress->pendingPosition = -1;
    }
    if (m_searchControl && m_searchControl->found.load() != m_shownHits) {
        m_shownHits = m_searchControl->found.load();
        FoundLabel->setText(QString::fromStdString(FoundText(m_searchKind, m_shownHits)));
    }
    QCoreApplication::processEvents();
    m_sliceClock.restart();
}

// --- load and save -------------------------------------------------------------

void TForm1::DetachResults()
{
    m_resultModel->Detach();
}

void TForm1::LoadCatalog()
{
    WorkScope work(*this);
    DetachResults();
    ++m_loadCount;
    m_progress->animate = true;
    // From now on, others' changes to the file are shown; whatever happens
    // below, the window holds the file's version as it is now.
    WatchCatalogFile();
    struct NoteLoaded {
        TCatalogCommitter &committer;
        platform::TFileIdentity version;
        ~NoteLoaded() { committer.NoteLoaded(version); }
    } noteLoaded{*m_committer, CatalogFileIdentity(DatabaseFileName())};
    try {
        const TLoadResult result = tslcat::LoadCatalog(*m_tree, DatabaseFileName(), *m_icons, m_progress.get());
        if (!result.found) {
            m_services.messages->ShowText(Text(texts::kNoDatabase));
            return;
        }
        DBLabel->setText(QString::fromStdString(DatabaseLabelText(result.fileCount)));
        ShowFileTypes(result.fileTypes);
    } catch (const std::exception &e) {
        // What was read stays in the tree; the file keeps the rest, so it
        // must not be overwritten by the next save (see KeepDamagedCatalog).
        m_loadFailed = QFile::exists(DatabaseFileName());
        m_progress->Reset();
        SyncViewWithTree();
        m_services.messages->Error(Text(e.what()));
        return;
    }
    SyncViewWithTree();
}

void TForm1::SyncViewWithTree()
{
    // Nodes stored expanded open again, and the stored current node is
    // current again; the model could not pass these on while it was frozen.
    TCatalogNodes &items = m_tree->Items();
    const int count = items.Count();
    for (int i = 0; i < count; ++i) {
        TCatalogNode *node = items.Item(i);
        if (node->Expanded() && node->HasChildren())
            CatalogTree1->setExpanded(m_treeModel->IndexOf(node), true);
    }
    if (TCatalogNode *current = m_tree->Selected())
        CatalogTree1->setCurrentIndex(m_treeModel->IndexOf(current));
}

void TForm1::ShowFileTypes(const TFileTypeList &types)
{
    const QString text = ExtComboBox->currentText();
    ExtComboBox->clear();
    // Each entry keeps its stored bytes: a filter chosen from the list
    // compares those, whatever encoding the catalog holds.
    for (const std::string &type : types.Items())
        ExtComboBox->addItem(DecodeName(type), QByteArray::fromStdString(type));
    ExtComboBox->setEditText(text);
}

QString TForm1::DamagedCatalogKeepName() const
{
    // An earlier damaged file kept is never overwritten: the next free
    // numbered name is used.
    const QString file = DatabaseFileName();
    QString keep = file + QStringLiteral(".damaged");
    for (int n = 1; QFile::exists(keep); ++n)
        keep = file + QStringLiteral(".damaged.%1").arg(n);
    return keep;
}

void TForm1::KeepDamagedCatalog(const QString &keep)
{
    // After a failed load the tree holds only part of the file.  Saving it
    // would replace the whole catalog with that part, so the file is first
    // kept beside it under another name.
    if (QFile::copy(DatabaseFileName(), keep))
        m_loadFailed = false;
}

void TForm1::SaveCatalog()
{
    // Every change of the window is a kept edit now (CommitEdit); a plain
    // save is the tree as it is, under the same lock and checks.
    CommitEdit(TCatalogEdit::AddDiscs(nullptr));
}

bool TForm1::CommitEdit(const TCatalogEdit &edit)
{
    if (m_loadFailed) {
        // The file on disk holds more than the tree: never replace it
        // without the user's say, and keep it beside the new one.
        const QString keep = DamagedCatalogKeepName();
        const QString question =
            QStringLiteral("The catalog file '%1' could not be read completely, so the tree holds only part of "
                           "it.\rSaving replaces the file with what was read; the old file is kept as "
                           "'%2'.\rSave the catalog now?")
                .arg(DatabaseFileName(), keep);
        if (!m_services.messages->Confirm(question)) {
            m_services.messages->Error(
                QStringLiteral("Not saved: '%1' was not read completely.").arg(DatabaseFileName()));
            return false;
        }
        KeepDamagedCatalog(keep);
        if (m_loadFailed) {
            m_services.messages->Error(QStringLiteral("Cannot create file %1").arg(keep));
            return false;
        }
        // What is on disk is now kept; the tree is what gets saved.
        m_committer->NoteLoaded();
    }
    // The commit may reload the file and then changes the tree: the rows
    // shown keep their texts.
    DetachResults();
    const bool animate = m_progress->animate;
    m_progress->animate = false;
    bool saved = false;
    try {
        const TCommitResult result = m_committer->Commit(
            *m_tree, edit, [this] { ReloadTreeFromDisk(); }, m_progress.get(), CatalogLockTimeoutMs(),
            [this] { m_progress->SetStatusText("Waiting for another program to finish changing the catalog..."); });
        if (result.reloaded || result.saved)
            DBLabel->setText(QString::fromStdString(DatabaseLabelText(result.fileCount)));
        if (!result.applied)
            m_services.messages->ShowText(
                QStringLiteral("The catalog was changed by another program meanwhile, and this change no longer "
                               "applies to it, so it was dropped:\r%1")
                    .arg(Text(edit.Describe().c_str())));
        saved = result.saved;
    } catch (const std::exception &e) {
        m_progress->Reset();
        m_services.messages->Error(Text(e.what()));
    }
    m_progress->SetStatusText("");
    m_progress->animate = animate;
    return saved;
}

void TForm1::ReloadTreeFromDisk()
{
    // The selected node is found again by its path; when it is gone, its
    // disc (when that is still there) is selected instead.
    TNodePath selected;
    if (TCatalogNode *node = m_tree->Selected())
        selected = PathOfNode(*node);
    DetachResults();
    try {
        if (QFile::exists(DatabaseFileName())) {
            const TLoadResult result = tslcat::LoadCatalog(*m_tree, DatabaseFileName(), *m_icons, m_progress.get());
            DBLabel->setText(QString::fromStdString(DatabaseLabelText(result.fileCount)));
            ShowFileTypes(result.fileTypes);
        } else {
            // Removed by hand: the window shows what is on disk, nothing.
            m_tree->Items().Clear();
            DBLabel->setText(QString::fromStdString(DatabaseLabelText(0)));
        }
        m_loadFailed = false;
    } catch (const std::exception &) {
        m_loadFailed = QFile::exists(DatabaseFileName());
        m_progress->Reset();
        SyncViewWithTree();
        throw;
    }
    SyncViewWithTree();
    TCatalogNode *again = selected.empty() ? nullptr : FindNode(*m_tree, selected);
    if (!again && !selected.empty())
        again = FindNode(*m_tree, TNodePath(selected.begin(), selected.begin() + 1));
    if (again) {
        m_tree->SetSelected(again);
        CatalogTree1->setCurrentIndex(m_treeModel->IndexOf(again));
    }
}

void TForm1::WatchCatalogFile()
{
    const QFileInfo file(DatabaseFileName());
    const QString folder = file.absolutePath();
    if (!m_watcher->directories().contains(folder))
        m_watcher->addPath(folder);
    // A file replaced by a rename drops out of the watch: add it again.
    if (file.exists() && !m_watcher->files().contains(file.absoluteFilePath()))
        m_watcher->addPath(file.absoluteFilePath());
}

void TForm1::CheckForOutsideChange()
{
    if (m_loadPending || !m_committer->ChangedOnDisk())
        return;
    // Busy, or the user is typing a new name: look again a little later.
    if (Working() || m_tree->IsBusy() || CatalogTree1->IsEditingName() || QApplication::activeModalWidget()) {
        m_outsideChangeTimer->start();
        return;
    }
    WatchCatalogFile();
    if (m_loadFailed)
        return; // the damaged file stays as it is until the user decides
    WorkScope work(*this);
    const bool animate = m_progress->animate;
    m_progress->animate = false;
    const platform::TFileIdentity version = CatalogFileIdentity(DatabaseFileName());
    try {
        ReloadTreeFromDisk();
    } catch (const std::exception &e) {
        m_services.messages->Error(Text(e.what()));
    }
    m_committer->NoteLoaded(version);
    m_progress->animate = animate;
}

void TForm1::LimitSearchText()
{
    // The expression goes to the library as at most 50 bytes; a cut inside
    // a character would search for half of it, so the box keeps whole
    // characters only and says why it stops.
    const QString text = SearchStringEdit->text();
    const QString limited = LimitToUtf8Bytes(text, 50);
    if (limited.size() == text.size())
        return;
    const int cursor = SearchStringEdit->cursorPosition();
    SearchStringEdit->setText(limited);
    SearchStringEdit->setCursorPosition(qMin(cursor, static_cast<int>(limited.size())));
    ProgressLabel->setText(QStringLiteral("Search text cut to 50 bytes (after its last whole character)"));
}

// --- adding a disc ---------------------------------------------------------------

void TForm1::GetNameButtonClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    const std::string root = PathBytes(CDDriveComboBox->currentText());
    std::string label;
    if (QFileInfo(CDDriveComboBox->currentText()).isFile()) {
        // An image file typed into the drive box is a disc of its own.
        try {
            label = ImageDiscName(root);
        } catch (const std::exception &e) {
            m_services.messages->Error(Text(e.what()));
            return;
        }
    } else if (!m_driveQuery->QueryVolume(root, label)) {
        m_services.messages->ShowText(Text(texts::kNoCDPresent));
        return;
    }
    m_scannedLabel = DefaultDiscName(root, label);
    CDNameEdit->setEnabled(true);
    CDNameEdit->setText(DecodeName(m_scannedLabel));
    AddNewButton->setEnabled(true);
}

void TForm1::AddNewButtonClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    WorkScope work(*this);
    m_progress->animate = true;
    // An unchanged name keeps the label's own bytes.
    const QString typed = CDNameEdit->text();
    const std::string name = typed == DecodeName(m_scannedLabel) ? m_scannedLabel : EncodeName(typed);
    // The disc is scanned into a tree of its own, outside the writer lock;
    // the commit then appends it to the catalog as it is on disk.
    auto scanned = std::make_shared<TCatalogTree>();
    try {
        TBusyScope busy(*m_tree);
        TScanOptions options;
        options.openArchives = cboxArchives->isChecked();
        AddDisc(*scanned, PathBytes(CDDriveComboBox->currentText()), name, *m_icons, m_progress.get(), options);
    } catch (const std::exception &e) {
        m_progress->Reset();
        m_services.messages->Error(Text(e.what()));
        return;
    }
    m_progress->SetBusy(false);
    m_progress->animate = true;
    Animate1->show();
    Animate1->SetActive(true);
    AddNewButton->setEnabled(false);
    CDNameEdit->setText(Text(texts::kCDNameInitial));
    CDNameEdit->setEnabled(false);
    CommitEdit(TCatalogEdit::AddDiscs(scanned));
    TFileTypeList types;
    const int64_t files = RefreshDiscIconsAndCount(*m_tree, *m_icons, types, nullptr, false);
    ShowFileTypes(types);
    DBLabel->setText(QString::fromStdString(DatabaseLabelText(files)));
    Animate1->SetActive(false);
    Animate1->hide();
}

// --- searching -------------------------------------------------------------------

void TForm1::SearchButtonClick()
{
    m_typeAheadTimer->stop();
    RunWindowSearch(false);
}

TMatchSpec TForm1::CurrentMatchSpec() const
{
    switch (MatchComboBox->currentIndex()) {
    case 1:
        return TMatchSpec{TMatchMode::Approx, MatchErrorsBox->currentIndex() + 1};
    case 2:
        return TMatchSpec{TMatchMode::Soundex, 1};
    default:
        return TMatchSpec{};
    }
}

namespace {

int SpeedSlot(const TMatchSpec &spec)
{
    switch (spec.mode) {
    case TMatchMode::Regex:
        return 0;
    case TMatchMode::Approx:
        return 1 + qBound(0, spec.errors, 9);
    case TMatchMode::Soundex:
        return 11;
    }
    return 0;
}

} // namespace

qint64 TForm1::LastSearchMilliseconds(const TMatchSpec &spec) const
{
    return m_lastSearchMs[SpeedSlot(spec)];
}

void TForm1::SetLastSearchMilliseconds(const TMatchSpec &spec, qint64 ms)
{
    m_lastSearchMs[SpeedSlot(spec)] = ms;
}

void TForm1::MatchComboBoxChange()
{
    MatchErrorsBox->setEnabled(MatchComboBox->currentIndex() == 1);
}

void TForm1::SearchStringEdited()
{
    m_typeAheadTimer->start();
}

void TForm1::TypeAheadTimeout()
{
    if (m_searchControl) {
        // A newer text: stop the search in flight, start once it has ended.
        m_searchControl->cancel = true;
        m_typeAheadTimer->start(10);
        return;
    }
    m_typeAheadTimer->setInterval(kTypeAheadDelayMs);
    if (Working() || m_tree->IsBusy())
        return;
    const qint64 last = m_lastSearchMs[SpeedSlot(CurrentMatchSpec())];
    if (last > kTypeAheadLimitMs) {
        ProgressLabel->setText(Text(texts::kPressEnterToSearch));
        return;
    }
    RunWindowSearch(true);
}

void TForm1::RunWindowSearch(bool typed)
{
    if (Working() || m_tree->IsBusy())
        return;
    const QString expression = SearchStringEdit->text();
    if (expression.isEmpty() || expression == Text(texts::kSearchTextInitial)) {
        if (!typed)
            m_services.messages->ShowText(Text(texts::kEnterValidSearchString));
        return;
    }
    WorkScope work(*this);
    m_progress->animate = false;

    const int kind = TypeRadioButtons->checkedId();
    if (kind < 0 || kind > 3)
        return;
    TSearchRequest request;
    SetTypedExpression(request, expression);
    request.caseSensitive = cboxMatchCase->isChecked();
    request.kind = static_cast<TSearchKind>(kind);
    request.match = CurrentMatchSpec();
    const QString filter = ExtComboBox->currentText();
    SetTypedFileTypeFilter(request, filter);
    const int chosen = filter.isEmpty() ? -1 : ExtComboBox->findText(filter, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (chosen >= 0) {
        // Chosen from the list: its stored bytes first, the typed form as
        // the alternative.
        const std::string stored = ExtComboBox->itemData(chosen).toByteArray().toStdString();
        if (stored != request.fileTypeFilter) {
            request.alternateFileTypeFilter = request.fileTypeFilter;
            request.fileTypeFilter = stored;
        }
    }

    FoundLabel->setText(QString());
    FoundLabel->show();
    m_resultModel->Clear();
    m_resultModel->SetNameColumnCaption(Text(ResultColumnCaption(request.kind)));

    // The core's search driver; the running hit count is read from its
    // control at each event slice.
    TSearchOutcome outcome;
    TSearchControl control;
    QString typedReport;
    QElapsedTimer clock;
    clock.start();
    try {
        struct RunningScope {
            TSearchControl *&running;
            QString *&report;
            bool &everyCall;
            ~RunningScope()
            {
                running = nullptr;
                report = nullptr;
                everyCall = false;
            }
        } scope{m_searchControl, g_typedSearchReport, m_sliceEveryCall};
        m_searchKind = request.kind;
        m_shownHits = 0;
        m_searchControl = &control;
        m_sliceEveryCall = true;
        if (typed)
            g_typedSearchReport = &typedReport;
        // Light hits: rows are built when the list shows them.
        outcome = RunSearch(*m_tree, request, m_progress.get(), nullptr, &control, false);
    } catch (const std::exception &e) {
        m_progress->Reset();
        m_services.messages->Error(Text(e.what()));
        return;
    }
    if (outcome.cancelled) {
        // A newer search follows; nothing of this one is shown.
        FoundLabel->setText(QString());
        return;
    }
    if (outcome.compileResult == 0)
        m_lastSearchMs[SpeedSlot(request.match)] = clock.elapsed();
    {
        // New rows come in tree order: no column is sorted.
        const QSignalBlocker quiet(ListView1->horizontalHeader());
        ListView1->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    }
    m_resultModel->SetNodes(std::move(outcome.nodes));
    FoundLabel->setText(outcome.hitCount > 0 ? QString::fromStdString(FoundText(request.kind, outcome.hitCount))
                                             : QString());
    LoadGauge->hide();
    if (typed) {
        // Typing goes on: faults show in the status line, nothing beeps.
        if (!typedReport.isEmpty())
            ProgressLabel->setText(typedReport);
        else if (outcome.tooComplex)
            ProgressLabel->setText(Text(texts::kExpressionTooComplex));
        return;
    }
    if (outcome.tooComplex)
        m_services.messages->ShowText(Text(texts::kExpressionTooComplex));
    else if (outcome.noMatches)
        m_services.messages->ShowText(Text(texts::kNoMatches));
    else
        m_services.messages->Beep();
}

void TForm1::SearchStringEditClick()
{
    SearchStringEdit->clear();
    FoundLabel->hide();
}

void TForm1::TypeRadioGroupClick()
{
    const int kind = TypeRadioButtons->checkedId();
    // Only the file-name search reads the filter; "CD" leaves it enabled.
    ExtComboBox->setEnabled(kind == 0 || kind == 3);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == SearchStringEdit && event->type() == QEvent::MouseButtonPress) {
        SearchStringEditClick();
    } else if (event->type() == QEvent::KeyPress &&
               (watched == SearchStringEdit || watched == ExtComboBox ||
                (ExtComboBox->lineEdit() && watched == ExtComboBox->lineEdit()))) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            SearchButtonClick();
            return true;
        }
    } else if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        ListView1DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// --- help and leaving -------------------------------------------------------------

QString TForm1::ExamplesText()
{
    struct Example {
        const char *expression;
        int spaces;
        const char *meaning;
    };
    static const Example kExamples[] = {
        {"foo|bar|toto", 0, "matches all lines containing one of the words foo, or bar, or toto"},
        {"foo&&bar&&toto", 0, "matches all lines containing all of the words foo, and bar, and toto"},
        {"^Windows", 0, "matches all lines starting with Windows"},
        {"Grep$", 6, "matches all lines ending with Grep"},
        {"H..p", 8, "matches all lines containing Help, Hoop, Harp, etc."},
        {"^W.n", 7, "matches all lines starting with Win, Won, etc."},
        {"\\$", 12, "matches a dollar sign"},
        {"fo*", 10, "matches f, fo, foo, etc."},
        {"fo+", 10, "matches fo, foo, etc."},
        {"[xyz]", 7, "matches x, y and z"},
        {"a[^xyz]c", 2, "matches abc, arc and aXb but not axb"},
        {"([0-9])", 6, "matches (0), (1), (2), (3), (4), (5), (6), (7), (8) and (9)"},
        {"([0-9]*)", 4, "matches (), (0), (123), (2512), etc."},
        {"\\<[Aa].*\\>", 1, "matches any non-empty word beginning with either a or A"},
        {"a{2}", 10, "matches 2 characters a"},
        {"a{2,4}", 5, "matches 2, 3 or 4 characters a"},
    };
    QStringList lines{QStringLiteral("Search Expression - Examples:"), QString()};
    for (const Example &e : kExamples)
        lines.append(QLatin1String(e.expression) + QString(e.spaces, QLatin1Char(' ')) + QLatin1Char('\t') +
                     QLatin1String(e.meaning));
    lines.append(QString());
    lines.append(
        QStringLiteral("Use . as search string and set file-type to '.zip' to find all zip-filenames in Database"));
    return lines.join(QLatin1Char('\r'));
}

void TForm1::HelpButtonClick()
{
    m_services.messages->ShowText(ExamplesText());
}

void TForm1::GHelpButtonClick()
{
    // The help page in the working directory comes first; a program
    // installed without one there opens the copy installed with it.
    const QString name = QStringLiteral("tslcat_help.html");
    QString page = QFileInfo(name).absoluteFilePath();
    if (!QFileInfo::exists(page)) {
        const QString installed = QDir(QCoreApplication::applicationDirPath())
                                      .absoluteFilePath(QStringLiteral(TSLCAT_HELP_FROM_BINDIR "/") + name);
        if (QFileInfo::exists(installed))
            page = QDir::cleanPath(installed);
    }
    m_services.launcher->OpenWithDefault(PathBytes(page));
}

void TForm1::QuitButtonClick()
{
    close();
}

// --- the tree ---------------------------------------------------------------------

void TForm1::CatalogTree1Editing(TCatalogNode *node, bool &allowEdit)
{
    // Entries directly in a disc's root keep the names the disc gave them.
    allowEdit = !(Working() || m_tree->IsBusy()) && node && node->Level() != 1;
}

void TForm1::CatalogTree1Edited(TCatalogNode *node, const std::string &text)
{
    if (Working() || m_tree->IsBusy() || !node)
        return;
    if (text.size() > kMaxStoredNameBytes) {
        // The file keeps 255 bytes of a name; a longer one would be cut on
        // save, possibly inside a character.  Refused, not cut.
        const QString typed = DecodeName(text);
        m_services.messages->ShowText(
            QStringLiteral("The name is too long: a name can have at most %1 bytes, and this one has %2.\r"
                           "The most of it that fits is:\r%3\rThe name was not changed.")
                .arg(kMaxStoredNameBytes)
                .arg(text.size())
                .arg(LimitToUtf8Bytes(typed, kMaxStoredNameBytes)));
        return;
    }
    CommitEdit(TCatalogEdit::RenameNode(*node, text));
}

void TForm1::CatalogTree1Expanding(TCatalogNode *node, bool &)
{
    // A folder's files come before its subfolders, so the run of child-less
    // nodes after it is its files (and empty subfolders): they get their
    // file icons now, before they are shown.
    TCatalogNodes &items = m_tree->Items();
    const int count = items.Count();
    for (int i = node->AbsoluteIndex() + 1; i >= 1 && i < count; ++i) {
        TCatalogNode *next = items.Item(i);
        if (next->HasChildren())
            break;
        next->SetIcons(FileIcon(*m_icons, next->Text(), false), FileIcon(*m_icons, next->Text(), true));
    }
}

void TForm1::CatalogTree1Change(TCatalogNode *node)
{
    // The view's current node is the tree's Selected.
    if (m_tree->Selected() != node)
        m_tree->SetSelected(node);
}

void TForm1::DeleteTreeClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    TCatalogNode *node = m_tree->Selected();
    if (!node)
        return;
    CommitEdit(TCatalogEdit::RemoveNode(*node));
}

void TForm1::RemoveAllClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    CommitEdit(TCatalogEdit::RemoveAllDiscs());
    QApplication::restoreOverrideCursor();
}

void TForm1::UpdateCDClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    TCatalogNode *disc = m_tree->Selected();
    while (disc && disc->Parent())
        disc = disc->Parent();
    if (!disc)
        return;
    const std::string root = PathBytes(CDDriveComboBox->currentText());
    std::string label;
    if (!m_driveQuery->QueryVolume(root, label)) {
        m_services.messages->ShowText(QStringLiteral("Nothing readable at %1").arg(CDDriveComboBox->currentText()));
        return;
    }
    if (label != disc->Text() &&
        !m_services.messages->Confirm(
            QStringLiteral("The volume in %1 is labelled \"%2\", not \"%3\".\rUpdate the CD \"%3\" from it anyway?")
                .arg(CDDriveComboBox->currentText(), DecodeName(label), DecodeName(disc->Text()))))
        return;
    // Scanned into a tree of its own, outside the writer lock; the commit
    // then replaces the disc's contents in the catalog as it is on disk.
    WorkScope work(*this);
    m_progress->animate = true;
    std::shared_ptr<TCatalogTree> scanned;
    std::string refusal;
    try {
        TBusyScope busy(*m_tree);
        scanned = ScanDiscForUpdate(root, disc->Text(), *m_icons, m_progress.get(), refusal);
    } catch (const std::exception &e) {
        m_progress->Reset();
        m_services.messages->Error(Text(e.what()));
        return;
    }
    m_progress->SetBusy(false);
    if (!scanned) {
        m_services.messages->ShowText(DecodeName(refusal));
        return;
    }
    CommitEdit(TCatalogEdit::UpdateDisc(*disc, scanned));
    TFileTypeList types;
    const int64_t files = RefreshDiscIconsAndCount(*m_tree, *m_icons, types, nullptr, false);
    ShowFileTypes(types);
    DBLabel->setText(QString::fromStdString(DatabaseLabelText(files)));
}

void TForm1::ExportResultsClick()
{
    const QString fileName = m_services.chooseExportFile
        ? m_services.chooseExportFile()
        : QFileDialog::getSaveFileName(this, QStringLiteral("Export Results"), QStringLiteral("results.csv"),
                                       QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (fileName.isEmpty())
        return;
    const std::string csv = ExportRows(m_resultModel->List(), TExportFormat::Csv);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv.data(), qint64(csv.size())) != qint64(csv.size()) ||
        !file.commit())
        m_services.messages->Error(QStringLiteral("Cannot create file %1").arg(fileName));
}

// --- result list --------------------------------------------------------------------

std::shared_ptr<const TResultRow> TForm1::FirstSelectedRow() const
{
    int first = -1;
    for (const QModelIndex &index : ListView1->selectionModel()->selectedRows(0))
        if (first < 0 || index.row() < first)
            first = index.row();
    return m_resultModel->Row(first);
}

void TForm1::RunResultAction(TResultAction action)
{
    // Looking for a disc lets the window run; a second action meanwhile
    // would start a second wait, so it is refused like other long work.
    if (Working())
        return;
    WorkScope work(*this);
    TActionEnvironment env{*m_driveQuery, *m_services.files, *m_services.launcher, *m_services.messages};
    env.volumeList = m_services.volumes;
    env.waiter = m_discWaiter.get();
    env.discWaitMilliseconds = m_services.discWaitMilliseconds;
    // Held for the whole action: waiting for the disc lets the list repaint.
    const std::shared_ptr<const TResultRow> row = FirstSelectedRow();
    tslcat::RunResultAction(action, row.get(), PathBytes(CDDriveComboBox->currentText()), env);
}

void TForm1::RunPopClick()
{
    RunResultAction(TResultAction::RunSelectedFile);
}
void TForm1::OpenNotePadClick()
{
    RunResultAction(TResultAction::OpenWithNotepad);
}
void TForm1::BrowseFolderPopClick()
{
    RunResultAction(TResultAction::BrowseContainingFolder);
}
void TForm1::ListView1DblClick()
{
    RunPopClick();
}

void TForm1::ListView1SelectItem(int row, bool)
{
    const std::shared_ptr<const TResultRow> result = m_resultModel->Row(row);
    if (result && !result->IsDiscRow())
        ListView1->setToolTip(DecodeName(result->fullPath));
}

} // namespace tslcat
