// Helpers shared by the catalog tests: byte strings, a small example
// catalog, an observer that records what the display would be told, and
// temporary folders.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "catalog_tree.h"

namespace tslcat_test {

// "0D 54 4E" -> bytes; spaces and '|' are ignored.
std::string Hex(const std::string &text);
// Bytes -> "0D 54 4E" for readable failure output.
std::string ToHex(const std::string &bytes);

// The small reference catalog: disc Backup (icons 3/4) with
// folder Docs (3/4) holding a.txt and b.doc (10/10).
void BuildBackupExample(tslcat::TCatalogTree &tree);

// Serialises the tree as SaveToStream does, into memory.
std::string SaveToBytes(const tslcat::TCatalogTree &tree, bool binary = true);
// Loads bytes with LoadFromStream; rethrows what it throws.
void LoadFromBytes(tslcat::TCatalogTree &tree, const std::string &bytes);

// The tree as indented lines ("name" with two spaces per level), one per
// node in flat order: a compact picture to compare in assertions.
std::string Outline(const tslcat::TCatalogTree &tree);

// Writes `bytes` to `path`; returns false on failure.
bool WriteFile(const QString &path, const std::string &bytes);
std::string ReadFile(const QString &path);

// Records the notifications the display would get.
class RecordingObserver : public tslcat::ICatalogTreeObserver {
public:
    std::vector<std::string> events;
    void NodeAboutToBeInserted(tslcat::TCatalogNode *parent, int row) override;
    void NodeInserted(tslcat::TCatalogNode *node) override;
    void NodeAboutToBeRemoved(tslcat::TCatalogNode *parent, int row) override;
    void NodeRemoved(tslcat::TCatalogNode *parent, int row) override;
    void AboutToBeCleared() override { events.push_back("about-clear"); }
    void Cleared() override { events.push_back("cleared"); }
    void NodeChanged(tslcat::TCatalogNode *node) override;
    void NodeExpandedChanged(tslcat::TCatalogNode *node, bool expanded) override;
    void UpdateBegun() override { events.push_back("update-begun"); }
    void UpdateEnded() override { events.push_back("update-ended"); }
};

} // namespace tslcat_test
