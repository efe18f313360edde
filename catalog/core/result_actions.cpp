// result_actions.cpp - the path logic and the flow of the result actions.

#include "result_actions.h"

#include <algorithm>

#include "catalog_search.h"
#include "catalog_texts.h"
#include "platform.h"
#include "volumes.h"

#include <algorithm>

namespace tslcat {

std::string PathOnDisc(std::string_view fullPath)
{
    constexpr size_t prefix = sizeof texts::kFullPathPrefix - 1;
    return fullPath.size() > prefix ? std::string(fullPath.substr(prefix)) : std::string();
}

TActionTarget MakeActionTarget(const TResultRow &row, std::string_view driveRoot)
{
    const char sep = platform::PathSeparator();
    TActionTarget t;
    t.root = DriveRootOf(driveRoot);
    // A member's own path goes no further than its archive, the file that
    // is really on the disc.
    size_t count = row.components.size();
    if (row.IsArchiveMember())
        count = std::min(count, static_cast<size_t>(row.archiveComponent) + 1);
    t.folder = t.root;
    for (size_t i = 0; i + 1 < count; ++i) {
        t.folder += row.components[i];
        t.folder.push_back(sep);
    }
    t.target = t.folder;
    if (count > 0)
        t.target += row.components[count - 1];
    return t;
}

bool TVolumeListQuery::QueryVolume(const std::string &root, std::string &label)
{
    return QueryDrive(m_volumes.Volumes(), root, label);
}

bool TSystemVolumeQuery::QueryVolume(const std::string &root, std::string &label)
{
    TSystemVolumeList volumes;
    return QueryDrive(volumes.Volumes(), root, label);
}

bool TSystemFileProbe::FileExists(const std::string &path)
{
    return platform::IsExistingFile(path);
}

std::string InsideArchiveMessage(const TResultRow &row)
{
    const std::string archive =
        row.IsArchiveMember() && static_cast<size_t>(row.archiveComponent) < row.components.size()
        ? row.components[static_cast<size_t>(row.archiveComponent)]
        : std::string();
    return texts::kInsideArchiveBefore + row.nodeName + texts::kInsideArchiveMiddle + archive +
        texts::kInsideArchiveAfter;
}

std::string InsertDiscPrompt(std::string_view discName)
{
    return std::string(texts::kInsertCDBefore) + std::string(discName) + texts::kInsertCDAfter;
}

std::string OtherDiscQuestion(std::string_view discName, std::string_view root, std::string_view label)
{
    std::string text = texts::kOtherDiscBefore;
    text += discName;
    text += texts::kOtherDiscOn;
    text += root;
    text += texts::kOtherDiscLabel;
    text += label;
    text += texts::kOtherDiscAfter;
    return text;
}

namespace {

TActionOutcome Act(TResultAction action, const TActionTarget &t, ILauncher &launcher)
{
    switch (action) {
    case TResultAction::RunSelectedFile:
        launcher.OpenWithDefault(t.target);
        break;
    case TResultAction::OpenWithNotepad:
        launcher.OpenInEditor(t.target);
        break;
    case TResultAction::BrowseContainingFolder:
        launcher.OpenWithDefault(t.folder);
        break;
    }
    return TActionOutcome::Started;
}

// The disc among `volumes`: the one labelled with the disc name when the
// file is there, else a volume holding the file that the user accepts when
// asked.  Only volumes neither in `offered` nor in `notOffered` are asked
// about; `offered` collects them, so a refusal is not asked again.
const TVolume *LocateDisc(const std::vector<TVolume> &volumes, const TResultRow &row, const std::string &driveRoot,
                          TActionEnvironment &env, std::vector<std::string> &offered,
                          const std::vector<std::string> &notOffered)
{
    const TVolume *byLabel = FindVolumeByLabel(volumes, row.discName);
    if (byLabel && env.files.FileExists(MakeActionTarget(row, byLabel->root).target))
        return byLabel;
    std::vector<TVolume> candidates;
    for (const TVolume &v : volumes)
        if (std::find(offered.begin(), offered.end(), v.root) == offered.end() &&
            std::find(notOffered.begin(), notOffered.end(), v.root) == notOffered.end())
            candidates.push_back(v);
    const TVolume *holder = FindVolumeWithFile(candidates, row, env.files, driveRoot);
    if (!holder)
        return nullptr;
    offered.push_back(holder->root);
    if (!env.prompter.Ask(OtherDiscQuestion(row.discName, holder->root, holder->label)))
        return nullptr;
    for (const TVolume &v : volumes)
        if (v.root == holder->root)
            return &v;
    return nullptr;
}

} // namespace

TActionOutcome RunResultAction(TResultAction action, const TResultRow *row, std::string_view driveRoot,
                               TActionEnvironment &env)
{
    if (!row || row->IsDiscRow())
        return TActionOutcome::NoPath;
    if (row->IsArchiveMember() && action != TResultAction::BrowseContainingFolder) {
        env.prompter.ShowMessage(InsideArchiveMessage(*row));
        return TActionOutcome::InsideArchive;
    }
    const TActionTarget t = MakeActionTarget(*row, driveRoot);
    std::string label;
    const bool driveReady = env.volumes.QueryVolume(t.root, label);
    if (driveReady && env.files.FileExists(t.target))
        return Act(action, t, env.launcher);

    std::vector<std::string> offered;
    std::vector<std::string> mountedBefore;
    if (env.volumeList) {
        const std::vector<TVolume> volumes = env.volumeList->Volumes();
        if (const TVolume *disc = LocateDisc(volumes, *row, t.root, env, offered, {}))
            return Act(action, MakeActionTarget(*row, disc->root), env.launcher);
        for (const TVolume &v : volumes)
            mountedBefore.push_back(v.root);
    }
    if (!driveReady) {
        env.prompter.ShowMessage(texts::kDriveNotReady);
        return TActionOutcome::DriveNotReady;
    }

    env.prompter.ShowMessage(InsertDiscPrompt(row->discName));
    // A disc inserted now is mounted a moment later, and under its own label
    // rather than at the drive root.  The volumes mounted before the prompt
    // were looked at already: only newcomers are offered now.
    constexpr int kLookInterval = 1000;
    for (int waited = 0;;) {
        if (env.files.FileExists(t.target))
            return Act(action, t, env.launcher);
        if (env.volumeList) {
            const std::vector<TVolume> volumes = env.volumeList->Volumes();
            if (const TVolume *disc = LocateDisc(volumes, *row, t.root, env, offered, mountedBefore))
                return Act(action, MakeActionTarget(*row, disc->root), env.launcher);
        }
        if (!env.waiter || waited >= env.discWaitMilliseconds)
            break;
        const int step = std::min(kLookInterval, env.discWaitMilliseconds - waited);
        if (!env.waiter->Wait(step))
            break;
        waited += step;
    }
    return TActionOutcome::NotFound;
}

} // namespace tslcat
