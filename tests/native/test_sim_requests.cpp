// Tests of the simulated server's request pieces that need no session: timeframes, value maps,
// the request factory and its ids, the price-history generator, responses and their readers, and
// the reference counts they leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "velvix/Velvix.h"

#include "core/OleDate.h"
#include "core/World.h"
#include "velvix/History.h"
#include "velvix/Market.h"
#include "velvix/MarketData.h"
#include "velvix/Readers.h"
#include "velvix/RequestServer.h"
#include "velvix/Requests.h"
#include "velvix/Responses.h"
#include "velvix/SystemProperties.h"
#include "velvix/Timeframes.h"
#include "velvix/ValueMaps.h"

namespace
{

using namespace sim::velvix;
using sim::history::Bar;
using sim::history::Frame;
using U = K7RTimeframeUnit;

constexpr const char* Kinds[] = {"IK7RRequest",          "IK7RValueMap",
                                 "IK7RResponse",         "IK7RTimeframe",
                                 "IK7RTimeframeCollection", "IK7RMarketDataSnapshotResponseReader",
                                 "IK7RGenericTableResponseReader", "IK7ROrderResponseReader",
                                 "IK7RTablesUpdatesReader", "IK7RRequestFactory",
                                 "IK7RResponseReaderFactory", "IK7RSystemPropertiesReader",
                                 "IK7RMarketDataResponseReader", "IK7RLevel2MarketDataUpdatesReader"};

// Every test ends with the live counts it started with: nothing it made is left referenced.
class SimRequests : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        for (const char* k : Kinds)
            before.push_back(sim::world().registry().live(k));
        factory = sim::make<RequestFactory>(0).detach();
        readers = sim::make<ResponseReaderFactory>().detach();
    }
    void TearDown() override
    {
        factory->release();
        readers->release();
        sim::world().reset();
        for (std::size_t i = 0; i < std::size(Kinds); ++i)
            EXPECT_EQ(sim::world().registry().live(Kinds[i]), before[i]) << Kinds[i] << " left alive";
    }

    IK7RTimeframe* timeframe(const char* id)
    {
        IK7RTimeframeCollection* all = factory->getTimeframeCollection();
        IK7RTimeframe* t = all->getById(id);
        all->release();
        return t;
    }

    std::vector<std::int64_t> before;
    IK7RRequestFactory* factory = nullptr;
    IK7RResponseReaderFactory* readers = nullptr;
};

// --- timeframes ------------------------------------------------------------------------------

TEST_F(SimRequests, TimeframeCollectionHoldsTheServersSetInOrder)
{
    struct Expected
    {
        const char* id;
        U unit;
        int size;
    };
    const std::vector<Expected> expected{
        {"t1", U::Tick, 1}, {"m1", U::Min, 1},   {"m5", U::Min, 5},   {"m15", U::Min, 15}, {"m30", U::Min, 30},
        {"H1", U::Hour, 1}, {"H2", U::Hour, 2},  {"H3", U::Hour, 3},  {"H4", U::Hour, 4},  {"H6", U::Hour, 6},
        {"H8", U::Hour, 8}, {"D1", U::Day, 1},   {"W1", U::Week, 1},  {"M1", U::Month, 1}};
    IK7RTimeframeCollection* all = factory->getTimeframeCollection();
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(all->size(), static_cast<int>(expected.size()));
    for (int i = 0; i < all->size(); ++i)
    {
        IK7RTimeframe* t = all->get(i);
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t->getId(), expected[i].id);
        EXPECT_EQ(t->getUnit(), expected[i].unit) << expected[i].id;
        EXPECT_EQ(t->getSize(), expected[i].size) << expected[i].id;
        EXPECT_GT(t->getQueryDepth(), 0) << expected[i].id;
        IK7RTimeframe* same = all->getById(expected[i].id);
        EXPECT_EQ(same, t);
        same->release();
        t->release();
    }
    EXPECT_EQ(all->get(-1), nullptr);
    EXPECT_EQ(all->get(all->size()), nullptr);
    EXPECT_EQ(all->getById("m2"), nullptr);
    EXPECT_EQ(all->getById(nullptr), nullptr);

    // A timeframe outlives its collection.
    IK7RTimeframe* kept = all->get(5);
    all->release();
    EXPECT_STREQ(kept->getId(), "H1");
    kept->release();
}

TEST_F(SimRequests, ScriptedTimeframesMayRepeatAndResetRestoresTheSet)
{
    scriptTimeframes(std::vector<TimeframeSpec>{{"m1", U::Min, 1, 10}, {"m1", U::Min, 2, 20}});
    IK7RTimeframeCollection* all = factory->getTimeframeCollection();
    ASSERT_EQ(all->size(), 2);
    IK7RTimeframe* first = all->getById("m1");
    EXPECT_EQ(first->getQueryDepth(), 10);
    first->release();
    all->release();
    sim::world().reset();
    all = factory->getTimeframeCollection();
    EXPECT_EQ(all->size(), 14);
    all->release();
}

// --- value maps ------------------------------------------------------------------------------

TEST_F(SimRequests, ValueMapKeepsTypedValuesAndDeepClones)
{
    IK7RValueMap* map = factory->createValueMap();
    IK7RValueMap* child = factory->createValueMap();
    map->setString(K7RRequestParamsEnum::Command, "CreateOrder");
    map->setString(K7RRequestParamsEnum::CustomId, nullptr);
    map->setInt(K7RRequestParamsEnum::Amount, 1000);
    map->setDouble(K7RRequestParamsEnum::Rate, 1.25);
    map->setBoolean(K7RRequestParamsEnum::AutoLimit, true);
    child->setString(K7RRequestParamsEnum::OrderType, "SE");
    map->appendChild(child);
    EXPECT_EQ(dynamic_cast<sim::Registered*>(child)->simRefCount(), 2) << "the parent keeps its own reference";

    IK7RValueMap* copy = map->clone();
    child->setString(K7RRequestParamsEnum::OrderType, "LE");  // after the clone: the copy keeps "SE"
    MapContents c = contentsOf(copy);
    EXPECT_EQ(c.params.at(1), sim::Value(std::string("CreateOrder")));
    EXPECT_EQ(c.params.at(13), sim::Value()) << "a null text stays null";
    EXPECT_EQ(c.params.at(6), sim::Value(std::int64_t{1000}));
    EXPECT_EQ(c.params.at(7), sim::Value(1.25));
    EXPECT_EQ(c.params.at(47), sim::Value(true));
    ASSERT_EQ(c.children.size(), 1u);
    EXPECT_EQ(c.children[0].params.at(22), sim::Value(std::string("SE")));
    EXPECT_EQ(contentsOf(map).children[0].params.at(22), sim::Value(std::string("LE")));

    EXPECT_EQ(map->getChildrenCount(), 1);
    IK7RValueMap* got = map->getChild(0);
    EXPECT_EQ(got, child);
    got->release();
    EXPECT_EQ(map->getChild(1), nullptr);
    EXPECT_EQ(map->getChild(-1), nullptr);

    map->appendChild(map);  // would hold itself: ignored
    child->appendChild(map);  // a cycle through the child: ignored
    EXPECT_EQ(map->getChildrenCount(), 1);
    EXPECT_EQ(child->getChildrenCount(), 0);

    map->clear();
    EXPECT_EQ(map->getChildrenCount(), 0);
    EXPECT_TRUE(contentsOf(map).params.empty());
    EXPECT_EQ(dynamic_cast<sim::Registered*>(child)->simRefCount(), 1);
    for (IK7RValueMap* m : {map, child, copy})
        m->release();
}

// --- the request factory ---------------------------------------------------------------------

struct OrderCase
{
    const char* what;
    std::vector<std::pair<K7RRequestParamsEnum, const char*>> texts;
    bool made;
};

class SimOrderRequests : public SimRequests, public testing::WithParamInterface<OrderCase>
{
};

TEST_P(SimOrderRequests, NullOnlyWithoutCommand)
{
    const OrderCase& c = GetParam();
    IK7RValueMap* map = factory->createValueMap();
    for (const auto& [param, value] : c.texts)
        map->setString(param, value);
    IK7RRequest* request = factory->createOrderRequest(map);
    EXPECT_EQ(request != nullptr, c.made) << c.what;
    if (request)
    {
        EXPECT_STREQ(factory->getLastError(), "") << c.what;
        request->release();
    }
    else
    {
        EXPECT_STRNE(factory->getLastError(), "") << c.what << ": the factory tells why";
    }
    map->release();
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimOrderRequests,
    testing::Values(OrderCase{"empty map", {}, false},
                    OrderCase{"everything but a command",
                              {{K7RRequestParamsEnum::OrderType, "OM"}, {K7RRequestParamsEnum::OfferId, "1"}},
                              false},
                    OrderCase{"a command alone", {{K7RRequestParamsEnum::Command, "CreateOrder"}}, true},
                    OrderCase{"an unknown command: the server judges it", {{K7RRequestParamsEnum::Command, "Nope"}}, true},
                    OrderCase{"a null command is still a command", {{K7RRequestParamsEnum::Command, nullptr}}, true}));

TEST_F(SimRequests, ChildrenBecomeChildRequestsAndIdsAreUnique)
{
    IK7RValueMap* parent = factory->createValueMap();
    parent->setString(K7RRequestParamsEnum::Command, "CreateOCO");
    for (const char* type : {"SE", "LE"})
    {
        IK7RValueMap* child = factory->createValueMap();
        child->setString(K7RRequestParamsEnum::Command, "CreateOrder");
        child->setString(K7RRequestParamsEnum::OrderType, type);
        parent->appendChild(child);
        child->release();
    }
    IK7RRequest* request = factory->createOrderRequest(parent);
    parent->release();
    ASSERT_NE(request, nullptr);
    ASSERT_EQ(request->getChildrenCount(), 2);
    EXPECT_EQ(request->getChildRequest(2), nullptr);
    EXPECT_EQ(request->getChildRequest(-1), nullptr);

    std::set<std::string> ids{request->getRequestId()};
    for (int i = 0; i < 2; ++i)
    {
        IK7RRequest* child = request->getChildRequest(i);
        ids.insert(child->getRequestId());
        EXPECT_EQ(dynamic_cast<Request*>(child)->params.params.at(22),
                  sim::Value(std::string(i == 0 ? "SE" : "LE")));
        child->release();
    }
    // Other factories, other sessions: still new ids.
    IK7RRequestFactory* other = sim::make<RequestFactory>(7).detach();
    std::vector<IK7RRequest*> more;
    for (int i = 0; i < 50; ++i)
        more.push_back((i % 2 ? factory : other)->createRefreshTableRequest(K7RTable::Offers));
    for (IK7RRequest* r : more)
    {
        ids.insert(r->getRequestId());
        r->release();
    }
    other->release();
    EXPECT_EQ(ids.size(), 53u);
    request->release();
}

TEST_F(SimRequests, CreatorsGiveNullWithAReasonWhereTheyCannotBuild)
{
    IK7RTimeframe* m1 = timeframe("m1");
    struct Case
    {
        const char* what;
        std::function<IK7RRequest*()> make;
    };
    const std::vector<Case> cases{
        {"unknown instrument", [&] { return factory->createMarketDataSnapshotRequestInstrument("ABC/XYZ", m1, 10); }},
        {"null instrument", [&] { return factory->createMarketDataSnapshotRequestInstrument(nullptr, m1, 10); }},
        {"null timeframe", [&] { return factory->createMarketDataSnapshotRequestInstrument("EUR/USD", nullptr, 10); }},
        {"summary refresh", [&] { return factory->createRefreshTableRequest(K7RTable::Summary); }},
        {"table out of range", [&] { return factory->createRefreshTableRequest(static_cast<K7RTable>(7)); }},
        {"null account", [&] { return factory->createRefreshTableRequestByAccount(K7RTable::Trades, nullptr); }},
        {"null message", [&] { return factory->createConfirmationMailRequest(nullptr); }},
        {"null value map", [&] { return factory->createOrderRequest(nullptr); }},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(c.make(), nullptr) << c.what;
        EXPECT_STRNE(factory->getLastError(), "") << c.what;
    }
    EXPECT_STREQ((factory->createMarketDataSnapshotRequestInstrument("ABC/XYZ", m1, 1), factory->getLastError()),
                 "Unknown instrument 'ABC/XYZ'");

    // A scripted null carries the scripted reason.
    RequestServer::instance().scriptError(std::string("server busy"));
    sim::world().faults().arm("IK7RRequestFactory::createRefreshTableRequest", sim::FaultKind::Null);
    EXPECT_EQ(factory->createRefreshTableRequest(K7RTable::Offers), nullptr);
    EXPECT_STREQ(factory->getLastError(), "server busy");

    // fill on a request that is no snapshot is refused.
    IK7RRequest* refresh = factory->createRefreshTableRequest(K7RTable::Offers);
    EXPECT_FALSE(factory->fillMarketDataSnapshotRequestTime(refresh, 0, 0, false, K7RCandleOpenPriceMode::PreviousClose));
    refresh->release();
    m1->release();
}

TEST_F(SimRequests, SnapshotRequestAndFillAreJournaled)
{
    IK7RTimeframe* h1 = timeframe("H1");
    sim::world().journal().clear();
    IK7RRequest* request = factory->createMarketDataSnapshotRequestInstrument("EUR/USD", h1, 300);
    ASSERT_NE(request, nullptr);
    EXPECT_TRUE(factory->fillMarketDataSnapshotRequestTime(request, 45000.5, 45001.0, true,
                                                           K7RCandleOpenPriceMode::FirstTick));
    auto create = sim::world().journal().entries("IK7RRequestFactory::createMarketDataSnapshotRequestInstrument");
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0].args, (sim::Values{std::string("EUR/USD"), std::string("H1"), std::int64_t{300}}));
    auto fill = sim::world().journal().entries("IK7RRequestFactory::fillMarketDataSnapshotRequestTime");
    ASSERT_EQ(fill.size(), 1u);
    EXPECT_EQ(fill[0].args, (sim::Values{45000.5, 45001.0, true, std::int64_t{1}}));
    const SnapshotQuery q = dynamic_cast<Request*>(request)->snapshot();
    EXPECT_EQ(q.from, 45000.5);
    EXPECT_EQ(q.to, 45001.0);
    request->release();
    h1->release();
}

// --- the price-history generator -------------------------------------------------------------

// A fixed "now" in the past keeps the figures independent of the day the tests run.
const std::int64_t Now = 1717243200000 + 1234567;  // 2024-06-01 12:20:34.567 UTC

std::int64_t secondsOf(double ole)
{
    return sim::ole::toUnixMsRounded(ole) / 1000;
}

void expectWellFormed(const sim::history::Series& s, Frame frame, const std::string& what)
{
    for (std::size_t i = 0; i < s.items.size(); ++i)
    {
        const Bar& b = s.items[i];
        SCOPED_TRACE(what + " item " + std::to_string(i));
        if (s.isBar)
        {
            EXPECT_EQ(sim::history::alignDown(frame, secondsOf(b.date)), secondsOf(b.date)) << "aligned";
        }
        if (i > 0)
        {
            EXPECT_LT(s.items[i - 1].date, b.date) << "ascending";
        }
        for (auto [open, high, low, close] : {std::tuple{b.bidOpen, b.bidHigh, b.bidLow, b.bidClose},
                                              std::tuple{b.askOpen, b.askHigh, b.askLow, b.askClose}})
        {
            EXPECT_LE(low, std::min(open, close));
            EXPECT_GE(high, std::max(open, close));
            EXPECT_GT(low, 0.0);
        }
        EXPECT_LT(b.bidOpen, b.askOpen);
        EXPECT_LT(b.bidHigh, b.askHigh);
        EXPECT_LT(b.bidLow, b.askLow);
        EXPECT_LT(b.bidClose, b.askClose);
        EXPECT_GT(b.volume, 0);
        EXPECT_LE(sim::ole::toUnixMsRounded(b.date), Now) << "nothing from the future";
    }
}

class SimHistoryFrames : public testing::TestWithParam<TimeframeSpec>
{
};

TEST_P(SimHistoryFrames, BarsAreDeterministicAlignedAndConsistent)
{
    const TimeframeSpec& spec = GetParam();
    const Frame frame{spec.unit, spec.size};
    for (const std::string& name : sim::history::instruments())
    {
        const auto a = sim::history::bars(name, frame, 0, 0, 40, Now);
        EXPECT_EQ(a.isBar, spec.unit != U::Tick);
        ASSERT_EQ(a.items.size(), 40u) << spec.id << " " << name;
        expectWellFormed(a, frame, spec.id + " " + name);

        // The same query later gives the same bars, and a shorter one gives their tail.
        const auto b = sim::history::bars(name, frame, 0, 0, 40, Now);
        const auto tail = sim::history::bars(name, frame, 0, 0, 10, Now);
        for (std::size_t i = 0; i < 40; ++i)
        {
            EXPECT_EQ(a.items[i].bidClose, b.items[i].bidClose);
        }
        for (std::size_t i = 0; i < 10; ++i)
        {
            EXPECT_EQ(tail.items[i].date, a.items[30 + i].date);
        }
        for (std::size_t i = 1; a.isBar && i < 40; ++i)
        {
            EXPECT_EQ(a.items[i].bidOpen, a.items[i - 1].bidClose) << "a bar opens at the last close";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SimHistoryFrames, testing::ValuesIn(serverTimeframes()),
                         [](const testing::TestParamInfo<TimeframeSpec>& p) { return p.param.id; });

TEST(SimHistory, RangesCountsAndLimits)
{
    const Frame h1{U::Hour, 1};
    double from = 0, to = 0;
    sim::ole::fromFields(2024, 5, 30, 10, 30, 0, from);
    sim::ole::fromFields(2024, 5, 30, 20, 0, 0, to);

    // The bar holding the start comes first; the bar starting at the end is the last.
    auto range = sim::history::bars("EUR/USD", h1, from, to, 0, Now);
    ASSERT_EQ(range.items.size(), 11u);
    double first = 0, last = 0;
    sim::ole::fromFields(2024, 5, 30, 10, 0, 0, first);
    sim::ole::fromFields(2024, 5, 30, 20, 0, 0, last);
    EXPECT_NEAR(range.items.front().date, first, 1e-9);
    EXPECT_NEAR(range.items.back().date, last, 1e-9);

    // A count keeps the latest ones; the same bars as within the longer answer.
    auto capped = sim::history::bars("EUR/USD", h1, from, to, 3, Now);
    ASSERT_EQ(capped.items.size(), 3u);
    EXPECT_EQ(capped.items[0].date, range.items[8].date);
    EXPECT_EQ(capped.items[0].bidHigh, range.items[8].bidHigh);

    // From the start with no end: up to now, the running bar closing at the quote of now.
    auto open = sim::history::bars("EUR/USD", h1, from, 0, 0, Now);
    EXPECT_EQ(secondsOf(open.items.back().date), sim::history::alignDown(h1, Now / 1000));
    EXPECT_EQ(open.items.back().bidClose, sim::history::bidAt("EUR/USD", Now));

    // An end in the future stops at now; a start after the end gives nothing.
    auto future = sim::history::bars("EUR/USD", h1, 0, to + 365, 5, Now);
    EXPECT_EQ(future.items.back().date, open.items.back().date);
    EXPECT_TRUE(sim::history::bars("EUR/USD", h1, to, from, 0, Now).items.empty());
    EXPECT_TRUE(sim::history::bars("NOPE", h1, 0, 0, 5, Now).items.empty());
    EXPECT_EQ(sim::history::bars("EUR/USD", h1, 0, 0, 0, Now).items.size(),
              static_cast<std::size_t>(sim::history::DefaultCount));

    // Ticks between two moments: at most one a second, inside the range at the seconds they
    // read at (a tick half a second before the start reads as the start).
    double tickTo = 0;
    sim::ole::fromFields(2024, 5, 30, 10, 31, 0, tickTo);
    auto ticks = sim::history::bars("USD/JPY", Frame{U::Tick, 1}, from, tickTo, 0, Now);
    EXPECT_FALSE(ticks.isBar);
    EXPECT_GT(ticks.items.size(), 20u);
    EXPECT_LE(ticks.items.size(), 61u);
    EXPECT_GE(sim::ole::toUnixMsRounded(ticks.items.front().date), sim::ole::toUnixMsRounded(from) - 500);
    EXPECT_LT(sim::ole::toUnixMsRounded(ticks.items.back().date), sim::ole::toUnixMsRounded(tickTo) + 500);
}

TEST(SimHistory, WeeksAndMonthsAlignOnCalendarBoundaries)
{
    double ole = 0;
    sim::ole::fromFields(2024, 6, 12, 15, 45, 10, ole);  // a Wednesday
    const std::int64_t t = sim::ole::toUnixMsRounded(ole) / 1000;
    double sunday = 0, june = 0, july = 0, h8 = 0;
    sim::ole::fromFields(2024, 6, 9, 0, 0, 0, sunday);
    sim::ole::fromFields(2024, 6, 1, 0, 0, 0, june);
    sim::ole::fromFields(2024, 7, 1, 0, 0, 0, july);
    sim::ole::fromFields(2024, 6, 12, 8, 0, 0, h8);
    EXPECT_EQ(sim::history::alignDown(Frame{U::Week, 1}, t), secondsOf(sunday));
    EXPECT_EQ(sim::history::alignDown(Frame{U::Month, 1}, t), secondsOf(june));
    EXPECT_EQ(sim::history::nextStart(Frame{U::Month, 1}, secondsOf(june)), secondsOf(july));
    EXPECT_EQ(sim::history::alignDown(Frame{U::Hour, 8}, t), secondsOf(h8));
}

// --- responses and readers -------------------------------------------------------------------

TEST_F(SimRequests, SnapshotReaderIsRangeChecked)
{
    ResponseContent content;
    content.snapshot = std::make_shared<const sim::history::Series>(
        sim::history::bars("EUR/USD", Frame{U::Min, 1}, 0, 0, 3, Now));
    IK7RResponse* response = sim::make<Response>(1, std::string("42"), content).detach();
    IK7RMarketDataSnapshotResponseReader* reader = readers->createMarketDataSnapshotReader(response);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(reader->isBar());
    ASSERT_EQ(reader->size(), 3);
    EXPECT_EQ(reader->getBid(2), content.snapshot->items[2].bidClose);
    EXPECT_EQ(reader->getLastBarTime(), reader->getDate(2));
    EXPECT_EQ(reader->getLastBarVolume(), reader->getVolume(2));
    for (int i : {-1, 3, 1 << 30})
    {
        EXPECT_EQ(reader->getDate(i), 0.0) << i;
        EXPECT_EQ(reader->getAskHigh(i), 0.0) << i;
        EXPECT_EQ(reader->getVolume(i), 0) << i;
    }
    // Other creators give null for a snapshot response.
    EXPECT_EQ(readers->createOffersTableReader(response), nullptr);
    EXPECT_EQ(readers->createOrderResponseReader(response), nullptr);
    EXPECT_FALSE(readers->processMarginRequirementsResponse(response));
    reader->release();
    response->release();

    IK7RResponse* empty = sim::make<Response>(1, std::nullopt).detach();
    EXPECT_EQ(empty->getRequestId(), nullptr);
    reader = readers->createMarketDataSnapshotReader(empty);
    EXPECT_EQ(reader->size(), 0);
    EXPECT_EQ(reader->getLastBarTime(), 0.0);
    EXPECT_EQ(reader->getLastBarVolume(), 0);
    reader->release();
    empty->release();
}

TEST_F(SimRequests, ReaderFactoryNullsOnScriptAndMarginResult)
{
    ResponseContent content;
    content.nullReaders.insert("createMarketDataSnapshotReader");
    IK7RResponse* scripted = sim::make<Response>(1, std::string("1"), content).detach();
    EXPECT_EQ(readers->createMarketDataSnapshotReader(scripted), nullptr);
    scripted->release();

    IK7RResponse* plain = sim::make<Response>(1, std::string("1")).detach();
    sim::world().faults().arm("IK7RResponseReaderFactory::createMarketDataSnapshotReader", sim::FaultKind::Null);
    EXPECT_EQ(readers->createMarketDataSnapshotReader(plain), nullptr);
    IK7RMarketDataSnapshotResponseReader* again = readers->createMarketDataSnapshotReader(plain);
    EXPECT_NE(again, nullptr) << "the fault fired once";
    again->release();
    plain->release();
    EXPECT_EQ(readers->createMarketDataSnapshotReader(nullptr), nullptr);

    ResponseContent margin;
    margin.marginResult = true;
    IK7RResponse* m = sim::make<Response>(11, std::nullopt, margin).detach();
    EXPECT_TRUE(readers->processMarginRequirementsResponse(m));
    m->release();

    // Types outside the enum are kept as crafted.
    IK7RResponse* odd = sim::make<Response>(15, std::nullopt).detach();
    EXPECT_EQ(static_cast<int>(odd->getType()), 15);
    odd->release();

    IK7RResponse* order = sim::make<Response>(8, std::string("5")).detach();
    order->release();
}

TEST_F(SimRequests, SystemPropertiesResponsesCarryTheServersSetAsItWasWhenMade)
{
    const auto property = [](IK7RSystemPropertiesReader* reader, int index) {
        const char* value = "not written";
        const char* name = reader->getProperty(index, value);
        return std::make_pair(name ? std::string(name) : "(null)", value ? std::string(value) : "(null)");
    };
    using Pair = std::pair<std::string, std::string>;

    sim::Ref<Response> first = systemPropertiesResponse(std::string("7"));
    IK7RSystemPropertiesReader* reader = readers->createSystemPropertiesReader(first.get());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(static_cast<std::size_t>(reader->size()), sim::demoSystemProperties().size());
    EXPECT_EQ(property(reader, 0), Pair("BASE_CRNCY", "USD"));
    EXPECT_STREQ(reader->findProperty("SupportTickVolume"), "Y");
    EXPECT_EQ(reader->findProperty("BASE_crncy"), nullptr) << "names compare exactly";
    EXPECT_EQ(reader->findProperty(nullptr), nullptr);
    for (int outside : {-1, reader->size()})
        EXPECT_EQ(property(reader, outside), Pair("(null)", "(null)")) << outside;

    setSystemProperty("BASE_CRNCY", std::string("EUR"));
    setSystemProperty("X_NEW", std::nullopt);
    sim::Ref<Response> after = systemPropertiesResponse(std::nullopt);
    IK7RSystemPropertiesReader* later = readers->createSystemPropertiesReader(after.get());
    EXPECT_STREQ(reader->findProperty("BASE_CRNCY"), "USD") << "a reader keeps what its response was made with";
    EXPECT_STREQ(later->findProperty("BASE_CRNCY"), "EUR");
    EXPECT_EQ(later->size(), reader->size() + 1);
    EXPECT_EQ(property(later, later->size() - 1), Pair("X_NEW", "(null)"));
    EXPECT_EQ(readers->createOrderResponseReader(after.get()), nullptr);
    reader->release();
    later->release();

    sim::world().reset();
    EXPECT_EQ(systemProperty("X_NEW"), std::nullopt);
    EXPECT_EQ(systemProperty("BASE_CRNCY"), sim::Text("USD"));
}

// Without a table manager the market's quote of the moment stands for the live price.
TEST_F(SimRequests, MarketDataAndBookFollowTheLiveQuoteOfEveryInstrument)
{
    for (const sim::velvix::market::Instrument& in : sim::velvix::market::instruments())
    {
        SCOPED_TRACE(in.symbol);
        LiveQuote quote;
        ASSERT_TRUE(liveQuote(nullptr, in.offerId, Now, quote));
        ASSERT_LT(quote.bid, quote.ask);
        EXPECT_LE(quote.low, quote.bid);
        EXPECT_GE(quote.high, quote.bid);

        const MarketDataMessage m = marketDataMessage(quote, "7");
        EXPECT_EQ(m.instrument, sim::Text(in.symbol));
        EXPECT_EQ(m.bidClose, quote.bid);
        EXPECT_EQ(m.askClose, quote.ask);
        EXPECT_LE(m.bidLow, std::min(m.bidOpen, m.bidClose));
        EXPECT_GE(m.bidHigh, std::max(m.bidOpen, m.bidClose));
        EXPECT_LE(m.askLow, std::min(m.askOpen, m.askClose));
        EXPECT_GE(m.askHigh, std::max(m.askOpen, m.askClose));
        EXPECT_LE(m.low, m.bidLow);
        EXPECT_GE(m.high, m.bidHigh);
        EXPECT_EQ(m.tradingSessionId, std::nullopt) << "no value: null, not empty";

        const Level2Quote book = level2Update(quote);
        std::vector<double> bids, asks;
        for (const Level2Price& p : book.prices)
        {
            if (p.bid)
                bids.push_back(p.rate);
            if (p.ask)
                asks.push_back(p.rate);
        }
        ASSERT_GE(bids.size(), 3u);
        ASSERT_GE(asks.size(), 3u);
        EXPECT_EQ(bids.front(), quote.bid) << "best first";
        EXPECT_EQ(asks.front(), quote.ask);
        EXPECT_TRUE(std::is_sorted(bids.rbegin(), bids.rend()));
        EXPECT_TRUE(std::is_sorted(asks.begin(), asks.end()));
        EXPECT_EQ(std::adjacent_find(bids.begin(), bids.end()), bids.end()) << "distinct levels";
    }
    LiveQuote none;
    EXPECT_FALSE(liveQuote(nullptr, "999", Now, none));
}

}  // namespace
