// cli.cpp - the commands of tslcat-cli.
//
// Every command loads the catalog first; a catalog that fails to load is
// reported and never written back, so a damaged "mdb.dat" survives any
// command.  search, list and stats, which only read, answer from the
// binary file in place instead (catalog_stream.h), with the same output and
// the same messages; the text form still loads.  Errors are one line "tslcat-cli: <message>" on standard error.
//
// Commands that change the catalog (add, remove, import, restore) load it
// and save it under the catalog's writer lock (catalog_lock.h), so several
// programs changing one catalog at once each keep their change; a disc is
// scanned before the lock is taken.

#include "cli.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "catalog_duplicates.h"
#include "catalog_edits.h"
#include "catalog_errors.h"
#include "catalog_export.h"
#include "catalog_lock.h"
#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_stream.h"
#include "catalog_texts.h"
#include "catalog_tree.h"
#include "catalog_update.h"
#include "icon_lookup.h"
#include "node_values.h"
#include "tree_scanner.h"
#include "volumes.h"

namespace tslcat::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoHits = 1;
constexpr int kExitError = 2;
constexpr size_t kMaxExpressionLength = 50;

const char kProgram[] = "tslcat-cli";

const char kUsage[] = "Usage: tslcat-cli [--db FILE] COMMAND ...\n"
                      "       tslcat-cli --help | --version\n"
                      "\n"
                      "Commands:\n"
                      "  search [--files|--folders|--both|--discs] [--case] [--type EXT]\n"
                      "         [--larger N[K|M|G]] [--smaller N[K|M|G]] [--newer DATE] [--older DATE]\n"
                      "         [--mode regex|approx[:K]|soundex] [--long] [--format tsv|csv|json] EXPR\n"
                      "  add [--name NAME] [--archives] FOLDER|IMAGE\n"
                      "  update [--diff] NAME PATH\n"
                      "  locate NAME\n"
                      "  list [--format csv|json]\n"
                      "  duplicates [--by name|name+size] [--min-size N[K|M|G]]\n"
                      "  stats\n"
                      "  remove NAME\n"
                      "  export --text|--binary FILE\n"
                      "  import FILE\n"
                      "  restore\n"
                      "\n"
                      "The catalog is \"mdb.dat\" in the working directory unless --db names another.\n"
                      "remove keeps the catalog as it was in FILE.bak; restore puts FILE.bak back (and keeps\n"
                      "the catalog it replaces as FILE.bak).\n"
                      "A command that changes the catalog waits up to 10 s (TSLCAT_LOCK_TIMEOUT seconds)\n"
                      "for another program that is changing it.\n"
                      "search, list and stats read a binary catalog in place; TSLCAT_LOAD_TREE=1 makes them\n"
                      "load the whole catalog first, as the other commands do.\n";

void writeOut(std::string_view bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void printError(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

std::string bytesOf(const QString &s)
{
    return QFile::encodeName(s).toStdString();
}

// Thrown for usage and user errors that are not catalog exceptions.
struct UsageError {
    std::string message;
};

class Catalog {
public:
    explicit Catalog(QString fileName) : fileName_(std::move(fileName)) {}

    // Loads the catalog.  A missing file is an error unless `mayBeMissing`
    // (commands that create the catalog).  Load errors propagate: nothing
    // is saved after them.
    void Load(bool mayBeMissing)
    {
        TLoadResult r = LoadCatalog(tree_, fileName_, icons_);
        if (!r.found && !mayBeMissing)
            throw UsageError{NoDatabaseText(bytesOf(fileName_))};
        fileCount_ = r.fileCount;
        fileTypes_ = std::move(r.fileTypes);
    }

    // Loads the catalog afresh under its writer lock, makes the change and
    // saves.  `apply` returns false when the change finds nothing to do:
    // nothing is saved then and the result says it was not applied.
    TCommitResult Change(bool mayBeMissing, bool destructive, const std::function<bool(TCatalogTree &)> &apply)
    {
        TCatalogCommitter committer(fileName_);
        const TCommitResult result = committer.Commit(
            tree_, apply, destructive, [&] { Load(mayBeMissing); }, nullptr, CatalogLockTimeoutMs(),
            [this] { announceWait(); });
        fileCount_ = result.fileCount;
        return result;
    }

    const QString &FileName() const { return fileName_; }
    void announceWait() const
    {
        printError("waiting for another program that is changing '" + bytesOf(fileName_) + "' ...");
    }

    // The catalog file mapped for the in-place readers, which answer search,
    // list and stats without building the tree; nullptr when they cannot
    // read it (the text form, a file that cannot be opened or mapped) or
    // TSLCAT_LOAD_TREE=1 asks for the tree: the command then loads the
    // tree, which reports any fault of the file.
    std::unique_ptr<TMappedCatalog> Map() const
    {
        if (qEnvironmentVariableIntValue("TSLCAT_LOAD_TREE") == 1)
            return nullptr;
        if (!QFileInfo::exists(fileName_))
            throw UsageError{NoDatabaseText(bytesOf(fileName_))};
        auto mapped = std::make_unique<TMappedCatalog>(fileName_);
        if (!mapped->Usable())
            return nullptr;
        return mapped;
    }

    TCatalogTree &Tree() { return tree_; }
    IIconLookup &Icons() { return icons_; }
    int64_t FileCount() const { return fileCount_; }
    const TFileTypeList &FileTypes() const { return fileTypes_; }

private:
    QString fileName_;
    TCatalogTree tree_;
    TPlainIconLookup icons_;
    int64_t fileCount_ = 0;
    TFileTypeList fileTypes_;
};

// A sub-command's own parser over "tslcat-cli COMMAND args...".
bool parseCommand(QCommandLineParser &parser, const QString &command, const QStringList &args)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QStringList full{QString(kProgram) + " " + command};
    full += args;
    if (!parser.parse(full))
        throw UsageError{bytesOf(parser.errorText())};
    return true;
}

uint64_t sizeOption(const QCommandLineParser &p, const char *name)
{
    uint64_t bytes = 0;
    if (!ParseSizeText(bytesOf(p.value(name)), bytes))
        throw UsageError{std::string("--") + name + ": not a size (N, NK, NM or NG): " + bytesOf(p.value(name))};
    return bytes;
}

int64_t dateOption(const QCommandLineParser &p, const char *name)
{
    int64_t t = 0;
    if (!ParseDateText(p.value(name), t))
        throw UsageError{std::string("--") + name + ": not an ISO 8601 date: " + bytesOf(p.value(name))};
    return t;
}

TValueFilter valueFilterOf(const QCommandLineParser &p)
{
    TValueFilter f;
    if (p.isSet("larger"))
        f.largerThan = sizeOption(p, "larger");
    if (p.isSet("smaller"))
        f.smallerThan = sizeOption(p, "smaller");
    if (p.isSet("newer"))
        f.newerThan = dateOption(p, "newer");
    if (p.isSet("older"))
        f.olderThan = dateOption(p, "older");
    return f;
}

TExportFormat formatOf(const QCommandLineParser &p, const char *command, bool tsvAllowed)
{
    TExportFormat format = TExportFormat::Tsv;
    if (p.isSet("format") &&
        (!ParseExportFormat(bytesOf(p.value("format")), format) || (!tsvAllowed && format == TExportFormat::Tsv)))
        throw UsageError{std::string(command) + ": unknown format " + bytesOf(p.value("format"))};
    return format;
}

// The rows, the count line and the exit code of a search that has run.
int finishSearch(TSearchKind kind, int32_t compileResult, bool tooComplex, const std::vector<TResultRow> &rows,
                 TExportFormat format, bool longFields)
{
    if (compileResult != 0)
        return kExitError; // the library has reported the expression's fault
    if (tooComplex) {
        std::fprintf(stderr, "%s\n", texts::kExpressionTooComplex);
        return kExitError;
    }
    writeOut(ExportRows(rows, format, longFields));
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", FoundText(kind, static_cast<int64_t>(rows.size())).c_str());
    return rows.empty() ? kExitNoHits : kExitOk;
}

int commandSearch(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"files", "Search file names."});
    p.addOption({"folders", "Search folder names."});
    p.addOption({"both", "Search file and folder names (default)."});
    p.addOption({"discs", "Search disc names."});
    p.addOption({"case", "Match letter case exactly."});
    p.addOption({"type", "Only files with this extension (exact case), e.g. .zip.", "EXT"});
    p.addOption({"mode",
                 "How names are matched: regex (default), approx[:K] (K wrong characters, default 1) or soundex.",
                 "MODE"});
    p.addOption({"larger", "Only nodes larger than N bytes (K, M, G: 1024^1..3).", "N"});
    p.addOption({"smaller", "Only nodes smaller than N bytes.", "N"});
    p.addOption({"newer", "Only nodes modified after DATE (ISO 8601, UTC unless an offset is given).", "DATE"});
    p.addOption({"older", "Only nodes modified before DATE.", "DATE"});
    p.addOption({"long", "Add size in bytes and modification time (ISO 8601 UTC) to each row."});
    p.addOption({"format", "Output format: tsv (default), csv or json.", "FORMAT"});
    p.addPositionalArgument("EXPR", "Regular expression (or the text of the other modes).");
    parseCommand(p, "search", args);

    TSearchRequest request;
    int kinds = 0;
    if (p.isSet("files"))
        ++kinds, request.kind = TSearchKind::Files;
    if (p.isSet("folders"))
        ++kinds, request.kind = TSearchKind::Folders;
    if (p.isSet("both"))
        ++kinds, request.kind = TSearchKind::FilesAndFolders;
    if (p.isSet("discs"))
        ++kinds, request.kind = TSearchKind::Discs;
    if (kinds > 1)
        throw UsageError{"search: give at most one of --files, --folders, --both, --discs"};
    if (p.isSet("type")) {
        // Only the file search reads the filter, so --type alone means --files.
        if (kinds == 0)
            request.kind = TSearchKind::Files;
        if (request.kind != TSearchKind::Files)
            throw UsageError{"search: --type applies to --files only"};
        // Every non-empty extension begins with its dot, so "zip" can only
        // mean ".zip".
        QString type = p.value("type");
        if (!type.isEmpty() && !type.startsWith(QLatin1Char('.')))
            type.prepend(QLatin1Char('.'));
        SetTypedFileTypeFilter(request, type);
    }
    if (p.positionalArguments().size() != 1)
        throw UsageError{"search: expects one expression"};
    SetTypedExpression(request, p.positionalArguments().front());
    request.caseSensitive = p.isSet("case");
    if (p.isSet("mode") && !ParseMatchSpec(bytesOf(p.value("mode")), request.match))
        throw UsageError{"search: --mode expects regex, approx, approx:K (K from 0 to 9) or soundex"};
    if (request.expression.empty() || request.expression == texts::kSearchTextInitial)
        throw UsageError{texts::kEnterValidSearchString};
    if (request.expression.size() > kMaxExpressionLength)
        throw UsageError{"search: the expression is longer than 50 bytes"};
    request.valueFilter = valueFilterOf(p);
    const TExportFormat format = formatOf(p, "search", true);

    const bool longFields = p.isSet("long");
    if (CanStreamSearch(request)) {
        if (const std::unique_ptr<TMappedCatalog> mapped = catalog.Map()) {
            // Sizes and times are printed by --long and by CSV and JSON.
            TStreamSearchResult r = StreamSearch(mapped->Source(), request, longFields || format != TExportFormat::Tsv);
            return finishSearch(request.kind, r.compileResult, r.tooComplex, r.rows, format, longFields);
        }
    }
    catalog.Load(false);
    const TSearchOutcome outcome = RunSearch(catalog.Tree(), request);
    return finishSearch(request.kind, outcome.compileResult, outcome.tooComplex, outcome.rows, format, longFields);
}

int commandAdd(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"name", "Name of the new disc (default: volume label, else folder or file name).", "NAME"});
    p.addOption({"archives", "Catalog the members of zip, 7z, tar and ISO files found."});
    p.addPositionalArgument("PATH", "Folder, mount point or ISO 9660 image to scan.");
    parseCommand(p, "add", args);
    if (p.positionalArguments().size() != 1)
        throw UsageError{"add: expects one folder or image"};
    const QString path = p.positionalArguments().front();
    const QFileInfo info(path);
    if (!info.isDir() && !info.isFile())
        throw UsageError{"add: not a folder or an image: " + bytesOf(path)};

    std::string root = bytesOf(path);
    std::string name;
    if (info.isFile()) {
        // An image file is a disc of its own, with no drive to ask; one that
        // is not an image is refused here, before the catalog is loaded.
        name = p.isSet("name") ? bytesOf(p.value("name")) : ImageDiscName(root);
    } else {
        // An empty drive's mount point is an empty folder, not an empty disc.
        TSystemVolumeList volumes;
        std::string label;
        if (!QueryDrive(volumes.Volumes(), root, label))
            throw UsageError{"add: no disc is mounted at " + root};
        name = p.isSet("name") ? bytesOf(p.value("name")) : DefaultDiscName(root, label);
    }
    TScanOptions options;
    options.openArchives = p.isSet("archives");

    // The scan, the slow part, runs before the lock is taken: into a tree of
    // its own, whose disc is then appended to the catalog as it is on disk.
    auto scanned = std::make_shared<TCatalogTree>();
    const TAddDiscResult result = AddDisc(*scanned, root, name, catalog.Icons(), nullptr, options);
    for (const TClosedArchive &closed : result.keptClosed)
        printError("kept closed: " + closed.path + ": " + closed.reason);
    const TCatalogEdit edit = TCatalogEdit::AddDiscs(scanned);
    const int64_t files =
        catalog.Change(true, false, [&edit](TCatalogTree &tree) { return ApplyEdit(tree, edit); }).fileCount;
    writeOut(DatabaseLabelText(files) + "\n");
    return kExitOk;
}

// Where the disc is mounted, found by its label as the window finds it.
int commandLocate(const QStringList &args)
{
    QCommandLineParser p;
    p.addPositionalArgument("NAME", "Name of the disc.");
    parseCommand(p, "locate", args);
    if (p.positionalArguments().size() != 1)
        throw UsageError{"locate: expects one disc name"};
    const std::string name = bytesOf(p.positionalArguments().front());
    TSystemVolumeList volumes;
    const std::vector<TVolume> list = volumes.Volumes();
    const TVolume *disc = FindVolumeByLabel(list, name);
    if (!disc) {
        printError("locate: no disc labelled " + name + " is mounted");
        return kExitNoHits;
    }
    // The mount path as the system writes it, without the drive root's
    // closing separator.
    std::string mountPath = disc->root;
    if (mountPath.size() > 1)
        mountPath.pop_back();
    writeOut(mountPath + "\n");
    return kExitOk;
}

int commandList(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"format", "csv or json instead of the indented names.", "FORMAT"});
    parseCommand(p, "list", args);
    if (!p.positionalArguments().isEmpty())
        throw UsageError{"list: takes no arguments"};
    const bool exported = p.isSet("format");
    const TExportFormat format = formatOf(p, "list", false);
    if (const std::unique_ptr<TMappedCatalog> mapped = catalog.Map()) {
        writeOut(exported ? ExportRows(StreamAllRows(mapped->Source()), format) : StreamOutline(mapped->Source()));
        return kExitOk;
    }
    catalog.Load(false);
    if (exported) {
        writeOut(ExportRows(AllRows(catalog.Tree()), format));
        return kExitOk;
    }
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        throw EWriteError();
    catalog.Tree().Items().WriteText(out);
    return kExitOk;
}

int commandUpdate(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"diff", "Also list the paths that changed: + added, - removed, ~ changed."});
    p.addPositionalArgument("NAME", "Name of the disc to rescan.");
    p.addPositionalArgument("PATH", "Folder or mount point to scan it from.");
    parseCommand(p, "update", args);
    if (p.positionalArguments().size() != 2)
        throw UsageError{"update: expects a disc name and a folder"};
    const std::string name = bytesOf(p.positionalArguments().at(0));
    const std::string root = bytesOf(p.positionalArguments().at(1));
    // The scan first, outside the writer lock; then, under it, the disc's
    // contents are replaced on the catalog as it is on disk (a destructive
    // change: the catalog is kept in the backup first).
    std::string refusal;
    const std::shared_ptr<TCatalogTree> scanned = ScanDiscForUpdate(root, name, catalog.Icons(), nullptr, refusal);
    if (!scanned)
        throw UsageError{"update: " + refusal};
    TUpdateDiscResult r;
    const TCommitResult result = catalog.Change(false, true, [&](TCatalogTree &tree) {
        TCatalogNodes &nodes = tree.Items();
        TCatalogNode *disc = nullptr;
        for (int row = 0; row < nodes.TopLevelCount(); ++row) {
            if (nodes.TopLevel(row)->Text() != name)
                continue;
            if (disc) {
                refusal = "more than one disc is named " + name;
                return false;
            }
            disc = nodes.TopLevel(row);
        }
        if (!disc) {
            refusal = "no disc named " + name;
            return false;
        }
        r = ReplaceDiscContents(tree, disc, *scanned->Items().TopLevel(0), catalog.Icons());
        refusal = r.message;
        return r.updated;
    });
    if (!result.applied)
        throw UsageError{"update: " + refusal};
    const int64_t files = result.fileCount;
    if (p.isSet("diff"))
        for (const TDiscChange &c : r.changes)
            writeOut(std::string(1, c.mark) + " " + c.path + "\n");
    writeOut(std::to_string(r.added) + " added, " + std::to_string(r.removed) + " removed, " +
             std::to_string(r.changed) + " changed\n");
    writeOut(DatabaseLabelText(files) + "\n");
    return kExitOk;
}

int commandDuplicates(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"by", "name or name+size (default).", "KEY"});
    p.addOption({"min-size", "Only files of at least N bytes (K, M, G: 1024^1..3).", "N"});
    parseCommand(p, "duplicates", args);
    if (!p.positionalArguments().isEmpty())
        throw UsageError{"duplicates: takes no arguments"};
    TDuplicateKey key = TDuplicateKey::NameAndSize;
    if (p.isSet("by")) {
        const QString by = p.value("by");
        if (by == "name")
            key = TDuplicateKey::Name;
        else if (by != "name+size")
            throw UsageError{"duplicates: --by takes name or name+size"};
    }
    std::optional<uint64_t> minSize;
    if (p.isSet("min-size"))
        minSize = sizeOption(p, "min-size");
    catalog.Load(false);
    const std::vector<TDuplicateGroup> groups = FindDuplicates(catalog.Tree(), key, minSize);
    std::string out;
    for (const TDuplicateGroup &g : groups) {
        if (!out.empty())
            out += '\n';
        out += g.name + "\t" + FormatSizeBytes(g.size) + "\n";
        for (const TResultRow &copy : g.copies)
            out += "\t" + copy.discName + "\t" + copy.fullPath + "\n";
    }
    writeOut(out);
    return groups.empty() ? kExitNoHits : kExitOk;
}

int commandStats(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    parseCommand(p, "stats", args);
    if (!p.positionalArguments().isEmpty())
        throw UsageError{"stats: takes no arguments"};
    if (const std::unique_ptr<TMappedCatalog> mapped = catalog.Map()) {
        const TStreamStats stats = StreamStats(mapped->Source());
        writeOut(DatabaseLabelText(stats.fileCount) + "\n");
        for (const std::string &type : stats.fileTypes.Items())
            writeOut(type + "\n");
        return kExitOk;
    }
    catalog.Load(false);
    writeOut(DatabaseLabelText(catalog.FileCount()) + "\n");
    for (const std::string &type : catalog.FileTypes().Items())
        writeOut(type + "\n");
    return kExitOk;
}

int commandRemove(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addPositionalArgument("NAME", "Name of the disc(s) to remove.");
    parseCommand(p, "remove", args);
    if (p.positionalArguments().size() != 1)
        throw UsageError{"remove: expects one disc name"};
    const std::string name = bytesOf(p.positionalArguments().front());
    const TCommitResult result = catalog.Change(false, true, [&name](TCatalogTree &tree) {
        TCatalogNodes &nodes = tree.Items();
        int removed = 0;
        for (int row = nodes.TopLevelCount() - 1; row >= 0; --row) {
            TCatalogNode *disc = nodes.TopLevel(row);
            if (disc->Text() == name) {
                nodes.Delete(disc);
                ++removed;
            }
        }
        return removed > 0;
    });
    if (!result.applied)
        throw UsageError{"remove: no disc named " + name};
    writeOut(DatabaseLabelText(result.fileCount) + "\n");
    return kExitOk;
}

int commandExport(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"text", "Write the indented text form."});
    p.addOption({"binary", "Write the binary form."});
    p.addPositionalArgument("FILE", "File to write.");
    parseCommand(p, "export", args);
    if (p.isSet("text") == p.isSet("binary"))
        throw UsageError{"export: give one of --text, --binary"};
    if (p.positionalArguments().size() != 1)
        throw UsageError{"export: expects one file"};
    catalog.Load(false);
    catalog.Tree().SaveToFile(p.positionalArguments().front(), p.isSet("binary"));
    return kExitOk;
}

int commandImport(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addPositionalArgument("FILE", "Catalog file (binary or text form) whose discs to append.");
    parseCommand(p, "import", args);
    if (p.positionalArguments().size() != 1)
        throw UsageError{"import: expects one file"};
    auto source = std::make_shared<TCatalogTree>();
    source->LoadFromFile(p.positionalArguments().front());
    const TCatalogEdit edit = TCatalogEdit::AddDiscs(source);
    const int64_t files =
        catalog.Change(true, false, [&edit](TCatalogTree &tree) { return ApplyEdit(tree, edit); }).fileCount;
    writeOut(DatabaseLabelText(files) + "\n");
    return kExitOk;
}

int commandRestore(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    parseCommand(p, "restore", args);
    if (!p.positionalArguments().isEmpty())
        throw UsageError{"restore: takes no arguments"};
    RestoreBackup(catalog.FileName(), CatalogLockTimeoutMs(), [&catalog] { catalog.announceWait(); });
    catalog.Load(false);
    writeOut(DatabaseLabelText(catalog.FileCount()) + "\n");
    return kExitOk;
}

} // namespace

int Run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("The tslcat disc catalog from the command line.");
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption dbOption("db", "Catalog file (default: mdb.dat in the working directory).", "FILE",
                                      texts::kDatabaseFileName);
    const QCommandLineOption helpOption({"h", "help"}, "Show this help.");
    const QCommandLineOption versionOption("version", "Show the version.");
    parser.addOption(dbOption);
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    parser.addPositionalArgument(
        "COMMAND", "search, add, update, locate, list, duplicates, stats, remove, export, import or restore.");
    if (!parser.parse(arguments)) {
        printError(bytesOf(parser.errorText()));
        std::fputs(kUsage, stderr);
        return kExitError;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (parser.isSet(versionOption)) {
        std::printf("tslcat-cli %s\n", TSLCAT_VERSION);
        return kExitOk;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty()) {
        std::fputs(kUsage, stderr);
        return kExitError;
    }
    const QString command = rest.takeFirst();
    Catalog catalog(parser.value(dbOption));
    try {
        if (command == "search")
            return commandSearch(catalog, rest);
        if (command == "add")
            return commandAdd(catalog, rest);
        if (command == "locate")
            return commandLocate(rest);
        if (command == "list")
            return commandList(catalog, rest);
        if (command == "update")
            return commandUpdate(catalog, rest);
        if (command == "duplicates")
            return commandDuplicates(catalog, rest);
        if (command == "stats")
            return commandStats(catalog, rest);
        if (command == "remove")
            return commandRemove(catalog, rest);
        if (command == "export")
            return commandExport(catalog, rest);
        if (command == "import")
            return commandImport(catalog, rest);
        if (command == "restore")
            return commandRestore(catalog, rest);
        printError("unknown command: " + bytesOf(command));
        std::fputs(kUsage, stderr);
        return kExitError;
    } catch (const UsageError &e) {
        printError(e.message);
    } catch (const Exception &e) {
        printError(e.what());
    } catch (const std::bad_alloc &) {
        printError("out of memory");
    }
    return kExitError;
}

} // namespace tslcat::cli
