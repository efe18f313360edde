// result_actions.cpp - the path logic and the flow of the result actions.

#include "result_actions.h"

#include <algorithm>

#include "catalog_search.h"
#include "catalog_texts.h"
#include "platform.h"

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
    t.root = std::string(driveRoot);
    while (t.root.size() > 1 && t.root.back() == sep)
        t.root.pop_back();
    if (t.root.empty() || t.root.back() != sep)
        t.root.push_back(sep);
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

bool TSystemVolumeQuery::QueryVolume(const std::string &root, std::string &label)
{
    return platform::QueryVolume(root, label);
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
    if (!env.volumes.QueryVolume(t.root, label)) {
        env.prompter.ShowMessage(texts::kDriveNotReady);
        return TActionOutcome::DriveNotReady;
    }
    if (!env.files.FileExists(t.target)) {
        env.prompter.ShowMessage(InsertDiscPrompt(row->discName));
        if (!env.files.FileExists(t.target))
            return TActionOutcome::NotFound;
    }
    switch (action) {
    case TResultAction::RunSelectedFile:
        env.launcher.OpenWithDefault(t.target);
        break;
    case TResultAction::OpenWithNotepad:
        env.launcher.OpenInEditor(t.target);
        break;
    case TResultAction::BrowseContainingFolder:
        env.launcher.OpenWithDefault(t.folder);
        break;
    }
    return TActionOutcome::Started;
}

} // namespace tslcat
