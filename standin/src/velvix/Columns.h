// The columns of the simulated trading tables: one immutable, shared column collection per
// table and row kind (plain row, table row), plus collections built on demand for rows that a
// test gives a column set of its own. Cell values travel as sim::Value by column identifier.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "velvix/Velvix.h"

#include "core/Registry.h"
#include "core/Value.h"

namespace sim::velvix
{

// Values for some cells of a row, by column identifier, in the order given.
using CellValues = std::vector<std::pair<std::string, Value>>;

struct ColumnSpec
{
    std::string id;
    int type = IK7RTableColumn::String;  // any integer: types outside 0..4 are never read
    bool key = false;
};

class Column final : public RefCounted<IK7RTableColumn>
{
public:
    explicit Column(ColumnSpec spec);

    const char* getId() override { return spec_.id.c_str(); }
    K7RTableColumnType getType() override { return static_cast<K7RTableColumnType>(spec_.type); }
    bool getIsKey() override { return spec_.key; }

    const ColumnSpec& spec() const { return spec_; }

private:
    ~Column() override = default;
    ColumnSpec spec_;
};

// Immutable once built, so every read is lock-free; rows share it by reference.
class ColumnCollection final : public RefCounted<IK7RTableColumnCollection>
{
public:
    explicit ColumnCollection(const std::vector<ColumnSpec>& specs);

    int size() override { return static_cast<int>(columns_.size()); }
    IK7RTableColumn* get(int index) override;
    IK7RTableColumn* find(const char* id) override;
    IK7RTableColumn* getKeyColumn() override;

    int count() const { return static_cast<int>(columns_.size()); }
    // The first column with that identifier, -1 for none.
    int indexOf(const std::string& id) const;
    int typeAt(int index) const { return columns_[static_cast<std::size_t>(index)]->spec().type; }
    const std::string& idAt(int index) const { return columns_[static_cast<std::size_t>(index)]->spec().id; }
    int keyIndex() const { return key_; }

private:
    ~ColumnCollection() override;
    std::vector<Column*> columns_;  // one stand-in reference each
    std::unordered_map<std::string, int> firstIndex_;
    int key_ = -1;
};

// The shared column set of a table's plain rows or table rows (borrowed, lives for the process);
// null for a type outside 0..6.
ColumnCollection* columnSet(K7RTable table, bool tableRow);
// The identifier of a table's key column ("" outside 0..6).
const char* keyColumnId(K7RTable table);

}  // namespace sim::velvix
