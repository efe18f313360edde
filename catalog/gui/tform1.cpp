#include "tform1.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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
#include <QStorageInfo>
#include <QTimer>
#include <QTableView>
#include <QTreeView>

#include "anchors.h"
#include "busyindicator.h"
#include "catalog_errors.h"
#include "catalog_export.h"
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

QString Text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

std::string PathBytes(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// A drive root that is a plain folder rather than a mounted volume still
// serves as one (the drive box accepts any folder typed in): its label is
// the folder's name.  A mounted volume keeps its own label, empty or not.
class TFolderVolumeQuery final : public IVolumeQuery {
public:
    explicit TFolderVolumeQuery(IVolumeQuery &volumes) : m_volumes(volumes) {}
    bool QueryVolume(const std::string &root, std::string &label) override
    {
        const bool ready = m_volumes.QueryVolume(root, label);
        const QFileInfo folder(QFile::decodeName(QByteArray::fromStdString(root)));
        if (root.empty() || !folder.isDir())
            return ready;
        const QString path = QDir::cleanPath(folder.absoluteFilePath());
        if (ready && QDir::cleanPath(QStorageInfo(path).rootPath()) == path)
            return true;
        if (!ready && !folder.isReadable())
            return false;
        label = QFile::encodeName(QDir(path).dirName()).toStdString();
        return true;
    }

private:
    IVolumeQuery &m_volumes;
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
        m_ownVolumes = std::make_unique<TSystemVolumeQuery>();
        m_services.volumes = m_ownVolumes.get();
    }
    if (!m_services.files) {
        m_ownFiles = std::make_unique<TSystemFileProbe>();
        m_services.files = m_ownFiles.get();
    }
    if (!m_services.listRoots)
        m_services.listRoots = [] { return ListVolumeRoots(); };
    m_folderVolumes = std::make_unique<TFolderVolumeQuery>(*m_services.volumes);
    m_progress = std::make_unique<Progress>(*this);

    BuildControls();
    ConnectHandlers();
    FormCreate();
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

    // The drive box offers the mounted volumes; its text is set at show.
    CDDriveComboBox->addItems(m_services.listRoots().roots);
    CDDriveComboBox->setEditText(QStringLiteral("fgh"));
}

void TForm1::ConnectHandlers()
{
    connect(GetNameButton, &QPushButton::clicked, this, &TForm1::GetNameButtonClick);
    connect(AddNewButton, &QPushButton::clicked, this, &TForm1::AddNewButtonClick);
    connect(SearchButton, &QPushButton::clicked, this, &TForm1::SearchButtonClick);
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
    if (g_libraryMessages)
        g_libraryMessages->Warning(Text(caption ? caption : ""), Text(text ? text : ""));
}

void TForm1::FormShow()
{
    const VolumeRoots roots = m_services.listRoots();
    const QString current = CDDriveComboBox->currentText();
    CDDriveComboBox->clear();
    CDDriveComboBox->addItems(roots.roots);
    CDDriveComboBox->setEditText(roots.firstOptical.isEmpty() ? current : roots.firstOptical);
    SearchButton->setFocus();
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
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::ProcessEventsSlice(bool force)
{
    // Reading the clock costs more than a node of a search, so it is read
    // only every 64th call.
    if (!force && (++m_sliceCalls & 63) != 0)
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
    if (m_runningSearch && m_runningSearch->hitCount != m_shownHits) {
        m_shownHits = m_runningSearch->hitCount;
        FoundLabel->setText(QString::fromStdString(FoundText(m_searchKind, m_shownHits)));
    }
    QCoreApplication::processEvents();
    m_sliceClock.restart();
}

// --- load and save -------------------------------------------------------------

void TForm1::LoadCatalog()
{
    WorkScope work(*this);
    ++m_loadCount;
    m_progress->animate = true;
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
    QStringList entries;
    entries.reserve(types.Count());
    for (const std::string &type : types.Items())
        entries.append(DecodeName(type));
    ExtComboBox->clear();
    ExtComboBox->addItems(entries);
    ExtComboBox->setEditText(text);
}

void TForm1::KeepDamagedCatalog()
{
    // After a failed load the tree holds only part of the file.  Saving it
    // would replace the whole catalog with that part, so the file is first
    // kept beside it under another name.
    const QString file = DatabaseFileName();
    QString keep = file + QStringLiteral(".damaged");
    for (int n = 1; QFile::exists(keep); ++n)
        keep = file + QStringLiteral(".damaged.%1").arg(n);
    if (QFile::copy(file, keep))
        m_loadFailed = false;
}

void TForm1::SaveCatalog()
{
    if (m_loadFailed) {
        // The file on disk holds more than the tree: never replace it
        // without the user's say, and keep it beside the new one.
        const QString question =
            QStringLiteral("The catalog file '%1' could not be read completely, so the tree holds only part of "
                           "it.\rSaving replaces the file with what was read; the old file is kept as "
                           "'%1.damaged'.\rSave the catalog now?")
                .arg(DatabaseFileName());
        if (!m_services.messages->Confirm(question)) {
            m_services.messages->Error(
                QStringLiteral("Not saved: '%1' was not read completely.").arg(DatabaseFileName()));
            return;
        }
        KeepDamagedCatalog();
        if (m_loadFailed) {
            m_services.messages->Error(QStringLiteral("Cannot create file %1.damaged").arg(DatabaseFileName()));
            return;
        }
    }
    const bool animate = m_progress->animate;
    m_progress->animate = false;
    try {
        const int64_t files = tslcat::SaveCatalog(*m_tree, DatabaseFileName(), m_progress.get());
        DBLabel->setText(QString::fromStdString(DatabaseLabelText(files)));
    } catch (const std::exception &e) {
        m_progress->SetStatusText("");
        m_services.messages->Error(Text(e.what()));
    }
    m_progress->animate = animate;
}

// --- adding a disc ---------------------------------------------------------------

void TForm1::GetNameButtonClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    std::string label;
    if (!m_folderVolumes->QueryVolume(PathBytes(CDDriveComboBox->currentText()), label)) {
        m_services.messages->ShowText(Text(texts::kNoCDPresent));
        return;
    }
    m_scannedLabel = label;
    CDNameEdit->setEnabled(true);
    CDNameEdit->setText(DecodeName(label));
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
    TAddDiscResult result;
    try {
        result = AddDisc(*m_tree, PathBytes(CDDriveComboBox->currentText()), name, *m_icons, m_progress.get());
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
    ShowFileTypes(result.fileTypes);
    DBLabel->setText(QString::fromStdString(DatabaseLabelText(result.fileCount)));
    SaveCatalog();
    Animate1->SetActive(false);
    Animate1->hide();
}

// --- searching -------------------------------------------------------------------

void TForm1::SearchButtonClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    const QString expression = SearchStringEdit->text();
    if (expression.isEmpty() || expression == Text(texts::kSearchTextInitial)) {
        m_services.messages->ShowText(Text(texts::kEnterValidSearchString));
        return;
    }
    WorkScope work(*this);
    m_progress->animate = false;

    const int kind = TypeRadioButtons->checkedId();
    if (kind < 0 || kind > 3)
        return;
    TSearchRequest request;
    request.expression = EncodeName(expression);
    request.caseSensitive = cboxMatchCase->isChecked();
    request.kind = static_cast<TSearchKind>(kind);
    request.fileTypeFilter = EncodeName(ExtComboBox->currentText());

    FoundLabel->setText(QString());
    FoundLabel->show();
    m_resultModel->Clear();
    m_resultModel->SetNameColumnCaption(Text(ResultColumnCaption(request.kind)));

    // The core's search routine on a context of the window's own, so the
    // running hit count is read at each event slice instead of being
    // reported (and formatted) at every hit.
    std::vector<TResultRow> rows;
    int64_t hits = 0;
    bool noMatches = true;
    try {
        TBusyScope busy(*m_tree);
        struct ProgressScope {
            Progress &progress;
            const TSearchContext *&running;
            ~ProgressScope()
            {
                running = nullptr;
                progress.SetBusy(false);
                progress.SetStatusText("");
                progress.ShowGauge(false);
            }
        } scope{*m_progress, m_runningSearch};
        m_progress->ShowGauge(true);
        m_progress->SetStatusText(texts::kSearching);
        if (m_tree->Items().Count() > 0)
            m_progress->SetGaugeMaximum(m_tree->Items().Count() - 1);
        m_progress->SetBusy(true);
        TSearchContext search(*m_tree, request.expression, request.caseSensitive);
        search.progress = m_progress.get();
        search.fileTypeFilter = request.fileTypeFilter;
        m_searchKind = request.kind;
        m_shownHits = 0;
        m_runningSearch = &search;
        RunSearchRoutine(search, request.kind);
        rows = std::move(search.rows);
        hits = search.hitCount;
        noMatches = search.noMatches;
    } catch (const std::exception &e) {
        m_progress->Reset();
        m_services.messages->Error(Text(e.what()));
        return;
    }
    {
        // New rows come in tree order: no column is sorted.
        const QSignalBlocker quiet(ListView1->horizontalHeader());
        ListView1->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    }
    m_resultModel->SetRows(std::move(rows));
    FoundLabel->setText(hits > 0 ? QString::fromStdString(FoundText(request.kind, hits)) : QString());
    LoadGauge->hide();
    if (noMatches)
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
    node->SetText(text);
    SaveCatalog();
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
    m_tree->Items().Delete(node);
    SaveCatalog();
}

void TForm1::RemoveAllClick()
{
    if (Working() || m_tree->IsBusy())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Last disc first, as the catalog was built; walking the discs rather
    // than every absolute index avoids rebuilding the flat index after
    // each removal.
    TCatalogNodes &items = m_tree->Items();
    for (int row = items.TopLevelCount() - 1; row >= 0; --row)
        items.Delete(items.TopLevel(row));
    SaveCatalog();
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
    if (!m_folderVolumes->QueryVolume(root, label)) {
        m_services.messages->ShowText(QStringLiteral("Nothing readable at %1").arg(CDDriveComboBox->currentText()));
        return;
    }
    if (label != disc->Text() &&
        !m_services.messages->Confirm(
            QStringLiteral("The volume in %1 is labelled \"%2\", not \"%3\".\rUpdate the CD \"%3\" from it anyway?")
                .arg(CDDriveComboBox->currentText(), DecodeName(label), DecodeName(disc->Text()))))
        return;
    TUpdateDiscResult result;
    {
        WorkScope work(*this);
        m_progress->animate = true;
        try {
            result = UpdateDisc(*m_tree, disc, root, *m_icons, m_progress.get());
        } catch (const std::exception &e) {
            m_progress->Reset();
            m_services.messages->Error(Text(e.what()));
            return;
        }
        m_progress->SetBusy(false);
    }
    if (!result.updated) {
        m_services.messages->ShowText(DecodeName(result.message));
        return;
    }
    ShowFileTypes(result.fileTypes);
    DBLabel->setText(QString::fromStdString(DatabaseLabelText(result.fileCount)));
    SaveCatalog();
}

void TForm1::ExportResultsClick()
{
    const QString fileName = m_services.chooseExportFile
        ? m_services.chooseExportFile()
        : QFileDialog::getSaveFileName(this, QStringLiteral("Export Results"), QStringLiteral("results.csv"),
                                       QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (fileName.isEmpty())
        return;
    const std::string csv = ExportRows(m_resultModel->Rows(), TExportFormat::Csv);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv.data(), qint64(csv.size())) != qint64(csv.size()) ||
        !file.commit())
        m_services.messages->Error(QStringLiteral("Cannot create file %1").arg(fileName));
}

// --- result list --------------------------------------------------------------------

const TResultRow *TForm1::FirstSelectedRow() const
{
    int first = -1;
    for (const QModelIndex &index : ListView1->selectionModel()->selectedRows(0))
        if (first < 0 || index.row() < first)
            first = index.row();
    return m_resultModel->Row(first);
}

void TForm1::RunResultAction(TResultAction action)
{
    TActionEnvironment env{*m_folderVolumes, *m_services.files, *m_services.launcher, *m_services.messages};
    tslcat::RunResultAction(action, FirstSelectedRow(), PathBytes(CDDriveComboBox->currentText()), env);
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
    const TResultRow *result = m_resultModel->Row(row);
    if (result && !result->IsDiscRow())
        ListView1->setToolTip(DecodeName(result->fullPath));
}

} // namespace tslcat
