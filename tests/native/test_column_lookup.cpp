// tests/native/test_column_lookup.cpp: a row's attribute read through the per-collection lookup
// against the same read walking the columns: every name of every table, and odd ones, read from
// rows of every class of the seven tables, generic rows, rows of no known table, column sets with
// duplicate, empty and typeless identifiers, no collection and an empty one, must give the same
// values and the same errors, on the first read of a collection and on later ones. And the
// lookup's references: one per collection it knows, whatever the reads.
#include "GILGuard.h"
#include "K7R/ColumnLookup.h"
#include "K7R/K7RColumnNames.h"
#include "K7R/K7RRow.h"
#include "PythonOutcome.h"
#include "Registrations.h"

#include "core/Registry.h"
#include "velvix/Rows.h"

#include <boost/python.hpp>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace bp = boost::python;
using namespace sim::velvix;
using vexa2::python::GILGuard;

namespace {

constexpr int S = IK7RTableColumn::String;
constexpr int I = IK7RTableColumn::Integer;
constexpr int D = IK7RTableColumn::Double;
constexpr int T = IK7RTableColumn::Date;
constexpr int B = IK7RTableColumn::Boolean;

using namespace std::string_literals;

// Every identifier and attribute name of the seven tables, the same spelt otherwise, and names
// that only an odd column set answers to: more names than the lookup keeps answers for per
// collection, so that the later ones are answered from the identifiers alone.
std::vector<std::string> namesToRead()
{
    std::set<std::string> names;
    for (const auto* tables : {&vexa2::python::pythonToColumnNames,
                               &vexa2::python::columnToPythonNames})
        for (const auto& [type, table] : *tables)
            for (const auto& [name, other] : table)
            {
                names.insert(name);
                names.insert(other);
            }
    for (const std::string& odd :
         {""s, "OFFER_ID"s, "Offer_id"s, "offer_id "s, "m2_m_equity"s, "nothing"s, "X"s, "x"s,
          "Odd"s, "odd"s, "\0"s, "offer_id\0"s, "Offer\0ID"s, "OfferID\0x"s, "\0offer_id"s})
        names.insert(odd);
    return {names.begin(), names.end()};
}

// Distinct values, so that reading the wrong column shows; every third text has none.
void fill(RowState& row)
{
    const ColumnCollection& columns = row.columnSet();
    for (int index = 0; index < row.count(); ++index)
    {
        switch (columns.typeAt(index))
        {
        case S:
            row.set(index, index % 3 == 2 ? sim::Value() : sim::Value("text " + std::to_string(index)));
            break;
        case I: row.set(index, sim::Value(std::int64_t{index * 7 - 50})); break;
        case D: row.set(index, sim::Value(index + 0.25)); break;
        case T: row.set(index, sim::Value(45000.5 + index)); break;
        case B: row.set(index, sim::Value(index % 2 == 1)); break;
        default: break;
        }
    }
}

struct Read
{
    PythonOutcome outcome;
    bp::object value;
};

template <class F>
Read readWith(F find, IK7RRow& row, const std::string& name)
{
    Read read;
    read.outcome = pythonOutcomeOf([&] { read.value = find(row, name); });
    return read;
}

bool same(const Read& a, const Read& b)
{
    if (a.outcome.raised || b.outcome.raised)
        return a.outcome.raised == b.outcome.raised && a.outcome.type == b.outcome.type
            && a.outcome.text == b.outcome.text;
    return Py_TYPE(a.value.ptr()) == Py_TYPE(b.value.ptr())
        && PyObject_RichCompareBool(a.value.ptr(), b.value.ptr(), Py_EQ) == 1;
}

std::string shown(const Read& read)
{
    if (read.outcome.raised)
        return testing::PrintToString(read.outcome);
    return bp::extract<std::string>(bp::str(read.value.attr("__repr__")()))();
}

std::string printable(const std::string& name)
{
    std::string out;
    for (const char c : name)
        out += c == '\0' ? "\\0"s : std::string(1, c);
    return "'" + out + "'";
}

sim::Ref<ColumnCollection> columns(std::vector<ColumnSpec> specs)
{
    return sim::make<ColumnCollection>(specs);
}

int references(IK7RTableColumnCollection* columns)
{
    return dynamic_cast<sim::Registered*>(columns)->simRefCount();
}

class ColumnLookup : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        initColumnNames();
        GILGuard lock;
        registerDateTimeConverters();
    }

    // Every name through both reads, twice through the lookup: once as it learns the collection
    // (unless an earlier row taught it), once from what it learnt.
    void expectSameReads(RowHold& row, const std::string& what)
    {
        fill(*row);
        for (const std::string& name : m_names)
        {
            const Read walked = readWith(&vexa2::python::rowFindAttrByWalk, *row->row(), name);
            for (const char* pass : {"first", "again"})
            {
                const Read looked = readWith(&vexa2::python::rowFindAttr, *row->row(), name);
                EXPECT_TRUE(same(walked, looked))
                    << what << ", " << printable(name) << " (" << pass << " lookup): walked "
                    << shown(walked) << ", looked up " << shown(looked);
            }
        }
    }

    GILGuard m_lock;
    const std::vector<std::string> m_names = namesToRead();
};

TEST_F(ColumnLookup, EveryRowClassOfTheSevenTablesReadsAsTheWalk)
{
    for (int type = 0; type <= 6; ++type)
        for (const RowKind kind : {RowKind::Table, RowKind::Plain, RowKind::Generic})
        {
            RowHold row = makeRow(static_cast<K7RTable>(type), kind);
            expectSameReads(row, "table " + std::to_string(type) + " kind "
                                     + std::to_string(static_cast<int>(kind)));
        }
}

TEST_F(ColumnLookup, OddColumnSetsReadAsTheWalk)
{
    struct Case
    {
        const char* what;
        K7RTable type;
        std::vector<ColumnSpec> specs;
    };
    const std::vector<Case> cases = {
        {"no known table, columns of several", K7RTable::TableUnknown,
         {{"OfferID", S}, {"AccountID", S}, {"M2MEquity", D}, {"Close", D}, {"HTMLFragmentFlag", B},
          {"PipCost", D}, {"Time", T}}},
        {"a table type past the known ones", static_cast<K7RTable>(7), {{"OfferID", S}, {"Bid", D}}},
        {"duplicate identifiers", K7RTable::Offers,
         {{"Bid", D}, {"bid", I}, {"Bid", I}, {"Ask", D}, {"ask", D}}},
        {"the attribute name as an identifier first", K7RTable::Offers, {{"bid", I}, {"Bid", D}}},
        {"a first match of no readable type hides a later one", K7RTable::Offers,
         {{"Instrument", 9}, {"Instrument", S}, {"Odd", 7}}},
        {"an empty identifier after a known one", K7RTable::Offers, {{"OfferID", S}, {"", I}}},
        {"an empty identifier first", K7RTable::Accounts, {{"", D}, {"AccountID", S}, {"", I}}},
        {"an identifier cut at a NUL byte", K7RTable::Offers, {{"Offer\0ID"s, S}, {"X\0Y"s, I}}},
        {"identifiers of another table", K7RTable::Offers, {{"AccountID", S}, {"Balance", D}}},
        {"texts with and without text", K7RTable::Messages,
         {{"MsgID", S}, {"Text", S}, {"Subject", S}, {"From", S}}},
        {"an empty collection", K7RTable::Offers, {}},
    };
    for (const Case& c : cases)
        for (const RowKind kind : {RowKind::Table, RowKind::Generic})
        {
            sim::Ref<ColumnCollection> set = columns(c.specs);
            RowHold row = makeRow(c.type, kind, set.get());
            expectSameReads(row, c.what);
        }
}

TEST_F(ColumnLookup, OneCollectionReadByRowsOfDifferentTablesAnswersEachByItsTable)
{
    sim::Ref<ColumnCollection> set =
        columns({{"OfferID", S}, {"AccountID", S}, {"Balance", D}, {"Close", D}, {"CloseRate", D}});
    for (const K7RTable type : {K7RTable::Offers, K7RTable::Accounts, K7RTable::Trades,
                                K7RTable::ClosedTrades, K7RTable::TableUnknown})
    {
        RowHold row = makeRow(type, RowKind::Generic, set.get());
        expectSameReads(row, "table " + std::to_string(static_cast<int>(type)));
    }
}

TEST_F(ColumnLookup, RowsWithoutACollectionReadAsTheWalk)
{
    RowHold row = makeRow(K7RTable::Offers, RowKind::Table, nullptr, /*hideColumns=*/true);
    expectSameReads(row, "no collection");
    EXPECT_FALSE(vexa2::python::lookupColumn(nullptr, 0, "offer_id"));
}

TEST_F(ColumnLookup, ACollectionIsHeldOnceWhileKnownAndEveryReadGivesBackTheRest)
{
    sim::Ref<ColumnCollection> set = columns({{"OfferID", S}, {"Bid", D}, {"Ask", D}});
    RowHold row = makeRow(K7RTable::Offers, RowKind::Table, set.get());
    fill(*row);
    const int before = references(set.get());

    for (int round = 0; round < 3; ++round)
        for (const std::string& name : {"offer_id"s, "Bid"s, "missing"s, "ask"s, ""s})
        {
            readWith(&vexa2::python::rowFindAttr, *row->row(), name);
            EXPECT_EQ(references(set.get()), before + 1) << name;
        }
    // Rows of the same collection share what was learnt.
    RowHold other = makeRow(K7RTable::Offers, RowKind::Plain, set.get());
    readWith(&vexa2::python::rowFindAttr, *other->row(), "bid");
    EXPECT_EQ(references(set.get()), before + 2) << "the other row's own, and no more";
}

}  // namespace
