// What the window asks of the desktop, behind interfaces so tests can
// record the requests instead of opening boxes and starting programs.
#pragma once

#include <QString>
#include <QStringList>

#include "result_actions.h"

class QWidget;

namespace tslcat {

// Modal messages and the beep.  Texts are passed exactly as the program
// words them (line breaks as carriage returns); showing them is the
// implementation's business.  Also the prompter of the result actions,
// whose texts are raw bytes (they may hold a disc name).
class TMessages : public IPrompter {
public:
    virtual void ShowText(const QString &text) = 0;                        // information box
    virtual void Warning(const QString &caption, const QString &text) = 0; // the library's reports
    virtual void Error(const QString &text) = 0;                           // failed load or save
    virtual void Beep() = 0;                                               // a search found something
    virtual bool Confirm(const QString &text) = 0;                         // Yes/No question, true for Yes

    void ShowMessage(const std::string &text) final;
    bool Ask(const std::string &text) final; // Confirm
};

// Real implementations.
class TBoxMessages final : public TMessages {
public:
    explicit TBoxMessages(QWidget *owner) : m_owner(owner) {}
    void ShowText(const QString &text) override;
    void Warning(const QString &caption, const QString &text) override;
    void Error(const QString &text) override;
    void Beep() override;
    bool Confirm(const QString &text) override;

private:
    QWidget *m_owner; // non-owning: the window owns us
};

// Starting things outside the program; results are not examined, a
// failure to start shows nothing.
class TDesktopLauncher final : public ILauncher {
public:
    void OpenWithDefault(const std::string &path) override; // QDesktopServices
    void OpenInEditor(const std::string &path) override;    // OpenInTextEditor
};

// Opens `path` in the desktop's text editor: the default application for
// text/plain, else a known editor found on PATH.  False when none started.
bool OpenInTextEditor(const QString &path);

// The fallback editor's command line: the first of a few well-known editors
// found on PATH, with `path` as its argument; empty when there is none.
QStringList KnownEditorCommand(const QString &path);

} // namespace tslcat
