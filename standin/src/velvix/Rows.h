// The rows of the simulated tables: the generic row, and the plain row and table row of each of
// the seven tables. A row's cells are read live and lock-free: scalars sit in atomic words whose
// address is the cell pointer, texts are kept for the row's whole life, so a pointer from
// getCell stays valid however often the dispatcher updates the row.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "Columns.h"

namespace sim::velvix
{

enum class RowKind
{
    Generic,  // IK7RRow only
    Plain,    // IK7R…Row
    Table     // IK7R…TableRow
};

class RowHold;

// What every row class shares: its cells, columns, flags and key. Built inside its row object.
class RowState
{
public:
    static constexpr int ValidityFlags = 33;  // 27 of the plain offer row, then 6 of the table row

    // Cells at their defaults, or, with `from` (a row of the same kind, type and columns), a copy
    // of its cells, flags and key.
    RowState(K7RTable type, RowKind kind, ColumnCollection* columns, bool hideColumns, IK7RRow* self,
             Registered* registered, const RowState* from = nullptr);
    ~RowState();
    RowState(const RowState&) = delete;
    RowState& operator=(const RowState&) = delete;

    // --- the library's reading (any thread, no lock) ---
    const void* cell(int index) const;
    bool changed(int index) const;
    IK7RTableColumnCollection* columns() const;  // add-referenced, or null when hidden
    K7RTable tableType() const { return type_; }
    bool valid(int flag) const { return validity_[static_cast<std::size_t>(flag)].load(std::memory_order_relaxed); }

    const char* textOf(const char* id) const;
    double doubleOf(const char* id) const;
    int intOf(const char* id) const;

    // --- the server's writing (serialized per row) ---
    // Sets the cells named in `values` (the first column of each identifier; unknown ones are
    // skipped); the cells whose value changed become "changed", every other cell not. False
    // when nothing changed.
    bool apply(const CellValues& values);
    void set(int index, const Value& value);
    void setChanged(int index, bool flag);
    void setValid(int flag, bool value) { validity_[static_cast<std::size_t>(flag)].store(value); }

    // The cell's current value for the control face, decoded by its column's type.
    Value read(int index) const;

    const ColumnCollection& columnSet() const { return *columns_; }
    int count() const { return count_; }
    const std::string& key() const { return key_; }
    const char* keyText() const { return key_.c_str(); }
    void setKey(std::string key) { key_ = std::move(key); }

    // A new row of this row's class, columns and key, holding its cells, changed flags and
    // validity flags as they are now; it belongs to no table, so nothing changes it afterwards.
    RowHold freeze() const;

    IK7RRow* row() const { return self_; }
    void retain() const { registered_->simAddRef(); }
    void releaseQuiet() const { registered_->simReleaseQuiet(); }

private:
    struct Cell
    {
        std::atomic<std::uint64_t> word{0};  // int32, double bits, text pointer or one byte
        std::atomic<bool> changed{false};
        int type = IK7RTableColumn::String;
    };
    bool store(Cell& cell, const Value& value);  // under writeMutex_; true when it changed
    void copyOf(const RowState& from);           // while constructing

    K7RTable type_;
    RowKind kind_;  // the kind the row was made as (a row of an unknown table is generic)
    ColumnCollection* columns_;  // one stand-in reference
    bool hideColumns_;
    int count_;
    std::unique_ptr<Cell[]> cells_;
    std::array<std::atomic<bool>, ValidityFlags> validity_;
    std::string key_;
    IK7RRow* self_;
    Registered* registered_;
    mutable std::mutex writeMutex_;
    std::set<std::string> texts_;  // every text a cell held: pointers handed out stay valid
    std::unique_ptr<char[]> ownTexts_;  // a frozen copy's texts, in one block: they never change
};

// A stand-in reference to a row, reached through its state.
class RowHold
{
public:
    RowHold() = default;
    static RowHold adopt(RowState* s)
    {
        RowHold h;
        h.s_ = s;
        return h;
    }
    static RowHold retain(RowState* s)
    {
        if (s)
            s->retain();
        return adopt(s);
    }
    RowHold(const RowHold& o) : s_(o.s_) { if (s_) s_->retain(); }
    RowHold(RowHold&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    RowHold& operator=(RowHold o) noexcept
    {
        std::swap(s_, o.s_);
        return *this;
    }
    ~RowHold() { reset(); }
    void reset()
    {
        if (RowState* s = std::exchange(s_, nullptr))
            s->releaseQuiet();
    }
    RowState* get() const { return s_; }
    RowState* operator->() const { return s_; }
    RowState& operator*() const { return *s_; }
    explicit operator bool() const { return s_ != nullptr; }
    // A new reference for a caller (an add-referenced getter result).
    IK7RRow* share() const
    {
        if (!s_)
            return nullptr;
        s_->row()->addRef();
        return s_->row();
    }

private:
    RowState* s_ = nullptr;
};

// A new row of a kind. `columns` null takes the table's own set for that kind (a generic row
// takes the table-row set of its type, none outside 0..6); a plain or table row of a type
// outside 0..6 is generic. Cells start at their defaults: 0, 0.0, "", the clock's time, false.
RowHold makeRow(K7RTable type, RowKind kind, ColumnCollection* columns = nullptr, bool hideColumns = false);

// The validity flag a getter or property name stands for ("getIsBidValid" or "is_bid_valid"),
// -1 for none.
int validityFlag(const std::string& name);

}  // namespace sim::velvix
