// node_values.cpp - parsing and formatting node sizes and dates.

#include "node_values.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <vector>

namespace tslcat {

bool ParseSizeText(std::string_view text, uint64_t &bytes)
{
    if (text.empty())
        return false;
    uint64_t unit = 1;
    switch (text.back()) {
    case 'K':
    case 'k':
        unit = uint64_t{1} << 10;
        break;
    case 'M':
    case 'm':
        unit = uint64_t{1} << 20;
        break;
    case 'G':
    case 'g':
        unit = uint64_t{1} << 30;
        break;
    default:
        break;
    }
    if (unit != 1)
        text.remove_suffix(1);
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (value > UINT64_MAX / unit)
        return false;
    bytes = value * unit;
    return true;
}

bool ParseDateText(const QString &text, int64_t &secondsSince1970)
{
    // Qt reads ISO dates without an offset as local time: the offset part is
    // taken apart here so that "no offset" can mean UTC.
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(?:[T ](\\d{2}:\\d{2}(?::\\d{2})?))?(Z|[+-]\\d{2}(?::?\\d{2})?)?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const QDate date = QDate::fromString(m.captured(1), Qt::ISODate);
    QTime time(0, 0);
    if (m.capturedLength(2) > 0)
        time = QTime::fromString(m.captured(2),
                                 m.capturedLength(2) > 5 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
    if (!date.isValid() || !time.isValid())
        return false;
    int offsetSeconds = 0;
    const QString zone = m.captured(3);
    if (!zone.isEmpty() && zone != QLatin1String("Z")) {
        QString digits = zone.mid(1);
        digits.remove(QLatin1Char(':'));
        const int hours = digits.left(2).toInt();
        const int minutes = digits.size() > 2 ? digits.mid(2, 2).toInt() : 0;
        if (hours > 23 || minutes > 59)
            return false;
        offsetSeconds = (hours * 3600 + minutes * 60) * (zone[0] == QLatin1Char('-') ? -1 : 1);
    }
    const QDateTime utc(date, time, Qt::UTC);
    secondsSince1970 = utc.toSecsSinceEpoch() - offsetSeconds;
    return true;
}

std::string FormatTimeIso(int64_t secondsSince1970)
{
    if (secondsSince1970 == kUnknownTime)
        return "-";
    return QDateTime::fromSecsSinceEpoch(secondsSince1970, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"))
        .toStdString();
}

std::string FormatSizeBytes(uint64_t size)
{
    return size == kUnknownSize ? std::string("-") : std::to_string(size);
}

int64_t CountFilesBelow(const TCatalogNode &node)
{
    int64_t files = 0;
    std::vector<const TCatalogNode *> stack{&node};
    while (!stack.empty()) {
        const TCatalogNode *n = stack.back();
        stack.pop_back();
        for (int i = 0; i < n->Count(); ++i) {
            const TCatalogNode *child = n->Child(i);
            if (child->HasChildren())
                stack.push_back(child);
            else if (child->EffectiveKind() == TNodeKind::File)
                ++files;
        }
    }
    return files;
}

bool TValueFilter::Passes(uint64_t size, int64_t modifiedTime) const
{
    if ((largerThan || smallerThan) && size == kUnknownSize)
        return false;
    if ((newerThan || olderThan) && modifiedTime == kUnknownTime)
        return false;
    return (!largerThan || size > *largerThan) && (!smallerThan || size < *smallerThan) &&
        (!newerThan || modifiedTime > *newerThan) && (!olderThan || modifiedTime < *olderThan);
}

bool TValueFilter::Passes(const TCatalogNode &node) const
{
    const bool needSize = largerThan || smallerThan, needTime = newerThan || olderThan;
    return Passes(needSize ? node.Size() : 0, needTime ? node.ModifiedTime() : 0);
}

} // namespace tslcat
