// Tests of requests sent through a logged-in simulated session, on the virtual clock: market and
// entry orders through the tables, the server's refusals, refreshes read as generic readers,
// snapshots from the history generator, and the references left once everything is dropped.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "velvix/Velvix.h"

#include "core/World.h"
#include "velvix/History.h"
#include "velvix/Market.h"
#include "velvix/OrderEngine.h"
#include "velvix/RequestServer.h"
#include "velvix/TableManager.h"

namespace
{

namespace market = sim::velvix::market;

class Events
{
public:
    void add(std::string e)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
    }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

// Records "done:<id>:<type>", "fail:<id>:<error>" and "tu:<op><table>,..." and keeps every
// response it was lent, with a reference of its own, for the test to read afterwards.
class ResponseProbe final : public IK7RResponseListener
{
public:
    explicit ResponseProbe(Events& e) : events(e) {}
    ~ResponseProbe() override { drop(); }
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onRequestCompleted(const char* id, IK7RResponse* r) override
    {
        keep(r);
        events.add(std::string("done:") + (id ? id : "<null>") + ":" + std::to_string(static_cast<int>(r->getType())));
    }
    void onRequestFailed(const char* id, const char* error) override
    {
        events.add(std::string("fail:") + (id ? id : "<null>") + ":" + (error ? error : "<null>"));
    }
    void onTablesUpdates(IK7RResponse* r) override
    {
        keep(r);
        IK7RResponseReaderFactory* f = session->getResponseReaderFactory();
        IK7RTablesUpdatesReader* u = f->createTablesUpdatesReader(r);
        std::string e = "tu:";
        for (int i = 0; i < u->size(); ++i)
            e += std::string(i ? "," : "") + "IUD"[static_cast<int>(u->getUpdateType(i))] +
                 std::to_string(static_cast<int>(u->getUpdateTable(i)));
        u->release();
        f->release();
        events.add(e);
    }
    void keep(IK7RResponse* r)
    {
        r->addRef();
        std::lock_guard<std::mutex> lock(mutex);
        kept.push_back(r);
    }
    // The newest response kept, of that type (any type: -2).
    IK7RResponse* last(int type = -2)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = kept.rbegin(); it != kept.rend(); ++it)
            if (type == -2 || static_cast<int>((*it)->getType()) == type)
                return *it;
        return nullptr;
    }
    void drop()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (IK7RResponse* r : kept)
            r->release();
        kept.clear();
    }

    Events& events;
    IK7RSession* session = nullptr;
    std::atomic<int> refs{1};
    std::mutex mutex;
    std::vector<IK7RResponse*> kept;
};

// "+<table>:<key>" and "-<table>:<key>" for inserts and deletes.
class TableProbe final : public IK7RTableListener
{
public:
    TableProbe(Events& e, int table) : events(e), table(std::to_string(table)) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onAdded(const char* id, IK7RRow*) override { events.add("+" + table + ":" + id); }
    void onChanged(const char*, IK7RRow*) override {}
    void onDeleted(const char* id, IK7RRow*) override { events.add("-" + table + ":" + id); }
    void onStatusChanged(K7RTableStatus) override {}
    Events& events;
    std::string table;
    std::atomic<int> refs{1};
};

constexpr const char* Counted[] = {"IK7RRequest", "IK7RValueMap", "IK7RResponse", "IK7RRequestFactory",
                                   "IK7RResponseReaderFactory", "IK7RMarketDataSnapshotResponseReader",
                                   "IK7RGenericTableResponseReader", "IK7ROrderResponseReader",
                                   "IK7RTablesUpdatesReader"};

class SimRequestFlow : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        for (const char* k : Counted)
            before.push_back(sim::world().registry().live(k));
        market::Settings s = market::settings();
        s.ticks = false;  // stable prices: fills are checked against the offers' quotes
        market::setSettings(s);
        sim::world().clock().setVirtual();
        session = CK7RTransport::createSession();
        probe.session = session;
        session->subscribeResponse(&probe);
        factory = session->getRequestFactory();
        readers = session->getResponseReaderFactory();
    }
    void TearDown() override
    {
        if (manager)
            manager->release();
        factory->release();
        readers->release();
        session->unsubscribeResponse(&probe);
        probe.drop();
        session->release();
        sim::world().dispatcher().flush(5000);
        sim::world().reset();
        for (std::size_t i = 0; i < std::size(Counted); ++i)
            EXPECT_EQ(sim::world().registry().live(Counted[i]), before[i]) << Counted[i] << " left alive";
        EXPECT_EQ(probe.refs, 1);
    }

    // Deliveries post their follow-ups (a batch, then its report): three rounds take them all.
    static void flush()
    {
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    }
    static void pass(int ms, int step = 10)
    {
        flush();
        for (int t = 0; t < ms; t += step)
        {
            sim::world().clock().advance(step);
            flush();
        }
    }
    void login(bool tables = true)
    {
        session->useTableManager(tables ? K7RTableManagerMode::Yes : K7RTableManagerMode::No, nullptr);
        ASSERT_TRUE(session->login("demo", "demo", "https://any.example/", "Demo"));
        pass(200);
        if (tables)
        {
            manager = session->getTableManager();
            ASSERT_NE(manager, nullptr);
            ASSERT_EQ(manager->getStatus(), K7RTableManagerStatus::TablesLoaded);
        }
        events.take();
    }
    // Sends and lets the request go: the server keeps its own reference while it answers.
    std::string send(IK7RRequest* request)
    {
        std::string id = request->getRequestId();
        session->sendRequest(request);
        request->release();
        return id;
    }
    IK7RRequest* order(const std::vector<std::pair<K7RRequestParamsEnum, const char*>>& texts, double amount,
                       bool asDouble = false)
    {
        IK7RValueMap* map = factory->createValueMap();
        for (const auto& [param, value] : texts)
            map->setString(param, value);
        if (asDouble)
            map->setDouble(K7RRequestParamsEnum::Amount, amount);
        else
            map->setInt(K7RRequestParamsEnum::Amount, static_cast<int>(amount));
        IK7RRequest* r = factory->createOrderRequest(map);
        map->release();
        return r;
    }
    IK7RRow* row(K7RTable table, int index) { return manager->getTable(table)->getRow(index); }
    double offerCell(const char* id)
    {
        IK7RRow* offer = row(K7RTable::Offers, 0);
        auto* o = dynamic_cast<IK7ROfferRow*>(offer);
        const double out = std::string(id) == "Bid" ? o->getBid() : o->getAsk();
        offer->release();
        return out;
    }

    std::vector<std::int64_t> before;
    Events events;
    ResponseProbe probe{events};
    IK7RSession* session = nullptr;
    IK7RRequestFactory* factory = nullptr;
    IK7RResponseReaderFactory* readers = nullptr;
    IK7RTableManager* manager = nullptr;
};

using P = K7RRequestParamsEnum;

struct MarketCase
{
    const char* side;
    bool amountAsDouble;
};

class SimMarketOrders : public SimRequestFlow, public testing::WithParamInterface<MarketCase>
{
};

TEST_P(SimMarketOrders, FillIntoATradeAfterTheOrderRowCameAndWent)
{
    const MarketCase& c = GetParam();
    login();
    TableProbe orders(events, 2), trades(events, 3);
    IK7RTable* orderTable = manager->getTable(K7RTable::Orders);
    IK7RTable* tradeTable = manager->getTable(K7RTable::Trades);
    orderTable->subscribeUpdate(K7RTableUpdateType::Insert, &orders);
    orderTable->subscribeUpdate(K7RTableUpdateType::Delete, &orders);
    tradeTable->subscribeUpdate(K7RTableUpdateType::Insert, &trades);
    struct Unsubscribe
    {
        std::function<void()> f;
        ~Unsubscribe() { f(); }
    } unsubscribe{[&] {
        orderTable->unsubscribeUpdate(K7RTableUpdateType::Insert, &orders);
        orderTable->unsubscribeUpdate(K7RTableUpdateType::Delete, &orders);
        tradeTable->unsubscribeUpdate(K7RTableUpdateType::Insert, &trades);
    }};
    const bool buy = std::string(c.side) == "B";
    const double price = offerCell(buy ? "Ask" : "Bid");

    const std::string id = send(order({{P::Command, "CreateOrder"}, {P::OrderType, "OM"}, {P::OfferId, "1"},
                                       {P::AccountId, market::DemoAccountId}, {P::BuySell, c.side}},
                                      2000, c.amountAsDouble));
    flush();
    // The answer first, then the order row, then its report to the response listeners.
    IK7ROrderResponseReader* answer = readers->createOrderResponseReader(probe.last(8));
    ASSERT_NE(answer, nullptr);
    const std::string orderId = answer->getOrderId();
    answer->release();
    EXPECT_EQ(events.take(), (std::vector<std::string>{"done:" + id + ":8", "+2:" + orderId, "tu:I2"}));
    ASSERT_EQ(manager->getTable(K7RTable::Orders)->size(), 1);
    auto* orderRow = dynamic_cast<IK7ROrderRow*>(row(K7RTable::Orders, 0));
    EXPECT_STREQ(orderRow->getOrderID(), orderId.c_str());
    EXPECT_EQ(orderRow->getAmount(), 2000);
    orderRow->release();

    pass(100);
    const std::vector<std::string> fill = events.take();
    ASSERT_EQ(fill.size(), 3u) << "the order fills one delay later: " << testing::PrintToString(fill);
    EXPECT_EQ(fill[0].substr(0, 3), "+3:");
    EXPECT_EQ(fill[1], "-2:" + orderId);
    EXPECT_EQ(fill[2], "tu:I3,D2,U1,I6");
    EXPECT_EQ(manager->getTable(K7RTable::Orders)->size(), 0);
    ASSERT_EQ(manager->getTable(K7RTable::Trades)->size(), 1);
    auto* trade = dynamic_cast<IK7RTradeTableRow*>(row(K7RTable::Trades, 0));
    EXPECT_EQ(trade->getOpenRate(), price) << "at the ask for a buy, the bid for a sell";
    EXPECT_EQ(trade->getAmount(), 2000);
    EXPECT_STREQ(trade->getOfferID(), "1");
    EXPECT_LT(trade->getPL(), 0.0) << "the spread is lost at the open";
    trade->release();
    auto* account = dynamic_cast<IK7RAccountTableRow*>(row(K7RTable::Accounts, 0));
    EXPECT_GT(account->getUsedMargin(), 0.0);
    EXPECT_LT(account->getEquity(), market::DemoBalance);
    account->release();
    EXPECT_EQ(manager->getTable(K7RTable::Summary)->size(), 1);

    // The tables-updates reader gives each update's row through its own table's getter only.
    IK7RTablesUpdatesReader* u = readers->createTablesUpdatesReader(probe.last());
    ASSERT_EQ(u->size(), 4);
    IK7RTradeRow* t = u->getTradeRow(0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->getAmount(), 2000);
    t->release();
    EXPECT_EQ(u->getOfferRow(0), nullptr);
    EXPECT_EQ(u->getTradeRow(4), nullptr);
    EXPECT_EQ(u->getUpdateType(-1), K7RTableUpdateType::UpdateUnknown);
    u->release();
}

INSTANTIATE_TEST_SUITE_P(Table, SimMarketOrders,
                         testing::Values(MarketCase{"B", false}, MarketCase{"S", true}));

struct RefusalCase
{
    const char* what;
    std::vector<std::pair<K7RRequestParamsEnum, const char*>> texts;
    double amount;
    const char* error;
};

class SimRefusals : public SimRequestFlow, public testing::WithParamInterface<RefusalCase>
{
};

TEST_P(SimRefusals, FailWithTheRequestIdAndAReason)
{
    const RefusalCase& c = GetParam();
    login();
    const std::string id = send(order(c.texts, c.amount));
    pass(300);
    EXPECT_EQ(events.take(), std::vector<std::string>{"fail:" + id + ":" + c.error}) << c.what;
    EXPECT_EQ(manager->getTable(K7RTable::Orders)->size(), 0) << c.what;
    EXPECT_EQ(manager->getTable(K7RTable::Trades)->size(), 0) << c.what;
}

const std::vector<std::pair<K7RRequestParamsEnum, const char*>> Good{
    {P::Command, "CreateOrder"}, {P::OrderType, "OM"}, {P::OfferId, "1"}, {P::AccountId, "1000101"}, {P::BuySell, "B"}};

std::vector<std::pair<K7RRequestParamsEnum, const char*>> with(K7RRequestParamsEnum p, const char* v)
{
    auto out = Good;
    for (auto& [param, value] : out)
        if (param == p)
            value = v;
    if (std::none_of(out.begin(), out.end(), [&](const auto& e) { return e.first == p; }))
        out.emplace_back(p, v);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimRefusals,
    testing::Values(
        RefusalCase{"unknown offer", with(P::OfferId, "999"), 1000, "Unknown offer '999'"},
        RefusalCase{"missing offer", with(P::OfferId, ""), 1000, "The offer is not specified (OFFER_ID)"},
        RefusalCase{"zero amount", Good, 0, "The amount must be a positive number of units (AMOUNT)"},
        RefusalCase{"unknown command", with(P::Command, "Teleport"), 1000, "Unknown command 'Teleport'"},
        RefusalCase{"unknown account", with(P::AccountId, "42"), 1000, "Unknown account '42'"},
        RefusalCase{"bad side", with(P::BuySell, "X"), 1000, "The side must be \"B\" or \"S\" (BUY_SELL), not 'X'"},
        RefusalCase{"entry without rate", with(P::OrderType, "LE"), 1000, "An entry order needs a positive rate (RATE)"},
        RefusalCase{"unsupported command", with(P::Command, "CreateOCO"), 1000,
                    "The command 'CreateOCO' is not supported by the server"}));

TEST_F(SimRequestFlow, EntryOrderWaitsUntilThePriceCrossesItsRate)
{
    login();
    const double ask = offerCell("Ask");
    IK7RValueMap* map = factory->createValueMap();
    for (auto [p, v] : with(P::OrderType, "LE"))
        map->setString(p, v);
    map->setInt(P::Amount, 1000);
    map->setDouble(P::Rate, ask - 0.0010);  // a buy limit below the market
    const std::string id = send(factory->createOrderRequest(map));
    map->release();
    pass(1000);
    std::vector<std::string> placed = events.take();
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[0], "done:" + id + ":8");
    EXPECT_EQ(placed[1], "tu:I2");
    EXPECT_EQ(manager->getTable(K7RTable::Orders)->size(), 1) << "the order waits";

    // The server's price falls through the rate: the order fills at the new ask.
    sim::world().dispatcher().post([ask] { sim::velvix::movePrice("1", ask - 0.0020, ask - 0.0018); });
    pass(300);
    EXPECT_EQ(events.take(), (std::vector<std::string>{"tu:I3,D2,U1,I6"}));
    auto* trade = dynamic_cast<IK7RTradeRow*>(row(K7RTable::Trades, 0));
    EXPECT_DOUBLE_EQ(trade->getOpenRate(), ask - 0.0018);
    trade->release();
}

TEST_F(SimRequestFlow, RefreshesReadAsGenericReadersOfPlainRows)
{
    login();
    struct Case
    {
        IK7RRequest* request;
        int responseType;
        K7RTable table;
        IK7RGenericTableResponseReader* (IK7RResponseReaderFactory::*create)(IK7RResponse*);
    };
    const std::vector<Case> cases{
        {factory->createRefreshTableRequest(K7RTable::Offers), 3, K7RTable::Offers,
         &IK7RResponseReaderFactory::createOffersTableReader},
        {factory->createRefreshTableRequest(K7RTable::Accounts), 2, K7RTable::Accounts,
         &IK7RResponseReaderFactory::createAccountsTableReader},
        {factory->createRefreshTableRequestByAccount(K7RTable::Messages, market::DemoAccountId), 7,
         K7RTable::Messages, &IK7RResponseReaderFactory::createMessagesTableReader},
    };
    for (const Case& c : cases)
    {
        const std::string id = send(c.request);
        flush();
        EXPECT_EQ(events.take(), std::vector<std::string>{"done:" + id + ":" + std::to_string(c.responseType)});
        IK7RGenericTableResponseReader* reader = (readers->*c.create)(probe.last());
        ASSERT_NE(reader, nullptr) << id;
        EXPECT_EQ(reader->getType(), c.table);
        IK7RTable* live = manager->getTable(c.table);
        ASSERT_EQ(reader->size(), live->size());
        IK7RRow* first = reader->getRow(0);
        IK7RTableColumnCollection* columns = first->getColumns();
        IK7RTableColumnCollection* liveColumns = live->getColumns();
        EXPECT_LE(columns->size(), liveColumns->size()) << "plain rows carry the first group of columns only";
        EXPECT_EQ(dynamic_cast<IK7ROfferTableRow*>(first) || dynamic_cast<IK7RAccountTableRow*>(first) ||
                      dynamic_cast<IK7RMessageTableRow*>(first),
                  false)
            << "plain rows, not table rows";
        EXPECT_EQ(first->getTableType(), c.table);
        EXPECT_TRUE(reader->isCellValid(0, 0));
        EXPECT_FALSE(reader->isCellValid(reader->size(), 0));
        EXPECT_EQ(reader->getRow(reader->size()), nullptr);
        columns->release();
        liveColumns->release();
        first->release();
        reader->release();
    }
    // A refresh of an account the server does not know fails.
    const std::string id = send(factory->createRefreshTableRequestByAccount(K7RTable::Trades, "nobody"));
    flush();
    EXPECT_EQ(events.take(), std::vector<std::string>{"fail:" + id + ":Unknown account 'nobody'"});
}

TEST_F(SimRequestFlow, SnapshotsComeFromTheHistoryGenerator)
{
    login(false);
    IK7RTimeframeCollection* frames = factory->getTimeframeCollection();
    for (const char* frame : {"H1", "t1"})
    {
        IK7RTimeframe* tf = frames->getById(frame);
        IK7RRequest* request = factory->createMarketDataSnapshotRequestInstrument("EUR/USD", tf, 5);
        tf->release();
        ASSERT_TRUE(factory->fillMarketDataSnapshotRequestTime(request, 0, 0, false,
                                                               K7RCandleOpenPriceMode::PreviousClose));
        const std::string id = send(request);
        flush();
        EXPECT_EQ(events.take(), std::vector<std::string>{"done:" + id + ":1"});
        IK7RMarketDataSnapshotResponseReader* reader = readers->createMarketDataSnapshotReader(probe.last());
        ASSERT_NE(reader, nullptr);
        const bool bars = std::string(frame) == "H1";
        EXPECT_EQ(reader->isBar(), bars);
        ASSERT_EQ(reader->size(), 5);
        const auto expected = sim::history::bars(
            "EUR/USD", sim::history::Frame{bars ? K7RTimeframeUnit::Hour : K7RTimeframeUnit::Tick, 1}, 0, 0, 5,
            sim::world().clock().nowMs());
        for (int i = 0; i < 5; ++i)
        {
            EXPECT_EQ(reader->getDate(i), expected.items[static_cast<std::size_t>(i)].date) << frame;
            EXPECT_EQ(reader->getBidClose(i), expected.items[static_cast<std::size_t>(i)].bidClose) << frame;
        }
        if (bars)
        {
            EXPECT_EQ(reader->getBidClose(4), sim::history::bidAt("EUR/USD", sim::world().clock().nowMs()))
                << "the running bar ends at the live price";
        }
        reader->release();
    }
    frames->release();
}

TEST_F(SimRequestFlow, RequestsFailUntilLoggedInAndHeldOnesWaitForTheirScript)
{
    const std::string early = send(factory->createRefreshTableRequest(K7RTable::Offers));
    flush();
    EXPECT_EQ(events.take(),
              std::vector<std::string>{"fail:" + early + ":The session is not connected to the trading server"});

    login();
    sim::velvix::RequestServer::instance().hold(true);
    const std::string held = send(factory->createRefreshTableRequest(K7RTable::Offers));
    pass(200);
    EXPECT_TRUE(events.take().empty());
    EXPECT_EQ(sim::world().registry().live("IK7RRequest"), before[0] + 1) << "the desk keeps the request";
    ASSERT_TRUE(sim::velvix::RequestServer::instance().complete(held));
    flush();
    EXPECT_EQ(events.take(), std::vector<std::string>{"done:" + held + ":3"});
    EXPECT_FALSE(sim::velvix::RequestServer::instance().complete(held));
}

}  // namespace
