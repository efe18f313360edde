// Fakes for the window's services: messages are recorded instead of shown,
// launches recorded instead of started, volumes and files answered from
// tables.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "desktopservices.h"
#include "result_actions.h"
#include "volumes.h"

namespace tslcat_test {

struct FakeMessages final : tslcat::TMessages {
    QStringList texts;
    std::vector<std::pair<QString, QString>> warnings; // caption, text
    QStringList errors;
    int beeps = 0;
    std::function<void(const QString &)> onText; // runs while the "box" is up
    std::function<void()> onWarning;

    void ShowText(const QString &text) override
    {
        texts << text;
        if (onText)
            onText(text);
    }
    void Warning(const QString &caption, const QString &text) override
    {
        warnings.emplace_back(caption, text);
        if (onWarning)
            onWarning();
    }
    void Error(const QString &text) override { errors << text; }
    void Beep() override { ++beeps; }
    QStringList questions;
    bool confirmAnswer = false; // what the user answers to a Yes/No question
    bool Confirm(const QString &text) override
    {
        questions << text;
        return confirmAnswer;
    }
};

struct FakeLauncher final : tslcat::ILauncher {
    std::vector<std::string> opened; // OpenWithDefault
    std::vector<std::string> edited; // OpenInEditor
    void OpenWithDefault(const std::string &path) override { opened.push_back(path); }
    void OpenInEditor(const std::string &path) override { edited.push_back(path); }
};

// The volume list as a table the test edits; Changed() tells the window, as
// the system's watcher does after a mount or an unmount.
struct FakeVolumes final : tslcat::IVolumeList {
    std::vector<tslcat::TVolume> list;
    std::function<void()> changed;

    std::vector<tslcat::TVolume> Volumes() override { return list; }
    void Watch(std::function<void()> onChange) override { changed = std::move(onChange); }

    void Mount(const std::string &root, const std::string &label, bool optical = false)
    {
        tslcat::TVolume v;
        v.root = root;
        v.label = label;
        v.optical = optical;
        list.push_back(v);
    }
    void Unmount(const std::string &root)
    {
        for (auto it = list.begin(); it != list.end();)
            it = it->root == root ? list.erase(it) : it + 1;
    }
    void Changed()
    {
        if (changed)
            changed();
    }
};

struct FakeFiles final : tslcat::IFileProbe {
    std::set<std::string> existing;
    bool FileExists(const std::string &path) override { return existing.count(path) > 0; }
};

} // namespace tslcat_test
