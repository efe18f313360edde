// result_actions.cpp - the path logic and the flow of the result actions.

#include "result_actions.h"

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
    t.folder = t.root;
    for (size_t i = 0; i + 1 < row.components.size(); ++i) {
        t.folder += row.components[i];
        t.folder.push_back(sep);
    }
    t.target = t.folder;
    if (!row.components.empty())
        t.target += row.components.back();
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

std::string InsertDiscPrompt(std::string_view discName)
{
    return std::string(texts::kInsertCDBefore) + std::string(discName) + texts::kInsertCDAfter;
}

TActionOutcome RunResultAction(TResultAction action, const TResultRow *row, std::string_view driveRoot,
                               TActionEnvironment &env)
{
    if (!row || row->IsDiscRow())
        return TActionOutcome::NoPath;
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
