// catalog_names.cpp - decoding raw catalog names for display and the
// locale's case-insensitive name order.

#include "catalog_names.h"

#include <QCollator>
#include <QLocale>
#include <QStringDecoder>

namespace tslcat {

namespace {

// Windows-1252 at 0x80..0x9F; the rest of the upper half is Latin-1.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// Every lead byte followed by as many continuation bytes as it announces.
bool isWellFormedUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t more;
        if (c < 0x80)
            more = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3;
        else
            return false;
        if (s.size() - i - 1 < more)
            return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += more + 1;
    }
    return true;
}

QString decode(std::string_view bytes, bool undefinedAsReplacement)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError())
        return decoded;
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (unsigned char c : bytes) {
        if (c < 0x80 || c >= 0xA0) {
            out.append(QChar(c));
            continue;
        }
        const char16_t mapped = kCp1252High[c - 0x80];
        // The undefined bytes are the ones the table maps to themselves.
        out.append(undefinedAsReplacement && mapped == c ? QChar(QChar::ReplacementCharacter) : QChar(mapped));
    }
    return out;
}

} // namespace

QString DecodeName(std::string_view bytes)
{
    return decode(bytes, false);
}

QString DecodeNameForExchange(std::string_view bytes)
{
    return decode(bytes, true);
}

std::string EncodeName(const QString &text)
{
    return text.toUtf8().toStdString();
}

std::string EncodeNameWindows1252(const QString &text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    bool high = false;
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            high = high || c >= 0x80;
            out.push_back(static_cast<char>(c));
            continue;
        }
        // The 0x80..0x9F block: typographic characters, and five bytes that
        // stand for themselves.
        int byte = -1;
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == c)
                byte = 0x80 + i;
        if (byte < 0)
            return {};
        high = true;
        out.push_back(static_cast<char>(byte));
    }
    return high ? out : std::string();
}

size_t CutAtCharacterBoundary(std::string_view bytes, size_t maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes.size();
    if (!isWellFormedUtf8(bytes))
        return maxBytes;
    // Back off over continuation bytes (10xxxxxx) to the start of the
    // character that does not fit.
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

QString LimitToUtf8Bytes(const QString &text, size_t maxBytes)
{
    size_t used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text.at(i).unicode();
        qsizetype units = 1;
        size_t bytes;
        if (c < 0x80) {
            bytes = 1;
        } else if (c < 0x800) {
            bytes = 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            bytes = 4;
            units = 2;
        } else {
            bytes = 3; // lone surrogates become a 3-byte replacement
        }
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        i += units;
    }
    return text.left(i);
}

int CompareNamesCaseInsensitive(std::string_view a, std::string_view b)
{
    if (a == b)
        return 0;
    return CompareDecodedNamesCaseInsensitive(DecodeName(a), DecodeName(b));
}

int CompareDecodedNamesCaseInsensitive(const QString &qa, const QString &qb)
{
    const int folded = qa.compare(qb, Qt::CaseInsensitive);
    if (folded == 0)
        return 0;
    static thread_local QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const int r = collator.compare(qa, qb);
    // The collator may call different names equal (ignored punctuation):
    // fall back to the case-folded order so the order stays total.
    return r != 0 ? (r < 0 ? -1 : 1) : (folded < 0 ? -1 : 1);
}

} // namespace tslcat
