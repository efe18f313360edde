// The catalog file readers with hostile bytes.  Whatever the input, a load
// either succeeds or throws one of the catalog's exceptions, leaves the
// update counter at zero and a tree whose flat index matches its children;
// a catalog that loaded saves to bytes that load and save to the same bytes.
#include <QBuffer>
#include <QByteArray>

#include <cstdlib>

#include "catalog_errors.h"
#include "catalog_search.h"
#include "catalog_tree.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

QByteArray Save(const tslcat::TCatalogTree &tree)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    tree.SaveToStream(buffer, true);
    return out;
}

bool Load(tslcat::TCatalogTree &tree, QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    bool ok = true;
    try {
        tree.LoadFromStream(buffer);
    } catch (const tslcat::Exception &) {
        ok = false;
    }
    Check(tree.Items().UpdateCount() == 0);
    return ok;
}

void CheckStructure(const tslcat::TCatalogTree &tree)
{
    const tslcat::TCatalogNodes &nodes = tree.Items();
    for (int i = 0; i < nodes.Count(); ++i) {
        const tslcat::TCatalogNode *n = nodes.Item(i);
        Check(n->AbsoluteIndex() == i);
        const tslcat::TCatalogNode *p = n->Parent();
        Check(p ? p->Child(n->Index()) == n : nodes.TopLevel(n->Index()) == n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tslcat::TCatalogTree tree;
    const bool loaded = Load(tree, QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    CheckStructure(tree);
    tslcat::TSearchOutcome out = tslcat::RunSearch(tree, {".", false, tslcat::TSearchKind::FilesAndFolders, ""});
    Check(out.hitCount <= tree.Items().Count());
    if (loaded) {
        const QByteArray first = Save(tree);
        tslcat::TCatalogTree again;
        Check(Load(again, first));
        Check(Save(again) == first);
    }
    return 0;
}
