// catalog_export.cpp - TSV, CSV and JSON forms of result rows.

#include "catalog_export.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "catalog_names.h"
#include "catalog_tree.h"
#include "result_list.h"

namespace tslcat {

namespace {

std::string exchangeText(std::string_view bytes)
{
    return DecodeNameForExchange(bytes).toStdString();
}

void appendCsvField(std::string &out, const std::string &field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// Rows one at a time, from built rows or from a result list (built on the
// way, so an export of a million hits never holds them all).
template <typename F> void forEachRow(const std::vector<TResultRow> &rows, F f)
{
    for (const TResultRow &row : rows)
        f(row);
}

template <typename F> void forEachRow(const TResultList &rows, F f)
{
    for (size_t i = 0; i < rows.Size(); ++i)
        f(rows.BuildRow(i));
}

// A disc row names the disc itself.
std::string_view rowName(const TResultRow &row)
{
    return row.IsDiscRow() ? std::string_view(row.discName) : std::string_view(row.nodeName);
}

template <typename Rows> std::string exportTsv(const Rows &rows, bool longFields)
{
    std::string out;
    forEachRow(rows, [&](const TResultRow &row) {
        out += row.discName;
        if (!row.IsDiscRow()) {
            out += '\t';
            out += row.nodeName;
            out += '\t';
            out += row.fullPath;
        } else if (longFields) {
            out += "\t\t";
        }
        if (longFields) {
            out += '\t';
            out += FormatSizeBytes(row.size);
            out += '\t';
            out += FormatTimeIso(row.modifiedTime);
        }
        out += '\n';
    });
    return out;
}

template <typename Rows> std::string exportCsv(const Rows &rows)
{
    std::string out = "disc,name,path,kind,size,modified\r\n";
    forEachRow(rows, [&](const TResultRow &row) {
        appendCsvField(out, exchangeText(row.discName));
        out += ',';
        appendCsvField(out, exchangeText(rowName(row)));
        out += ',';
        appendCsvField(out, exchangeText(row.fullPath));
        out += ',';
        out += KindName(row.kind);
        out += ',';
        if (row.size != kUnknownSize)
            out += std::to_string(row.size);
        out += ',';
        if (row.modifiedTime != kUnknownTime)
            out += FormatTimeIso(row.modifiedTime);
        out += "\r\n";
    });
    return out;
}

template <typename Rows> std::string exportJson(const Rows &rows)
{
    QJsonArray array;
    forEachRow(rows, [&](const TResultRow &row) {
        QJsonObject o;
        o.insert(QStringLiteral("disc"), DecodeNameForExchange(row.discName));
        o.insert(QStringLiteral("name"), DecodeNameForExchange(rowName(row)));
        o.insert(QStringLiteral("path"), DecodeNameForExchange(row.fullPath));
        o.insert(QStringLiteral("kind"), QString::fromLatin1(KindName(row.kind)));
        o.insert(QStringLiteral("size"),
                 row.size == kUnknownSize ? QJsonValue(QJsonValue::Null) : QJsonValue(static_cast<qint64>(row.size)));
        o.insert(QStringLiteral("modified"),
                 row.modifiedTime == kUnknownTime
                     ? QJsonValue(QJsonValue::Null)
                     : QJsonValue(QString::fromStdString(FormatTimeIso(row.modifiedTime))));
        array.append(o);
    });
    return QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
}

} // namespace

bool ParseExportFormat(std::string_view text, TExportFormat &format)
{
    if (text == "tsv")
        format = TExportFormat::Tsv;
    else if (text == "csv")
        format = TExportFormat::Csv;
    else if (text == "json")
        format = TExportFormat::Json;
    else
        return false;
    return true;
}

const char *KindName(TNodeKind kind)
{
    switch (kind) {
    case TNodeKind::Disc:
        return "disc";
    case TNodeKind::Folder:
        return "folder";
    case TNodeKind::File:
    case TNodeKind::Unknown:
        break;
    }
    return "file";
}

namespace {

// Either kind of row list, in the chosen format.
template <class Rows> std::string exportAs(const Rows &rows, TExportFormat format, bool longFields)
{
    switch (format) {
    case TExportFormat::Csv:
        return exportCsv(rows);
    case TExportFormat::Json:
        return exportJson(rows);
    case TExportFormat::Tsv:
        break;
    }
    return exportTsv(rows, longFields);
}

} // namespace

std::string ExportRows(const std::vector<TResultRow> &rows, TExportFormat format, bool longFields)
{
    return exportAs(rows, format, longFields);
}

std::string ExportRows(const TResultList &rows, TExportFormat format, bool longFields)
{
    return exportAs(rows, format, longFields);
}

std::vector<TResultRow> AllRows(const TCatalogTree &tree)
{
    const TCatalogNodes &nodes = tree.Items();
    nodes.UpdateTotals();
    std::vector<TResultRow> rows;
    rows.reserve(static_cast<size_t>(nodes.Count()));
    for (int i = 0; i < nodes.Count(); ++i)
        rows.push_back(MakeResultRow(*nodes.Item(i)));
    return rows;
}

} // namespace tslcat
