// The catalog file readers with hostile bytes, in both forms (binary when
// the input starts with the signature, text otherwise).  Whatever the input,
// a load either succeeds or throws one of the catalog's exceptions, leaves
// the update counter at zero and a tree whose flat index matches its
// children, and a search over it stays within the tree.  Whatever was read,
// also before a read error, is then saved and read back: the binary form
// must give the very same bytes again, and the text form, for trees whose
// names it can carry, the same names at the same levels.  Sizes and times
// read from the bytes behind their marker are plausible or unknown, folder
// totals match a plain sum over the files, and all of it survives the round
// trip.
#include <QBuffer>
#include <QByteArray>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "catalog_errors.h"
#include "catalog_search.h"
#include "catalog_tree.h"
#include "fuzz_input.h"

namespace {

const char kSignature[] = {0x0D, 0x54, 0x4E, 0x54, 0x0D};

QByteArray Save(const tslcat::TCatalogTree &tree, bool binary)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    tree.SaveToStream(buffer, binary);
    return bytes;
}

// Reads `bytes`; false when the reader raised an error (the nodes read
// before it stay in the tree).
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
    FUZZ_CHECK(tree.Items().UpdateCount() == 0);
    return ok;
}

void CheckStructure(const tslcat::TCatalogTree &tree)
{
    const tslcat::TCatalogNodes &nodes = tree.Items();
    for (int i = 0; i < nodes.Count(); ++i) {
        const tslcat::TCatalogNode *n = nodes.Item(i);
        FUZZ_CHECK(n->AbsoluteIndex() == i);
        const tslcat::TCatalogNode *p = n->Parent();
        FUZZ_CHECK(p ? p->Child(n->Index()) == n : nodes.TopLevel(n->Index()) == n);
    }
}

// Every value is unknown or plausible; every folder's total is the sum of the
// known sizes right below it (capped) and the newest known time.
void CheckValues(const tslcat::TCatalogTree &tree)
{
    const tslcat::TCatalogNodes &nodes = tree.Items();
    for (int i = 0; i < nodes.Count(); ++i) {
        const tslcat::TCatalogNode *n = nodes.Item(i);
        const uint64_t size = n->Size();
        const int64_t time = n->ModifiedTime();
        FUZZ_CHECK(size == tslcat::kUnknownSize || size <= tslcat::kMaxPlausibleSize);
        FUZZ_CHECK(time == tslcat::kUnknownTime || time >= 0);
        if (!n->HasChildren())
            continue;
        uint64_t sum = 0;
        bool known = false;
        int64_t newest = tslcat::kUnknownTime;
        for (int c = 0; c < n->Count(); ++c) {
            const tslcat::TCatalogNode *child = n->Child(c);
            if (child->Size() != tslcat::kUnknownSize) {
                sum = std::min(sum + child->Size(), tslcat::kMaxPlausibleSize);
                known = true;
            }
            newest = std::max(newest, child->ModifiedTime());
        }
        FUZZ_CHECK(time == newest);
        FUZZ_CHECK(known ? size == sum : (size == tslcat::kUnknownSize || size == 0));
    }
}

bool SameValues(const tslcat::TCatalogTree &a, const tslcat::TCatalogTree &b)
{
    for (int i = 0; i < a.Items().Count(); ++i) {
        const tslcat::TCatalogNode *x = a.Items().Item(i), *y = b.Items().Item(i);
        if (x->EffectiveKind() != y->EffectiveKind() || x->Size() != y->Size() ||
            x->ModifiedTime() != y->ModifiedTime())
            return false;
    }
    return true;
}

using Outline = std::vector<std::pair<int, std::string>>;

Outline OutlineOf(const tslcat::TCatalogTree &tree)
{
    Outline out;
    const tslcat::TCatalogNodes &nodes = tree.Items();
    for (int i = 0; i < nodes.Count(); ++i) {
        const tslcat::TCatalogNode *n = nodes.Item(i);
        out.emplace_back(n->Level(), std::string(n->Text()));
    }
    return out;
}

// Names the text form stores as they are: not empty, no line-end or zero
// byte, no leading tab or space (that would read as indentation).
bool TextCanCarry(const Outline &outline)
{
    for (const auto &entry : outline) {
        const std::string &name = entry.second;
        if (name.empty() || name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos || name[0] == '\t' ||
            name[0] == ' ')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tslcat::TCatalogTree tree;
    Load(tree, QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    CheckStructure(tree);
    CheckValues(tree);
    tslcat::TSearchRequest everything;
    everything.expression = ".";
    const tslcat::TSearchOutcome found = tslcat::RunSearch(tree, everything);
    FUZZ_CHECK(found.hitCount <= tree.Items().Count());

    const QByteArray binary = Save(tree, true);
    tslcat::TCatalogTree again;
    FUZZ_CHECK(Load(again, binary));
    FUZZ_CHECK(Save(again, true) == binary);
    FUZZ_CHECK(again.Items().Count() == tree.Items().Count());
    FUZZ_CHECK(SameValues(tree, again));

    const Outline outline = OutlineOf(tree);
    if (TextCanCarry(outline)) {
        const QByteArray text = Save(tree, false);
        // A first name that starts like the signature would read as binary.
        if (!text.startsWith(QByteArray(kSignature, sizeof kSignature))) {
            tslcat::TCatalogTree fromText;
            FUZZ_CHECK(Load(fromText, text));
            FUZZ_CHECK(OutlineOf(fromText) == outline);
        }
    }
    return 0;
}
