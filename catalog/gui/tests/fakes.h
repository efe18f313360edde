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

struct FakeVolumes final : tslcat::IVolumeQuery {
    std::map<std::string, std::string> mounted; // root -> label
    bool QueryVolume(const std::string &root, std::string &label) override
    {
        const auto it = mounted.find(root);
        if (it == mounted.end())
            return false;
        label = it->second;
        return true;
    }
};

struct FakeFiles final : tslcat::IFileProbe {
    std::set<std::string> existing;
    bool FileExists(const std::string &path) override { return existing.count(path) > 0; }
};

} // namespace tslcat_test
