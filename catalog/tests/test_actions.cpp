// Result actions: paths from a row and a drive root, and the prompt flow
// with fake volumes, files, launcher and prompter.

#include <gtest/gtest.h>

#include <set>

#include "catalog_search.h"
#include "catalog_tree.h"
#include "result_actions.h"

using namespace tslcat;

namespace {

TResultRow RowFor(const std::vector<std::string> &components, const std::string &disc = "Tools 1998")
{
    TCatalogTree tree;
    TCatalogNode *n = tree.Items().AddChild(nullptr, disc);
    for (const auto &c : components)
        n = tree.Items().AddChild(n, c);
    return MakeResultRow(*n);
}

struct Fakes : IVolumeQuery, IFileProbe, ILauncher, IPrompter {
    bool driveReady = true;
    std::set<std::string> files;
    std::set<std::string> filesAfterPrompt; // appear once the user "inserts the disc"
    std::vector<std::string> log;

    bool QueryVolume(const std::string &root, std::string &label) override
    {
        log.push_back("volume " + root);
        label = "LABEL";
        return driveReady;
    }
    bool FileExists(const std::string &path) override { return files.count(path) != 0; }
    void OpenWithDefault(const std::string &path) override { log.push_back("open " + path); }
    void OpenInEditor(const std::string &path) override { log.push_back("edit " + path); }
    void ShowMessage(const std::string &text) override
    {
        log.push_back("message " + text);
        files.insert(filesAfterPrompt.begin(), filesAfterPrompt.end());
    }
};

} // namespace

TEST(ResultActions, PathsFromRowAndDriveRoot)
{
    TResultRow row = RowFor({"setup", "docs", "readme.txt"});
    EXPECT_EQ(row.fullPath, "[ ]:\\setup\\docs\\readme.txt");
    EXPECT_EQ(PathOnDisc(row.fullPath), "setup\\docs\\readme.txt");
    EXPECT_EQ(PathOnDisc("[ ]:\\"), "");
    const struct {
        const char *root;
        const char *target;
        const char *rootOut;
        const char *folder;
    } cases[] = {
        {"/media/cdrom/", "/media/cdrom/setup/docs/readme.txt", "/media/cdrom/", "/media/cdrom/setup/docs/"},
        {"/media/cdrom", "/media/cdrom/setup/docs/readme.txt", "/media/cdrom/", "/media/cdrom/setup/docs/"},
        {"/mnt//", "/mnt/setup/docs/readme.txt", "/mnt/", "/mnt/setup/docs/"},
        {"/", "/setup/docs/readme.txt", "/", "/setup/docs/"},
    };
    for (const auto &c : cases) {
        TActionTarget t = MakeActionTarget(row, c.root);
        EXPECT_EQ(t.target, c.target) << c.root;
        EXPECT_EQ(t.root, c.rootOut) << c.root;
        EXPECT_EQ(t.folder, c.folder) << c.root;
    }
    // A name holding a backslash stays one component.
    TResultRow odd = RowFor({"a\\b", "c.txt"});
    EXPECT_EQ(odd.fullPath, "[ ]:\\a\\b\\c.txt");
    EXPECT_EQ(MakeActionTarget(odd, "/m/").target, "/m/a\\b/c.txt");
    EXPECT_EQ(MakeActionTarget(RowFor({"top.txt"}), "/m/").folder, "/m/");
}

TEST(ResultActions, FlowOfTheThreeActions)
{
    TResultRow row = RowFor({"setup", "run.exe"});
    const std::string target = "/cd/setup/run.exe";
    const std::string prompt = "message Insert CD \r\r'Tools 1998'\r\r into CD-Rom Drive, then press OK";
    const struct {
        const char *what;
        TResultAction action;
        bool ready;
        bool present;
        bool appears;
        TActionOutcome outcome;
        std::vector<std::string> log;
    } cases[] = {
        {"right disc: starts at once",
         TResultAction::RunSelectedFile,
         true,
         true,
         false,
         TActionOutcome::Started,
         {"volume /cd/", "open " + target}},
        {"editor",
         TResultAction::OpenWithNotepad,
         true,
         true,
         false,
         TActionOutcome::Started,
         {"volume /cd/", "edit " + target}},
        {"browse opens the folder",
         TResultAction::BrowseContainingFolder,
         true,
         true,
         false,
         TActionOutcome::Started,
         {"volume /cd/", "open /cd/setup/"}},
        {"empty drive",
         TResultAction::RunSelectedFile,
         false,
         true,
         false,
         TActionOutcome::DriveNotReady,
         {"volume /cd/", "message Drive not ready !"}},
        {"wrong disc, then the right one",
         TResultAction::RunSelectedFile,
         true,
         false,
         true,
         TActionOutcome::Started,
         {"volume /cd/", prompt, "open " + target}},
        {"wrong disc stays",
         TResultAction::RunSelectedFile,
         true,
         false,
         false,
         TActionOutcome::NotFound,
         {"volume /cd/", prompt}},
    };
    for (const auto &c : cases) {
        Fakes f;
        f.driveReady = c.ready;
        if (c.present)
            f.files.insert(target);
        if (c.appears)
            f.filesAfterPrompt.insert(target);
        TActionEnvironment env{f, f, f, f};
        EXPECT_EQ(RunResultAction(c.action, &row, "/cd", env), c.outcome) << c.what;
        EXPECT_EQ(f.log, c.log) << c.what;
    }
}

TEST(ResultActions, DiscRowsAndNoRowDoNothing)
{
    Fakes f;
    TActionEnvironment env{f, f, f, f};
    TResultRow disc = RowFor({});
    EXPECT_TRUE(disc.IsDiscRow());
    EXPECT_EQ(RunResultAction(TResultAction::RunSelectedFile, &disc, "/cd/", env), TActionOutcome::NoPath);
    EXPECT_EQ(RunResultAction(TResultAction::RunSelectedFile, nullptr, "/cd/", env), TActionOutcome::NoPath);
    EXPECT_TRUE(f.log.empty());
}

TEST(ResultActions, SystemFileProbeAnswersFalseForFolders)
{
    TSystemFileProbe probe;
    EXPECT_FALSE(probe.FileExists("/"));
    EXPECT_FALSE(probe.FileExists("/no/such/file/anywhere"));
    EXPECT_TRUE(probe.FileExists("/proc/self/status"));
    TSystemVolumeQuery volumes;
    std::string label = "stale";
    EXPECT_TRUE(volumes.QueryVolume("/", label));
    EXPECT_FALSE(volumes.QueryVolume("/no/such/mount/", label));
    EXPECT_EQ(label, "");
}
