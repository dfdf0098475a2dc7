// source/K7R/ColumnLookup.h: which column of a row a Python attribute name reads. The walk asks the
// library for every column in turn; the lookup gives the same answer from what it learnt of the
// same collection before, without asking the library for any column again.
#pragma once

#include <string_view>

#include <velvix/Velvix.h>

namespace vexa2 { namespace python {

// The column a name reads: its index and type. No column answers when the index is -1.
struct ColumnMatch
{
    int index = -1;
    IK7RTableColumn::K7RTableColumnType type = IK7RTableColumn::Integer;

    explicit operator bool() const { return index >= 0; }
};

// The first column, in index order, whose identifier equals `name`, or equals what `name`
// translates to in the column-name table of `tableType` (the empty identifier when it translates
// to nothing). A null collection has no columns. A name holding a NUL byte never equals an
// identifier, which ends at its first one.
ColumnMatch walkColumns(IK7RTableColumnCollection* columns, int tableType, std::string_view name);

// The walk's answer, kept per collection: the first sight of a collection walks it once and holds
// a reference to it, so that its address cannot be reused for another collection while the answer
// is kept. A bounded number of collections and names is kept; the least recently used collection
// goes first. Once the lookups are released it walks every time. The interpreter lock guards it:
// call only with the lock held.
ColumnMatch lookupColumn(IK7RTableColumnCollection* columns, int tableType, std::string_view name);

// The column at `index` of `columns`, which has just given `size`, with 0 <= index < size: from
// what the lookup learnt of the collection, as its get and the column's getType would answer; no
// match when the collection has no column there. The same lock and release as lookupColumn.
ColumnMatch lookupColumnAt(IK7RTableColumnCollection* columns, int size, int index);

// Gives every kept collection back to the library, and keeps none from then on: the library is
// finalized or the interpreter exits. The interpreter lock must be held.
void releaseColumnLookups();

} }  // namespace vexa2::python
