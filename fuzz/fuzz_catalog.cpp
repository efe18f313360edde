// The catalog reader over hostile files in both forms (binary when the
// input starts with the signature, text otherwise; the first control byte
// picks which, so both are reached from any input).  Whatever was read,
// also after a read error, is then saved and read back: the binary form
// must give the very same bytes again, and the text form, for trees whose
// names it can carry, the same names at the same levels.
#include <QBuffer>
#include <QByteArray>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "catalog_errors.h"
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
    try {
        tree.LoadFromStream(buffer);
        return true;
    } catch (const tslcat::Exception &) {
        return false;
    }
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
    for (const auto &[level, name] : outline) {
        (void)level;
        if (name.empty() || name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos ||
            name[0] == '\t' || name[0] == ' ')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quarn_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.Byte();
    QByteArray file(reinterpret_cast<const char *>(data) + 1, static_cast<int>(size > 0 ? size - 1 : 0));
    if ((control & 1) && !file.startsWith(QByteArray(kSignature, sizeof kSignature)))
        file.prepend(kSignature, sizeof kSignature);

    tslcat::TCatalogTree tree;
    Load(tree, file);
    FUZZ_CHECK(tree.Items().UpdateCount() == 0);

    const QByteArray binary = Save(tree, true);
    tslcat::TCatalogTree again;
    FUZZ_CHECK(Load(again, binary));
    FUZZ_CHECK(Save(again, true) == binary);
    FUZZ_CHECK(again.Items().Count() == tree.Items().Count());

    const Outline outline = OutlineOf(tree);
    if (TextCanCarry(outline)) {
        tslcat::TCatalogTree fromText;
        const QByteArray text = Save(tree, false);
        if (!text.startsWith(QByteArray(kSignature, sizeof kSignature))) {
            FUZZ_CHECK(Load(fromText, text));
            FUZZ_CHECK(OutlineOf(fromText) == outline);
        }
    }
    return 0;
}
