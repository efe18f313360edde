#include "desktopservices.h"

#include "catalog_names.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>

namespace tslcat {

namespace {

// The program words its messages with carriage returns and aligns columns
// with tabs; Qt's labels break lines at line feeds and give tabs no fixed
// stops, so tabbed texts are shown in a fixed-pitch font with the tabs
// expanded to 8-column stops.
QString TextForDisplay(const QString &text, bool *tabbed)
{
    QString lines = text;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    *tabbed = lines.contains(QLatin1Char('\t'));
    if (!*tabbed)
        return lines;
    QString out;
    int column = 0;
    for (const QChar c : lines) {
        if (c == QLatin1Char('\t')) {
            const int spaces = 8 - column % 8;
            out.append(QString(spaces, QLatin1Char(' ')));
            column += spaces;
        } else {
            out.append(c);
            column = c == QLatin1Char('\n') ? 0 : column + 1;
        }
    }
    return out;
}

void ShowBox(QWidget *owner, QMessageBox::Icon icon, const QString &caption, const QString &text)
{
    bool tabbed = false;
    QMessageBox box(icon, caption, TextForDisplay(text, &tabbed), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    if (tabbed) {
        if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
            label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    }
    box.exec();
}

} // namespace

void TMessages::ShowMessage(const std::string &text)
{
    ShowText(DecodeName(text));
}

bool TMessages::Ask(const std::string &text)
{
    return Confirm(DecodeName(text));
}

void TBoxMessages::ShowText(const QString &text)
{
    ShowBox(m_owner, QMessageBox::NoIcon, QStringLiteral("Tessaly-Catalog"), text);
}

void TBoxMessages::Warning(const QString &caption, const QString &text)
{
    ShowBox(m_owner, QMessageBox::Warning, caption, text);
}

void TBoxMessages::Error(const QString &text)
{
    ShowBox(m_owner, QMessageBox::Critical, QStringLiteral("Tessaly-Catalog"), text);
}

bool TBoxMessages::Confirm(const QString &text)
{
    return QMessageBox::question(m_owner, QStringLiteral("Tessaly-Catalog"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void TBoxMessages::Beep()
{
    QApplication::beep();
}

void TDesktopLauncher::OpenWithDefault(const std::string &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
}

void TDesktopLauncher::OpenInEditor(const std::string &path)
{
    OpenInTextEditor(QFile::decodeName(QByteArray::fromStdString(path)));
}

} // namespace tslcat
