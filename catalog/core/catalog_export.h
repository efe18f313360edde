// catalog_export.h - result rows and whole catalogs as TSV, CSV and JSON for
// other programs.
//
// TSV is the command line's own output: raw name bytes, one row per line,
// fields separated by tabs.  CSV follows RFC 4180 (a header row, CR LF line
// ends, fields holding a comma, a quote or a line break quoted with quotes
// doubled) and JSON is one array of objects written with Qt's JSON classes;
// both are UTF-8, with names that are not valid UTF-8 mapped through
// Windows-1252 (DecodeNameForExchange).  Fields: disc, name, path, kind
// ("file", "folder", "disc"), size (bytes) and modified (ISO 8601 UTC);
// unknown values are empty in CSV and null in JSON.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog_search.h"

namespace tslcat {

class TResultList;

enum class TExportFormat { Tsv, Csv, Json };

// "tsv", "csv" or "json"; false for anything else.
bool ParseExportFormat(std::string_view text, TExportFormat &format);

// "file", "folder" or "disc" (an Unknown kind counts as a file).
const char *KindName(TNodeKind kind);

// The rows in `format`.  TSV: disc rows hold the disc name alone, other
// rows disc, name and path; `longFields` adds size and time ("-" when
// unknown), for disc rows after two empty fields.  CSV and JSON always hold
// every field; a disc row's name is the disc's name and its path is empty.
std::string ExportRows(const std::vector<TResultRow> &rows, TExportFormat format, bool longFields = false);
// The same for the rows of a result list, built one at a time.
std::string ExportRows(const TResultList &rows, TExportFormat format, bool longFields = false);

// One row per node of the catalog, in flat (depth-first) order.
std::vector<TResultRow> AllRows(const TCatalogTree &tree);

} // namespace tslcat
