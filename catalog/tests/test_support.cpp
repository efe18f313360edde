#include "test_support.h"

#include <QBuffer>
#include <QFile>

#include <cctype>
#include <cstdio>

namespace tslcat_test {

using namespace tslcat;

std::string Hex(const std::string &text)
{
    std::string out;
    int high = -1;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            continue;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(c) - 'A' + 10);
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

std::string ToHex(const std::string &bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

void BuildBackupExample(TCatalogTree &tree)
{
    TCatalogNodes &n = tree.Items();
    TCatalogNode *disc = n.AddChild(nullptr, "Backup");
    disc->SetIcons(3, 4);
    TCatalogNode *docs = n.AddChild(disc, "Docs");
    docs->SetIcons(3, 4);
    n.AddChild(docs, "a.txt")->SetIcons(10, 10);
    n.AddChild(docs, "b.doc")->SetIcons(10, 10);
}

std::string SaveToBytes(const TCatalogTree &tree, bool binary)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    tree.SaveToStream(buffer, binary);
    return data.toStdString();
}

void LoadFromBytes(TCatalogTree &tree, const std::string &bytes)
{
    QByteArray data = QByteArray::fromStdString(bytes);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    tree.LoadFromStream(buffer);
}

std::string Outline(const TCatalogTree &tree)
{
    std::string out;
    for (int i = 0; i < tree.Items().Count(); ++i) {
        const TCatalogNode *node = tree.Items().Item(i);
        out.append(static_cast<size_t>(node->Level()) * 2, ' ');
        out.append(node->Text());
        out.push_back('\n');
    }
    return out;
}

bool WriteFile(const QString &path, const std::string &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

std::string ReadFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll().toStdString();
}

static std::string nameOf(TCatalogNode *node)
{
    return node ? std::string(node->Text()) : std::string("<top>");
}

void RecordingObserver::NodeAboutToBeInserted(TCatalogNode *parent, int row)
{
    events.push_back("about-insert " + nameOf(parent) + " " + std::to_string(row));
}
void RecordingObserver::NodeInserted(TCatalogNode *node)
{
    events.push_back("inserted " + nameOf(node));
}
void RecordingObserver::NodeAboutToBeRemoved(TCatalogNode *parent, int row)
{
    events.push_back("about-remove " + nameOf(parent) + " " + std::to_string(row));
}
void RecordingObserver::NodeRemoved(TCatalogNode *parent, int row)
{
    events.push_back("removed " + nameOf(parent) + " " + std::to_string(row));
}
void RecordingObserver::NodeChanged(TCatalogNode *node)
{
    events.push_back("changed " + nameOf(node));
}
void RecordingObserver::NodeExpandedChanged(TCatalogNode *node, bool expanded)
{
    events.push_back(std::string(expanded ? "expanded " : "collapsed ") + nameOf(node));
}

} // namespace tslcat_test
