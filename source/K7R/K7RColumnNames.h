// source/K7R/K7RColumnNames.h: the column-name tables: for each trading table, its column
// identifiers ("OfferID") and the Python attribute names its rows answer to ("offer_id").
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vexa2 { namespace python {

// Inner maps compare byte-wise like std::string, and also take a string_view so that the hot
// attribute path looks a name up without building a string.
using ColumnNameTable = std::map<std::string, std::string, std::less<>>;
using ColumnNameTables = std::map<int, ColumnNameTable>;

// Filled for table types 0 to 6 by initColumnNames at start-up, read-only afterwards.
extern ColumnNameTables pythonToColumnNames;  // attribute name -> column identifier
extern ColumnNameTables columnToPythonNames;  // column identifier -> attribute name

// The column identifier of an attribute name in a table, "" when there is none. Table -1 asks
// the tables in ascending type, the first that knows the name answering.
std::string toColumnName(int tableType, std::string name);
// The attribute name of a column identifier, by the same rules.
std::string toPythonName(int tableType, std::string id);

// toColumnName without the copies: the stored identifier, or null when there is none.
const std::string* findColumnName(int tableType, std::string_view name);

} }  // namespace vexa2::python
