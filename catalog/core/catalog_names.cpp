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
