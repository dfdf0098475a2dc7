// Tests of the simulated tables: cell payloads by type and their stability under updates, the
// shared column sets, the row classes, the table events and their re-check after unsubscribe,
// forEachRow on the caller's thread, the four searches and their iterators, update batches and
// their lock, the manager's load after login on the virtual clock, and reference counts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "velvix/Velvix.h"

#include "core/World.h"
#include "velvix/Market.h"
#include "velvix/OrderEngine.h"
#include "velvix/Session.h"
#include "velvix/TableManager.h"

namespace
{

using namespace sim::velvix;

void flush()
{
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
}

// Events as short texts, from any thread.
class Events
{
public:
    void add(std::string e)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
    }
    std::vector<std::string> all() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// Listeners owned by the tests: they count references and are never deleted through them.
class TableProbe final : public IK7RTableListener
{
public:
    TableProbe(Events& e, std::string tag) : events(e), tag(std::move(tag)) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onAdded(const char* id, IK7RRow*) override { record("A", id); }
    void onChanged(const char* id, IK7RRow*) override { record("C", id); }
    void onDeleted(const char* id, IK7RRow*) override { record("D", id); }
    void onStatusChanged(K7RTableStatus s) override { events.add(tag + "S" + std::to_string(static_cast<int>(s))); }
    void record(const char* what, const char* id)
    {
        events.add(tag + what + ":" + (id ? id : "<null>"));
        if (then)
            then();
    }
    Events& events;
    std::string tag;
    std::atomic<int> refs{1};
    std::function<void()> then;
};

class ProcessProbe final : public IK7RUpdatesProcessStatusListener
{
public:
    explicit ProcessProbe(Events& e) : events(e) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onUpdatesProcessStatusChanged(K7RUpdatesProcessStatus s) override
    {
        events.add(s == K7RUpdatesProcessStatus::BeginTablesUpdate ? "BEGIN" : "END");
    }
    void onUpdatesProcessFailed(const char*) override { events.add("FAILED"); }
    Events& events;
    std::atomic<int> refs{1};
};

class ManagerProbe final : public IK7RTableManagerListener
{
public:
    explicit ManagerProbe(Events& e) : events(e) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onStatusChanged(K7RTableManagerStatus s, IK7RTableManager* m) override
    {
        events.add("M" + std::to_string(static_cast<int>(s)) + (m ? "" : ":null"));
    }
    Events& events;
    std::atomic<int> refs{1};
};

class SimTables : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        sim::world().clock().setVirtual();
        market::Settings s = market::settings();
        s.ticks = false;
        market::setSettings(s);
        manager = sim::make<TableManager>("A1", nullptr, [] { return SharedManagerListener(); });
    }
    void TearDown() override
    {
        manager.reset();
        sim::world().dispatcher().flush(5000);
        sim::world().reset();
    }

    Table& table(K7RTable t) { return *manager->table(t); }

    // Inserts rows into a table through a batch and waits for it.
    void insert(K7RTable t, const std::vector<CellValues>& rows, RowKind kind = RowKind::Table,
                ColumnCollection* columns = nullptr)
    {
        std::vector<TableChange> batch;
        for (const CellValues& values : rows)
        {
            TableChange c;
            c.table = t;
            c.row = makeRow(t, kind, columns);
            c.row->apply(values);
            const int key = c.row->columnSet().indexOf(keyColumnId(t));
            const char* text = key >= 0 ? static_cast<const char*>(c.row->cell(key)) : nullptr;
            c.row->setKey(text ? text : table(t).freshKey());
            batch.push_back(std::move(c));
        }
        manager->submit(std::move(batch));
        flush();
    }
    void change(K7RTable t, K7RTableUpdateType op, const std::string& key, CellValues values = {})
    {
        TableChange c;
        c.table = t;
        c.op = op;
        c.key = key;
        c.values = std::move(values);
        manager->submit({c});
        flush();
    }

    sim::Ref<TableManager> manager;
};

// --- cells ---------------------------------------------------------------------------------------

struct CellCase
{
    const char* what;
    int type;
    sim::Value value;
    std::function<void(const void*)> check;
};

class SimCells : public SimTables, public testing::WithParamInterface<CellCase>
{
};

TEST_P(SimCells, PayloadFollowsTheColumnType)
{
    const CellCase& c = GetParam();
    sim::Ref<ColumnCollection> cols = sim::make<ColumnCollection>(std::vector<ColumnSpec>{{"X", c.type, true}});
    RowHold row = makeRow(K7RTable::Offers, RowKind::Generic, cols.get());
    row->apply({{"X", c.value}});
    c.check(row->row()->getCell(0));
    EXPECT_EQ(row->row()->getCell(1), nullptr) << "past the last column";
    EXPECT_EQ(row->row()->getCell(-1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimCells,
    testing::Values(
        CellCase{"integer", 0, std::int64_t{-7},
                 [](const void* p) { EXPECT_EQ(*static_cast<const std::int32_t*>(p), -7); }},
        CellCase{"double", 1, 1.25, [](const void* p) { EXPECT_EQ(*static_cast<const double*>(p), 1.25); }},
        CellCase{"text", 2, std::string("EUR/USD"),
                 [](const void* p) { EXPECT_STREQ(static_cast<const char*>(p), "EUR/USD"); }},
        CellCase{"no text", 2, sim::Value{}, [](const void* p) { EXPECT_EQ(p, nullptr); }},
        CellCase{"raw bytes", 2, std::string("\xff\xfe"),
                 [](const void* p) { EXPECT_STREQ(static_cast<const char*>(p), "\xff\xfe"); }},
        CellCase{"date", 3, 45000.5, [](const void* p) { EXPECT_EQ(*static_cast<const double*>(p), 45000.5); }},
        CellCase{"true", 4, true, [](const void* p) { EXPECT_EQ(*static_cast<const unsigned char*>(p), 1); }},
        CellCase{"false", 4, false, [](const void* p) { EXPECT_EQ(*static_cast<const unsigned char*>(p), 0); }},
        CellCase{"type outside 0..4", 5, std::int64_t{3}, [](const void* p) { EXPECT_NE(p, nullptr); }}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST_F(SimTables, CellPointersStayValidWhileTheRowIsUpdated)
{
    insert(K7RTable::Offers, {{{"OfferID", std::string("X1")}, {"Instrument", std::string("A/B")}, {"Bid", 1.0}}});
    IK7RRow* row = table(K7RTable::Offers).getRow(0);
    ASSERT_NE(row, nullptr);
    sim::Ref<ColumnCollection> cols = sim::Ref<ColumnCollection>::retain(columnSet(K7RTable::Offers, true));
    const int bid = cols->indexOf("Bid"), instrument = cols->indexOf("Instrument");
    const double* bidCell = static_cast<const double*>(row->getCell(bid));
    const char* oldText = static_cast<const char*>(row->getCell(instrument));

    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop)
        {
            const double v = *bidCell;
            ASSERT_TRUE(v >= 1.0 && v < 2.0) << "a torn or stale read: " << v;
        }
    });
    for (int i = 1; i <= 50; ++i)
        change(K7RTable::Offers, K7RTableUpdateType::Update, "X1",
               {{"Bid", 1.0 + i / 100.0}, {"Instrument", "A/B " + std::to_string(i)}});
    stop = true;
    reader.join();

    EXPECT_EQ(row->getCell(bid), bidCell) << "the cell moved";
    EXPECT_DOUBLE_EQ(*bidCell, 1.5);
    EXPECT_STREQ(oldText, "A/B") << "an old text must outlive its replacement";
    EXPECT_STREQ(static_cast<const char*>(row->getCell(instrument)), "A/B 50");
    EXPECT_TRUE(row->isCellChanged(bid));
    EXPECT_FALSE(row->isCellChanged(cols->indexOf("OfferID")));

    change(K7RTable::Offers, K7RTableUpdateType::Delete, "X1");
    EXPECT_DOUBLE_EQ(*bidCell, 1.5) << "a deleted row lives while its caller holds it";
    row->release();
}

// --- columns and row classes -----------------------------------------------------------------------

TEST_F(SimTables, RowsOfAKindShareOneImmutableColumnSet)
{
    insert(K7RTable::Accounts, {{{"AccountID", std::string("1")}}, {{"AccountID", std::string("2")}}});
    IK7RRow* a = table(K7RTable::Accounts).getRow(0);
    IK7RRow* b = table(K7RTable::Accounts).getRow(1);
    IK7RTableColumnCollection* ca = a->getColumns();
    IK7RTableColumnCollection* cb = b->getColumns();
    EXPECT_EQ(ca, cb);
    EXPECT_EQ(ca->size(), 25);
    IK7RTableColumn* key = ca->getKeyColumn();
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(key->getId(), "AccountID");
    IK7RTableColumn* m2m = ca->find("M2MEquity");
    ASSERT_NE(m2m, nullptr);
    EXPECT_EQ(m2m->getType(), IK7RTableColumn::Double);
    EXPECT_EQ(ca->find("m2m_equity"), nullptr) << "find is exact";
    EXPECT_EQ(ca->find(nullptr), nullptr);
    EXPECT_EQ(ca->get(25), nullptr);
    for (IAddRef* r : std::vector<IAddRef*>{key, m2m, ca, cb, a, b})
        r->release();
}

TEST_F(SimTables, DuplicateColumnIdsFindTheFirst)
{
    sim::Ref<ColumnCollection> cols =
        sim::make<ColumnCollection>(std::vector<ColumnSpec>{{"X", 0, false}, {"X", 1, true}, {"", 2, false}});
    IK7RTableColumn* found = cols->find("X");
    EXPECT_EQ(found->getType(), IK7RTableColumn::Integer);
    IK7RTableColumn* key = cols->getKeyColumn();
    EXPECT_EQ(key->getType(), IK7RTableColumn::Double);
    found->release();
    key->release();
}

struct ClassCase
{
    K7RTable type;
    RowKind kind;
    std::function<bool(IK7RRow*)> is;
    const char* kindName;
};

class SimRowClasses : public SimTables, public testing::WithParamInterface<ClassCase>
{
};

TEST_P(SimRowClasses, RowsHaveTheMostSpecificInterfaceOfTheirKind)
{
    const ClassCase& c = GetParam();
    RowHold row = makeRow(c.type, c.kind);
    EXPECT_TRUE(c.is(row->row()));
    EXPECT_EQ(dynamic_cast<sim::Registered*>(row->row())->simKind(), c.kindName);
    EXPECT_EQ(row->row()->getTableType(), c.type);
}

template <class I>
std::function<bool(IK7RRow*)> is()
{
    return [](IK7RRow* r) { return dynamic_cast<I*>(r) != nullptr; };
}
template <class I, class Not>
std::function<bool(IK7RRow*)> isOnly()
{
    return [](IK7RRow* r) { return dynamic_cast<I*>(r) != nullptr && dynamic_cast<Not*>(r) == nullptr; };
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimRowClasses,
    testing::Values(
        ClassCase{K7RTable::Offers, RowKind::Table, is<IK7ROfferTableRow>(), "IK7ROfferTableRow"},
        ClassCase{K7RTable::Offers, RowKind::Plain, isOnly<IK7ROfferRow, IK7ROfferTableRow>(), "IK7ROfferRow"},
        ClassCase{K7RTable::Offers, RowKind::Generic, isOnly<IK7RRow, IK7ROfferRow>(), "IK7RRow"},
        ClassCase{K7RTable::Accounts, RowKind::Table, is<IK7RAccountTableRow>(), "IK7RAccountTableRow"},
        ClassCase{K7RTable::Orders, RowKind::Plain, isOnly<IK7ROrderRow, IK7ROrderTableRow>(), "IK7ROrderRow"},
        ClassCase{K7RTable::Trades, RowKind::Table, is<IK7RTradeTableRow>(), "IK7RTradeTableRow"},
        ClassCase{K7RTable::ClosedTrades, RowKind::Table, is<IK7RClosedTradeTableRow>(), "IK7RClosedTradeTableRow"},
        ClassCase{K7RTable::Messages, RowKind::Table, is<IK7RMessageTableRow>(), "IK7RMessageTableRow"},
        ClassCase{K7RTable::Summary, RowKind::Plain, isOnly<IK7RSummaryRow, IK7RSummaryTableRow>(), "IK7RSummaryRow"},
        ClassCase{K7RTable::TableUnknown, RowKind::Table, isOnly<IK7RRow, IK7ROfferRow>(), "IK7RRow"},
        ClassCase{static_cast<K7RTable>(7), RowKind::Plain, isOnly<IK7RRow, IK7ROfferRow>(), "IK7RRow"}));

TEST_F(SimTables, OfferValidityFlagsDefaultTrueAndAreSetByName)
{
    RowHold row = makeRow(K7RTable::Offers, RowKind::Table);
    auto* offer = dynamic_cast<IK7ROfferTableRow*>(row->row());
    EXPECT_TRUE(offer->getIsOfferIdValid());
    EXPECT_TRUE(offer->getIsFractionalPipSizeValid());
    row->setValid(validityFlag("getIsBidValid"), false);
    row->setValid(validityFlag("is_fractional_pip_size_valid"), false);
    EXPECT_FALSE(offer->getIsBidValid());
    EXPECT_TRUE(offer->getIsAskValid());
    EXPECT_FALSE(offer->getIsFractionalPipSizeValid());
    EXPECT_EQ(validityFlag("getIsDividendBuyValid"), 26);
    EXPECT_EQ(validityFlag("is_bid_change_direction_valid"), 27);
    EXPECT_EQ(validityFlag("getIsNothingValid"), -1);
}

// --- events ----------------------------------------------------------------------------------------

TEST_F(SimTables, EventsReachTheSubscribersOfTheirUpdateTypeWithTheRowKey)
{
    Events events;
    TableProbe inserts(events, "i"), updates(events, "u"), deletes(events, "d"), status(events, "s");
    Table& offers = table(K7RTable::Offers);
    offers.subscribeUpdate(K7RTableUpdateType::Insert, &inserts);
    offers.subscribeUpdate(K7RTableUpdateType::Update, &updates);
    offers.subscribeUpdate(K7RTableUpdateType::Delete, &deletes);
    offers.subscribeStatus(&status);
    EXPECT_EQ(inserts.refs, 2) << "the library keeps its own reference";

    insert(K7RTable::Offers, {{{"OfferID", std::string("7")}}});
    change(K7RTable::Offers, K7RTableUpdateType::Update, "7", {{"Bid", 2.0}});
    change(K7RTable::Offers, K7RTableUpdateType::Delete, "7");
    ASSERT_TRUE(sim::world().dispatcher().post([&] { offers.setStatus(2); }));
    flush();
    EXPECT_EQ(events.all(), (std::vector<std::string>{"iA:7", "uC:7", "dD:7", "sS2"}));

    offers.unsubscribeUpdate(K7RTableUpdateType::Insert, &inserts);
    offers.unsubscribeUpdate(K7RTableUpdateType::Update, &updates);
    offers.unsubscribeUpdate(K7RTableUpdateType::Delete, &deletes);
    offers.unsubscribeStatus(&status);
    for (TableProbe* p : {&inserts, &updates, &deletes, &status})
        EXPECT_EQ(p->refs, 1);
}

TEST_F(SimTables, NoCallStartsAfterUnsubscribeReturned)
{
    Events events;
    TableProbe first(events, "1"), second(events, "2");
    Table& orders = table(K7RTable::Orders);
    orders.subscribeUpdate(K7RTableUpdateType::Insert, &first);
    orders.subscribeUpdate(K7RTableUpdateType::Insert, &second);
    // The first listener unsubscribes the second while the delivery to both is under way.
    first.then = [&] { orders.unsubscribeUpdate(K7RTableUpdateType::Insert, &second); };
    insert(K7RTable::Orders, {{{"OrderID", std::string("O1")}}});
    EXPECT_EQ(events.all(), std::vector<std::string>{"1A:O1"});
    first.then = nullptr;
    orders.unsubscribeUpdate(K7RTableUpdateType::Insert, &first);
    insert(K7RTable::Orders, {{{"OrderID", std::string("O2")}}});
    EXPECT_EQ(events.all(), std::vector<std::string>{"1A:O1"});
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(second.refs, 1);
}

class EachRowProbe final : public IK7REachRowListener
{
public:
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onEachRow(const char* id, IK7RRow* row) override
    {
        threads.push_back(std::this_thread::get_id());
        ids.push_back(id ? id : "<null>");
        if (table)
        {
            EXPECT_EQ(table->size(), 2) << "the table can be used from inside the callback";
        }
        EXPECT_NE(row, nullptr);
    }
    std::atomic<int> refs{1};
    std::vector<std::thread::id> threads;
    std::vector<std::string> ids;
    Table* table = nullptr;
};

TEST_F(SimTables, ForEachRowCallsBackOnTheCallingThreadBeforeItReturns)
{
    insert(K7RTable::Messages, {{{"MsgID", std::string("m1")}}, {{"MsgID", std::string("m2")}}});
    EachRowProbe probe;
    probe.table = &table(K7RTable::Messages);
    table(K7RTable::Messages).forEachRow(&probe);
    EXPECT_EQ(probe.ids, (std::vector<std::string>{"m1", "m2"}));
    EXPECT_EQ(probe.threads, std::vector<std::thread::id>(2, std::this_thread::get_id()));
    EXPECT_EQ(probe.refs, 1);
}

TEST_F(SimTables, LockedUpdatesWaitForUnlockAndEachBatchIsBracketed)
{
    Events events;
    ProcessProbe process(events);
    TableProbe added(events, "");
    manager->subscribeUpdatesProcessStatus(&process);
    table(K7RTable::Trades).subscribeUpdate(K7RTableUpdateType::Insert, &added);

    manager->lockUpdates();
    manager->lockUpdates();
    insert(K7RTable::Trades, {{{"TradeID", std::string("T1")}}, {{"TradeID", std::string("T2")}}});
    EXPECT_EQ(table(K7RTable::Trades).size(), 0);
    manager->unlockUpdates();
    flush();
    EXPECT_TRUE(events.all().empty()) << "still locked once";
    EXPECT_EQ(manager->pendingBatches(), 1);
    manager->unlockUpdates();
    flush();
    EXPECT_EQ(events.all(), (std::vector<std::string>{"BEGIN", "A:T1", "A:T2", "END"}));
    EXPECT_EQ(table(K7RTable::Trades).size(), 2);
    manager->unlockUpdates();  // more unlocks than locks change nothing
    EXPECT_EQ(manager->lockDepth(), 0);

    manager->unsubscribeUpdatesProcessStatus(&process);
    table(K7RTable::Trades).unsubscribeUpdate(K7RTableUpdateType::Insert, &added);
    EXPECT_EQ(process.refs, 1);
}

TEST_F(SimTables, GetTableIsBorrowedAndNullOutsideTheSevenTypes)
{
    const int before = dynamic_cast<sim::Registered*>(manager->getTable(K7RTable::Offers))->simRefCount();
    IK7RTable* offers = manager->getTable(K7RTable::Offers);
    EXPECT_EQ(dynamic_cast<sim::Registered*>(offers)->simRefCount(), before);
    EXPECT_EQ(offers->getType(), K7RTable::Offers);
    EXPECT_EQ(manager->getTable(K7RTable::TableUnknown), nullptr);
    EXPECT_EQ(manager->getTable(static_cast<K7RTable>(7)), nullptr);
}

// --- searches --------------------------------------------------------------------------------------

class SimSearch : public SimTables
{
protected:
    void SetUp() override
    {
        SimTables::SetUp();
        insert(K7RTable::Offers, {
                                     {{"OfferID", std::string("1")}, {"Bid", 1.0}, {"Digits", std::int64_t{5}}},
                                     {{"OfferID", std::string("2")}, {"Bid", 2.0}, {"Digits", std::int64_t{3}}},
                                     {{"OfferID", std::string("3")}, {"Bid", 3.0}, {"Digits", std::int64_t{5}},
                                      {"BidTradable", true}},
                                     {{"OfferID", std::string("4")}, {"Bid", 4.0}, {"Digits", std::int64_t{2}}},
                                 });
    }
    // The keys of every row a search finds, iterating it to the end.
    template <class Search>
    std::vector<std::string> all(Search search)
    {
        std::vector<std::string> keys;
        IK7RTableIterator it;
        IK7RRow* row = nullptr;
        while (search(it, row))
        {
            keys.push_back(dynamic_cast<IK7ROfferRow*>(row)->getOfferID());
            row->release();
            if (keys.size() > 10)
                break;
        }
        return keys;
    }
    Table& offers() { return table(K7RTable::Offers); }
};

using Keys = std::vector<std::string>;

TEST_F(SimSearch, ByValueReadsTheValueByTheColumnType)
{
    const std::int32_t five = 5;
    const double two = 2.0;
    const unsigned char yes = 1;
    EXPECT_EQ(all([&](auto& it, auto& row) { return offers().getNextGenericRowByColumnValue("Digits", &five, it, row); }),
              (Keys{"1", "3"}));
    EXPECT_EQ(all([&](auto& it, auto& row) { return offers().getNextGenericRowByColumnValue("Bid", &two, it, row); }),
              (Keys{"2"}));
    EXPECT_EQ(all([&](auto& it, auto& row) { return offers().getNextGenericRowByColumnValue("OfferID", "4", it, row); }),
              (Keys{"4"}));
    EXPECT_EQ(
        all([&](auto& it, auto& row) { return offers().getNextGenericRowByColumnValue("BidTradable", &yes, it, row); }),
        (Keys{"3"}));
    EXPECT_EQ(all([&](auto& it, auto& row) { return offers().getNextGenericRowByColumnValue("", "4", it, row); }),
              Keys{}) << "an empty column id finds nothing";
    EXPECT_EQ(all([&](auto& it, auto& row) { return offers().getNextGenericRowByColumnValue("offer_id", "4", it, row); }),
              Keys{}) << "column ids are exact";
}

struct ConditionCase
{
    const char* what;
    K7RRelationalOperators op;
    double v0, v1;
    Keys keys;
};

class SimCondition : public SimSearch, public testing::WithParamInterface<ConditionCase>
{
};

TEST_P(SimCondition, ComparesWithTheFirstValueOrBetweenBothInclusive)
{
    const ConditionCase& c = GetParam();
    const void* values[] = {&c.v0, &c.v1};
    EXPECT_EQ(all([&](auto& it, auto& row) { return offers().getNextGenericRowByCondition("Bid", c.op, values, it, row); }),
              c.keys)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimCondition,
    testing::Values(ConditionCase{"between, bounds included", K7RRelationalOperators::Between, 2.0, 3.0, {"2", "3"}},
                    ConditionCase{"between, reversed bounds", K7RRelationalOperators::Between, 3.0, 2.0, {}},
                    ConditionCase{"greater than v0", K7RRelationalOperators::GreaterThan, 2.0, 0.0, {"3", "4"}},
                    ConditionCase{"less or equal v0", K7RRelationalOperators::LessThanOrEqualTo, 2.0, 9.0, {"1", "2"}},
                    ConditionCase{"not equal v0", K7RRelationalOperators::NotEqualTo, 1.0, 2.0, {"2", "3", "4"}},
                    ConditionCase{"unknown operator", static_cast<K7RRelationalOperators>(9), 1.0, 2.0, {}}));

TEST_F(SimSearch, ByValuesMatchesAnyValue)
{
    const std::int32_t two = 2, three = 3, nine = 9;
    const void* values[] = {&two, &three, &nine};
    EXPECT_EQ(all([&](auto& it, auto& row) {
                  return offers().getNextGenericRowByColumnValues("Digits", K7RRelationalOperators::EqualTo, 3, values,
                                                                  it, row);
              }),
              (Keys{"2", "4"}));
    EXPECT_EQ(all([&](auto& it, auto& row) {
                  return offers().getNextGenericRowByColumnValues("Digits", K7RRelationalOperators::EqualTo, 0, values,
                                                                  it, row);
              }),
              Keys{});
    const void* bounds[] = {&two, &three};
    EXPECT_EQ(all([&](auto& it, auto& row) {
                  return offers().getNextGenericRowByColumnValues("Digits", K7RRelationalOperators::Between, 2, bounds,
                                                                  it, row);
              }),
              (Keys{"2", "4"}));
}

TEST_F(SimSearch, MultiColumnCombinesTermsWithAndOr)
{
    const std::int32_t five = 5;
    const double two = 2.0;
    const char* ids[] = {"Digits", "Bid"};
    const void* values[] = {&five, &two};
    const K7RRelationalOperators eqGt[] = {K7RRelationalOperators::EqualTo, K7RRelationalOperators::GreaterThan};
    EXPECT_EQ(all([&](auto& it, auto& row) {
                  return offers().getNextGenericRowByMultiColumnValues(2, ids, eqGt, values,
                                                                       K7RLogicOperators::OperatorAnd, it, row);
              }),
              (Keys{"3"}));
    EXPECT_EQ(all([&](auto& it, auto& row) {
                  return offers().getNextGenericRowByMultiColumnValues(2, ids, eqGt, values,
                                                                       K7RLogicOperators::OperatorOr, it, row);
              }),
              (Keys{"1", "3", "4"}));
    const char* withEmpty[] = {"", "Bid"};
    EXPECT_EQ(all([&](auto& it, auto& row) {
                  return offers().getNextGenericRowByMultiColumnValues(2, withEmpty, eqGt, values,
                                                                       K7RLogicOperators::OperatorOr, it, row);
              }),
              (Keys{"3", "4"}))
        << "a term with an empty column id is false";
}

TEST_F(SimSearch, TheIteratorAdvancesAndACopySearchesOnItsOwn)
{
    const std::int32_t five = 5;
    IK7RTableIterator it;
    IK7RRow* row = nullptr;
    ASSERT_TRUE(offers().getNextGenericRowByColumnValue("Digits", &five, it, row));
    row->release();
    IK7RTableIterator copy(it);
    EXPECT_TRUE(copy == it);
    ASSERT_TRUE(offers().getNextGenericRowByColumnValue("Digits", &five, copy, row));
    EXPECT_STREQ(dynamic_cast<IK7ROfferRow*>(row)->getOfferID(), "3");
    row->release();
    EXPECT_FALSE(copy == it);
    EXPECT_FALSE(offers().getNextGenericRowByColumnValue("Digits", &five, copy, row));
    EXPECT_EQ(row, nullptr);
    ASSERT_TRUE(offers().getNextGenericRowByColumnValue("Digits", &five, it, row)) << "the original did not move";
    EXPECT_STREQ(dynamic_cast<IK7ROfferRow*>(row)->getOfferID(), "3");
    row->release();
    EXPECT_TRUE(copy == it);
    EXPECT_FALSE(IK7RTableIterator() == it);
}

TEST_F(SimSearch, SearchesAreJournaledAndOneCanBeMadeToMiss)
{
    const std::int32_t five = 5;
    const double bounds[] = {1.5, 2.5};
    const void* values[] = {&bounds[0], &bounds[1]};
    IK7RTableIterator it;
    IK7RRow* row = nullptr;
    missSearch(1);
    ASSERT_TRUE(offers().getNextGenericRowByColumnValue("Digits", &five, it, row));
    row->release();
    EXPECT_FALSE(offers().getNextGenericRowByColumnValue("Digits", &five, it, row)) << "the forced miss";
    ASSERT_TRUE(offers().getNextGenericRowByColumnValue("Digits", &five, it, row)) << "the miss is one-shot";
    row->release();
    ASSERT_TRUE(offers().getNextGenericRowByCondition("Bid", K7RRelationalOperators::Between, values, it = {}, row));
    row->release();

    const std::vector<SearchRecord> journal = searchJournal();
    ASSERT_EQ(journal.size(), 4u);
    EXPECT_EQ(journal[0].operation, "getNextGenericRowByColumnValue");
    EXPECT_EQ(journal[0].columns, std::vector<std::optional<std::string>>{std::string("Digits")});
    EXPECT_EQ(journal[0].values, sim::Values{std::int64_t{5}});
    EXPECT_EQ(journal[3].operation, "getNextGenericRowByCondition");
    EXPECT_EQ(journal[3].values, (sim::Values{1.5, 2.5}));
    EXPECT_EQ(journal[3].operators, std::vector<int>{-1});
    sim::world().reset();
    EXPECT_TRUE(searchJournal().empty());
}

// --- the manager of a session ---------------------------------------------------------------------

class SimSessionTables : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        sim::world().clock().setVirtual();
        session = CK7RTransport::createSession();
    }
    void TearDown() override
    {
        if (session)
            session->release();
        sim::world().dispatcher().flush(5000);
        sim::world().reset();
    }
    // Lets `ms` of virtual time pass in steps, delivering what falls due.
    static void pass(int ms, int step = 10)
    {
        flush();
        for (int t = 0; t < ms; t += step)
        {
            sim::world().clock().advance(step);
            flush();
        }
    }
    IK7RSession* session = nullptr;
};

TEST_F(SimSessionTables, TheManagerLoadsTheDemoAccountAfterLogin)
{
    Events events;
    ManagerProbe probe(events);
    session->useTableManager(K7RTableManagerMode::Yes, &probe);
    EXPECT_EQ(probe.refs, 2);
    EXPECT_EQ(session->getTableManager(), nullptr) << "no manager before login";
    ASSERT_TRUE(session->login("demo", "demo", "https://any.example/", "Demo"));
    pass(60);
    IK7RTableManager* m = session->getTableManager();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(events.all(), std::vector<std::string>{"M0"});
    EXPECT_EQ(m->getTable(K7RTable::Offers)->getStatus(), K7RTableStatus::Refreshing);
    pass(50);
    EXPECT_EQ(events.all(), (std::vector<std::string>{"M0", "M1"}));
    EXPECT_EQ(m->getStatus(), K7RTableManagerStatus::TablesLoaded);

    IK7RTable* offers = m->getTable(K7RTable::Offers);
    EXPECT_EQ(offers->getStatus(), K7RTableStatus::Refreshed);
    ASSERT_GE(offers->size(), 8);
    std::map<std::string, std::pair<double, double>> quotes;
    for (int i = 0; i < offers->size(); ++i)
    {
        auto* row = dynamic_cast<IK7ROfferTableRow*>(offers->getRow(i));
        ASSERT_NE(row, nullptr);
        quotes[row->getInstrument()] = {row->getBid(), row->getAsk()};
        EXPECT_LT(row->getBid(), row->getAsk()) << row->getInstrument();
        row->release();
    }
    for (const char* symbol : {"EUR/USD", "USD/JPY", "GBP/USD", "XAU/USD"})
        EXPECT_EQ(quotes.count(symbol), 1u) << symbol;
    auto* account = dynamic_cast<IK7RAccountTableRow*>(m->getTable(K7RTable::Accounts)->getRow(0));
    ASSERT_NE(account, nullptr);
    EXPECT_GT(account->getBalance(), 0.0);
    EXPECT_GT(account->getEquity(), 0.0);
    account->release();
    EXPECT_EQ(m->getTable(K7RTable::Messages)->size(), 1);
    for (K7RTable t : {K7RTable::Orders, K7RTable::Trades, K7RTable::ClosedTrades, K7RTable::Summary})
        EXPECT_EQ(m->getTable(t)->size(), 0);

    IK7RTableManager* byAccount = session->getTableManagerByAccount(market::DemoAccountId);
    EXPECT_EQ(byAccount, m);
    byAccount->release();
    EXPECT_EQ(session->getTableManagerByAccount("other"), nullptr);
    m->release();

    session->useTableManager(K7RTableManagerMode::No, nullptr);
    EXPECT_EQ(probe.refs, 1) << "a replaced listener is given back";
}

TEST_F(SimSessionTables, OffersTickOnTheDispatcherWhileEnabled)
{
    session->useTableManager(K7RTableManagerMode::Yes, nullptr);
    ASSERT_TRUE(session->login("demo", "demo", "https://any.example/", "Demo"));
    pass(120);
    IK7RTableManager* m = session->getTableManager();
    ASSERT_NE(m, nullptr);
    IK7RTable* offers = m->getTable(K7RTable::Offers);
    Events events;
    TableProbe changes(events, "");
    offers->subscribeUpdate(K7RTableUpdateType::Update, &changes);
    IK7RRow* row = offers->getRow(0);
    const auto* time = static_cast<const double*>(row->getCell(8));
    const double before = *time;
    pass(2000, 250);
    EXPECT_FALSE(events.all().empty()) << "no tick changed any offer";
    // A tick moves this offer's quote only when its rounded price changes: allow quiet ticks.
    for (int i = 0; i < 200 && *time <= before; ++i)
        pass(250, 250);
    EXPECT_GT(*time, before) << "Time follows the ticks";

    market::Settings s = market::settings();
    s.ticks = false;
    market::setSettings(s);
    sim::velvix::restartPriceFeed();
    pass(250, 250);
    events.clear();
    pass(2000, 250);
    EXPECT_TRUE(events.all().empty()) << "ticks were switched off";

    offers->unsubscribeUpdate(K7RTableUpdateType::Update, &changes);
    row->release();
    m->release();
}

// Tells whether another thread can take a stand-in lock right now: `take` takes and lets it go.
// A thread that had to wait is joined at the end, once the lock came free.
class LockProbe
{
public:
    ~LockProbe()
    {
        for (auto& t : threads_)
            t.join();
    }
    bool free(std::function<void()> take)
    {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> f = done->get_future();
        threads_.emplace_back([take, done] {
            take();
            done->set_value();
        });
        return f.wait_for(std::chrono::milliseconds(500)) == std::future_status::ready;
    }

private:
    std::vector<std::thread> threads_;
};

// A manager listener that, in each of its calls, checks that the session sides' lock is free.
class LockCheckingManagerProbe final : public IK7RTableManagerListener
{
public:
    explicit LockCheckingManagerProbe(std::uint64_t session) : session_(session) {}
    int addRef() override
    {
        check("addRef");
        return ++refs;
    }
    int release() override
    {
        check("release");
        return --refs;
    }
    void onStatusChanged(K7RTableManagerStatus, IK7RTableManager*) override { check("onStatusChanged"); }
    void check(const char* call)
    {
        const std::uint64_t id = session_;
        if (!probe_.free([id] { SessionTables::instance().manager(id); }))
        {
            std::lock_guard<std::mutex> lock(mutex_);
            underLock_.push_back(call);
        }
    }
    std::vector<std::string> underLock()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return underLock_;
    }
    std::atomic<int> refs{1};

private:
    const std::uint64_t session_;
    LockProbe probe_;
    std::mutex mutex_;
    std::vector<std::string> underLock_;
};

TEST_F(SimSessionTables, TheManagerListenerIsNeverCalledUnderTheSidesLock)
{
    const std::uint64_t id = dynamic_cast<sim::Registered*>(session)->simId();
    LockCheckingManagerProbe probe(id);
    session->useTableManager(K7RTableManagerMode::Yes, &probe);
    ASSERT_TRUE(session->login("demo", "demo", "https://any.example/", "Demo"));
    pass(120);
    ASSERT_GT(sim::world().registry().live("IK7RTableManager"), 0);
    session->useTableManager(K7RTableManagerMode::No, nullptr);
    flush();
    EXPECT_EQ(probe.underLock(), std::vector<std::string>{});
    EXPECT_EQ(probe.refs, 1);
}

TEST_F(SimSessionTables, ReferenceCountsReturnToTheStart)
{
    const char* kinds[] = {"IK7RTableManager", "IK7RTable", "IK7ROfferTableRow", "IK7RAccountTableRow",
                           "IK7RMessageTableRow", "IK7RTableColumn", "IK7RTableColumnCollection"};
    std::map<std::string, std::int64_t> start;
    for (const char* k : kinds)
        start[k] = sim::world().registry().live(k);

    Events events;
    ManagerProbe probe(events);
    session->useTableManager(K7RTableManagerMode::Yes, &probe);
    ASSERT_TRUE(session->login("demo", "demo", "https://any.example/", "Demo"));
    pass(120);
    IK7RTableManager* m = session->getTableManager();
    ASSERT_NE(m, nullptr);
    IK7RRow* row = m->getTable(K7RTable::Offers)->getRow(0);
    IK7RTableColumnCollection* cols = row->getColumns();
    IK7RTableColumn* col = cols->get(3);
    col->release();
    cols->release();
    row->release();
    m->release();
    session->release();
    session = nullptr;
    flush();
    for (const char* k : kinds)
        EXPECT_EQ(sim::world().registry().live(k), start[k]) << k;
    EXPECT_EQ(probe.refs, 1);
}

}  // namespace
