// cli.cpp - the commands of tslcat-cli.
//
// Every command loads the catalog first; a catalog that fails to load is
// reported and never written back, so a damaged "mdb.dat" survives any
// command.  Errors are one line "tslcat-cli: <message>" on standard error.

#include "cli.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <optional>
#include <string>

#include "catalog_errors.h"
#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_texts.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "platform.h"
#include "tree_scanner.h"

namespace tslcat::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoHits = 1;
constexpr int kExitError = 2;
constexpr size_t kMaxExpressionLength = 50;

const char kProgram[] = "tslcat-cli";

const char kUsage[] = "Usage: tslcat-cli [--db FILE] COMMAND ...\n"
                      "\n"
                      "Commands:\n"
                      "  search [--files|--folders|--both|--discs] [--case] [--type EXT] EXPR\n"
                      "  add [--name NAME] PATH\n"
                      "  list\n"
                      "  stats\n"
                      "  remove NAME\n"
                      "  export --text|--binary FILE\n"
                      "  import FILE\n"
                      "\n"
                      "The catalog is \"mdb.dat\" in the working directory unless --db names another.\n";

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
            throw UsageError{texts::kNoDatabase};
        fileCount_ = r.fileCount;
        fileTypes_ = std::move(r.fileTypes);
    }
    int64_t Save() { return fileCount_ = SaveCatalog(tree_, fileName_); }

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

int commandSearch(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"files", "Search file names."});
    p.addOption({"folders", "Search folder names."});
    p.addOption({"both", "Search file and folder names (default)."});
    p.addOption({"discs", "Search disc names."});
    p.addOption({"case", "Match letter case exactly."});
    p.addOption({"type", "Only files with this extension (exact case), e.g. .zip.", "EXT"});
    p.addPositionalArgument("EXPR", "Regular expression.");
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
        request.fileTypeFilter = bytesOf(p.value("type"));
        // Every non-empty extension begins with its dot, so "zip" can only
        // mean ".zip".
        if (!request.fileTypeFilter.empty() && request.fileTypeFilter[0] != '.')
            request.fileTypeFilter.insert(0, 1, '.');
    }
    if (p.positionalArguments().size() != 1)
        throw UsageError{"search: expects one expression"};
    request.expression = bytesOf(p.positionalArguments().front());
    request.caseSensitive = p.isSet("case");
    if (request.expression.empty() || request.expression == texts::kSearchTextInitial)
        throw UsageError{texts::kEnterValidSearchString};
    if (request.expression.size() > kMaxExpressionLength)
        throw UsageError{"search: the expression is longer than 50 bytes"};

    catalog.Load(false);
    TSearchOutcome outcome = RunSearch(catalog.Tree(), request);
    if (outcome.compileResult != 0)
        return kExitError; // the library has reported the expression's fault
    for (const TResultRow &row : outcome.rows) {
        writeOut(row.discName);
        if (!row.IsDiscRow()) {
            writeOut("\t");
            writeOut(row.nodeName);
            writeOut("\t");
            writeOut(row.fullPath);
        }
        writeOut("\n");
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", FoundText(request.kind, outcome.hitCount).c_str());
    return outcome.noMatches ? kExitNoHits : kExitOk;
}

// The folder's own name for a disc without a label: the last component of
// its absolute path.
std::string folderName(const QString &path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return bytesOf(QFileInfo(clean).fileName());
}

int commandAdd(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    p.addOption({"name", "Name of the new disc (default: volume label, else folder name).", "NAME"});
    p.addPositionalArgument("PATH", "Folder or mount point to scan.");
    parseCommand(p, "add", args);
    if (p.positionalArguments().size() != 1)
        throw UsageError{"add: expects one folder"};
    const QString path = p.positionalArguments().front();
    if (!QFileInfo(path).isDir())
        throw UsageError{"add: not a folder: " + bytesOf(path)};

    std::string root = bytesOf(path);
    std::string name;
    if (p.isSet("name")) {
        name = bytesOf(p.value("name"));
    } else {
        std::string label;
        std::string mount = root;
        if (mount.empty() || mount.back() != platform::PathSeparator())
            mount.push_back(platform::PathSeparator());
        if (platform::QueryVolume(mount, label) && !label.empty())
            name = label;
        else
            name = folderName(path);
    }

    catalog.Load(true);
    AddDisc(catalog.Tree(), root, name, catalog.Icons());
    const int64_t files = catalog.Save();
    writeOut(DatabaseLabelText(files) + "\n");
    return kExitOk;
}

int commandList(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    parseCommand(p, "list", args);
    if (!p.positionalArguments().isEmpty())
        throw UsageError{"list: takes no arguments"};
    catalog.Load(false);
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        throw EWriteError();
    catalog.Tree().Items().WriteText(out);
    return kExitOk;
}

int commandStats(Catalog &catalog, const QStringList &args)
{
    QCommandLineParser p;
    parseCommand(p, "stats", args);
    if (!p.positionalArguments().isEmpty())
        throw UsageError{"stats: takes no arguments"};
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
    catalog.Load(false);
    TCatalogNodes &nodes = catalog.Tree().Items();
    int removed = 0;
    for (int row = nodes.TopLevelCount() - 1; row >= 0; --row) {
        TCatalogNode *disc = nodes.TopLevel(row);
        if (disc->Text() == name) {
            nodes.Delete(disc);
            ++removed;
        }
    }
    if (removed == 0)
        throw UsageError{"remove: no disc named " + name};
    writeOut(DatabaseLabelText(catalog.Save()) + "\n");
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
    TCatalogTree source;
    source.LoadFromFile(p.positionalArguments().front());
    catalog.Load(true);
    TCatalogNodes &nodes = catalog.Tree().Items();
    for (int row = 0; row < source.Items().TopLevelCount(); ++row)
        CopySubtree(*source.Items().TopLevel(row), nodes, nullptr);
    writeOut(DatabaseLabelText(catalog.Save()) + "\n");
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
    parser.addPositionalArgument("COMMAND", "search, add, list, stats, remove, export or import.");
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
        if (command == "list")
            return commandList(catalog, rest);
        if (command == "stats")
            return commandStats(catalog, rest);
        if (command == "remove")
            return commandRemove(catalog, rest);
        if (command == "export")
            return commandExport(catalog, rest);
        if (command == "import")
            return commandImport(catalog, rest);
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
