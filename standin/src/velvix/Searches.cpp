// The four row searches of a simulated table, and their journal and forced misses for tests.
// A value pointer carries no type: it is read by the type of the column searched, never further
// than that type holds (4 bytes for INTEGER, 8 for DOUBLE and DATE, 1 for BOOLEAN, a C string for
// STRING). A search resumes after the iterator's last row, so a copied iterator searches on its
// own; it stores an add-referenced row and moves the iterator when it finds one.
#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>

#include "Tables.h"
#include "core/Fork.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{

constexpr std::size_t JournalCapacity = 10000;

struct SearchControl
{
    std::mutex mutex;
    std::deque<SearchRecord> records;
    std::uint64_t calls = 0;
    std::uint64_t missAt = 0;  // 0: none

    SearchControl()
    {
        world().onReset([this] {
            std::lock_guard<std::mutex> lock(mutex);
            records.clear();
            missAt = 0;
        });
        lockAcrossFork(mutex);
    }

    // Records the search; true when this call is the one to miss.
    bool enter(SearchRecord record)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (records.size() == JournalCapacity)
            records.pop_front();
        records.push_back(std::move(record));
        ++calls;
        if (missAt != 0 && calls == missAt)
        {
            missAt = 0;
            return true;
        }
        return false;
    }
};

SearchControl& control()
{
    static SearchControl* c = new SearchControl;
    return *c;
}

// Made as the library loads: a fork during a first use would leave its making unfinished in the
// child, which would wait on it for good.
const bool controlReady = (control(), true);

// A value as the column's type reads it, for the journal.
Value decode(int type, const void* value)
{
    if (!value)
        return {};
    switch (type)
    {
    case IK7RTableColumn::Integer:
    {
        std::int32_t v;
        std::memcpy(&v, value, sizeof v);
        return static_cast<std::int64_t>(v);
    }
    case IK7RTableColumn::Double:
    case IK7RTableColumn::Date:
    {
        double v;
        std::memcpy(&v, value, sizeof v);
        return v;
    }
    case IK7RTableColumn::Boolean: return *static_cast<const unsigned char*>(value) != 0;
    case IK7RTableColumn::String: return text(static_cast<const char*>(value));
    default: return {};
    }
}

template <class T>
std::optional<int> order(T a, T b)
{
    if (a < b)
        return -1;
    if (b < a)
        return 1;
    if (a == b)
        return 0;
    return std::nullopt;  // NaN
}

// The cell against the value, both read by the column's type; none when they do not compare
// (a STRING cell with no text, a NaN, a type outside 0..4).
std::optional<int> compare(int type, const void* cell, const void* value)
{
    if (!value)
        return std::nullopt;
    switch (type)
    {
    case IK7RTableColumn::Integer:
    {
        std::int32_t a, b;
        std::memcpy(&a, cell, sizeof a);
        std::memcpy(&b, value, sizeof b);
        return order(a, b);
    }
    case IK7RTableColumn::Double:
    case IK7RTableColumn::Date:
    {
        double a, b;
        std::memcpy(&a, cell, sizeof a);
        std::memcpy(&b, value, sizeof b);
        return order(a, b);
    }
    case IK7RTableColumn::Boolean:
        return order(*static_cast<const unsigned char*>(cell) != 0, *static_cast<const unsigned char*>(value) != 0);
    case IK7RTableColumn::String:
    {
        if (!cell)
            return std::nullopt;
        const int c = std::strcmp(static_cast<const char*>(cell), static_cast<const char*>(value));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    default: return std::nullopt;
    }
}

bool holds(K7RRelationalOperators op, std::optional<int> c)
{
    if (!c)
        return op == K7RRelationalOperators::NotEqualTo;
    switch (op)
    {
    case K7RRelationalOperators::EqualTo: return *c == 0;
    case K7RRelationalOperators::NotEqualTo: return *c != 0;
    case K7RRelationalOperators::GreaterThan: return *c > 0;
    case K7RRelationalOperators::LessThan: return *c < 0;
    case K7RRelationalOperators::GreaterThanOrEqualTo: return *c >= 0;
    case K7RRelationalOperators::LessThanOrEqualTo: return *c <= 0;
    default: return false;  // BETWEEN takes two values; unknown operators match nothing
    }
}

bool between(int type, const void* cell, const void* low, const void* high)
{
    const auto a = compare(type, cell, low), b = compare(type, cell, high);
    return a && b && *a >= 0 && *b <= 0;
}

// Where a column sits in one row: its index and type, or none.
struct Where
{
    int index = -1;
    int type = -1;
};

// Finds a column by id in each row, fast for the rows that share the table's column set.
class ColumnFinder
{
public:
    ColumnFinder(const ColumnCollection* tableSet, const char* id) : set_(tableSet), id_(id && *id ? id : "")
    {
        if (set_ && !id_.empty())
            cached_ = locate(*set_);
    }
    bool usable() const { return !id_.empty(); }
    Where in(const RowState& row) const
    {
        if (id_.empty())
            return {};
        return &row.columnSet() == set_ ? cached_ : locate(row.columnSet());
    }
    int tableType() const { return cached_.type; }  // for the journal's decoding

private:
    Where locate(const ColumnCollection& set) const
    {
        const int index = set.indexOf(id_);
        return index < 0 ? Where{} : Where{index, set.typeAt(index)};
    }
    const ColumnCollection* set_;
    std::string id_;
    Where cached_;
};

std::optional<std::string> idText(const char* id)
{
    return id ? std::optional<std::string>(id) : std::nullopt;
}

}  // namespace

std::vector<SearchRecord> searchJournal()
{
    std::lock_guard<std::mutex> lock(control().mutex);
    return {control().records.begin(), control().records.end()};
}

void missSearch(int after)
{
    std::lock_guard<std::mutex> lock(control().mutex);
    control().missAt = control().calls + static_cast<std::uint64_t>(std::max(after, 0)) + 1;
}

template <class Match>
bool Table::next(IK7RTableIterator& iterator, IK7RRow*& row, Match match)
{
    row = nullptr;
    const std::int64_t start =
        K7RTableIteratorAccess::stamp(iterator) == simId() ? K7RTableIteratorAccess::position(iterator) + 1 : 0;
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = static_cast<std::size_t>(std::max<std::int64_t>(start, 0)); i < rows_.size(); ++i)
    {
        if (match(*rows_[i]))
        {
            row = rows_[i].share();
            K7RTableIteratorAccess::set(iterator, static_cast<std::int64_t>(i), simId());
            return true;
        }
    }
    return false;
}

bool Table::getNextGenericRowByColumnValue(const char* columnID, const void* value, IK7RTableIterator& iterator,
                                           IK7RRow*& row)
{
    const ColumnFinder column(columns_, columnID);
    const bool miss = control().enter({"getNextGenericRowByColumnValue", {idText(columnID)},
                                       {decode(column.tableType(), value)}, {}, -1});
    if (miss || !column.usable())
    {
        row = nullptr;
        return false;
    }
    return next(iterator, row, [&](const RowState& r) {
        const Where w = column.in(r);
        return w.index >= 0 && holds(K7RRelationalOperators::EqualTo, compare(w.type, r.cell(w.index), value));
    });
}

bool Table::getNextGenericRowByColumnValues(const char* columnID, K7RRelationalOperators op, int count,
                                            const void** values, IK7RTableIterator& iterator, IK7RRow*& row)
{
    const ColumnFinder column(columns_, columnID);
    SearchRecord record{"getNextGenericRowByColumnValues", {idText(columnID)}, {}, {static_cast<int>(op)}, -1};
    for (int i = 0; values && i < count; ++i)
        record.values.push_back(decode(column.tableType(), values[i]));
    if (control().enter(std::move(record)) || !column.usable() || !values || count <= 0)
    {
        row = nullptr;
        return false;
    }
    return next(iterator, row, [&](const RowState& r) {
        const Where w = column.in(r);
        if (w.index < 0)
            return false;
        const void* cell = r.cell(w.index);
        if (op == K7RRelationalOperators::Between)
        {
            for (int i = 0; i + 1 < count; i += 2)
                if (between(w.type, cell, values[i], values[i + 1]))
                    return true;
            return false;
        }
        for (int i = 0; i < count; ++i)
            if (holds(op, compare(w.type, cell, values[i])))
                return true;
        return false;
    });
}

bool Table::getNextGenericRowByCondition(const char* columnID, K7RRelationalOperators op, const void** values,
                                         IK7RTableIterator& iterator, IK7RRow*& row)
{
    const ColumnFinder column(columns_, columnID);
    SearchRecord record{"getNextGenericRowByCondition", {idText(columnID)}, {}, {static_cast<int>(op)}, -1};
    if (values)
        record.values = {decode(column.tableType(), values[0]), decode(column.tableType(), values[1])};
    if (control().enter(std::move(record)) || !column.usable() || !values)
    {
        row = nullptr;
        return false;
    }
    return next(iterator, row, [&](const RowState& r) {
        const Where w = column.in(r);
        if (w.index < 0)
            return false;
        const void* cell = r.cell(w.index);
        if (op == K7RRelationalOperators::Between)
            return between(w.type, cell, values[0], values[1]);
        return holds(op, compare(w.type, cell, values[0]));
    });
}

bool Table::getNextGenericRowByMultiColumnValues(int count, const char** columnIDs,
                                                 const K7RRelationalOperators* operators, const void** values,
                                                 K7RLogicOperators logic, IK7RTableIterator& iterator, IK7RRow*& row)
{
    const int n = columnIDs && operators && values ? std::max(count, 0) : 0;
    std::vector<ColumnFinder> columns;
    SearchRecord record{"getNextGenericRowByMultiColumnValues", {}, {}, {}, static_cast<int>(logic)};
    columns.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
    {
        columns.emplace_back(columns_, columnIDs[i]);
        record.columns.push_back(idText(columnIDs[i]));
        record.values.push_back(decode(columns.back().tableType(), values[i]));
        record.operators.push_back(static_cast<int>(operators[i]));
    }
    if (control().enter(std::move(record)))
    {
        row = nullptr;
        return false;
    }
    const bool any = logic == K7RLogicOperators::OperatorOr;
    return next(iterator, row, [&](const RowState& r) {
        for (int i = 0; i < n; ++i)
        {
            const Where w = columns[static_cast<std::size_t>(i)].in(r);
            const bool term = w.index >= 0 && holds(operators[i], compare(w.type, r.cell(w.index), values[i]));
            if (term == any)
                return any;  // the first true term decides OR, the first false one AND
        }
        return !any;
    });
}

}  // namespace sim::velvix
