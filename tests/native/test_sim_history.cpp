// Tests of the simulated historical-price and quotes-cache libraries: a communicator's readiness,
// every report reaching every listener once, held requests ended in any order, the generator's
// bars behind the responses, the update task's one report on the cache's own thread, and the
// references left once everything is dropped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plenta/Plenta.h"

#include "core/World.h"
#include "plenta/Communicator.h"
#include "velvix/History.h"
#include "velvix/Market.h"
#include "zorvat/QuotesCache.h"

namespace
{

class Log
{
public:
    void add(std::string e)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
        cv_.notify_all();
    }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(events_, {});
    }
    bool waitFor(std::size_t n, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return events_.size() >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> events_;
};

// "<name>:done:<instrument>:<bars>", "<name>:fail:<code|null>", "<name>:cancel:<instrument>".
class Listener final : public plenta::IPlentaCommunicatorListener
{
public:
    Listener(Log& l, std::string n) : log(l), name(std::move(n)) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onRequestCompleted(plenta::IPlentaCommunicatorRequest* r, plenta::IPlentaCommunicatorResponse* resp) override
    {
        std::string bars = "null";
        if (resp)
        {
            IK7RMarketDataSnapshotResponseReader* reader = comm->createResponseReader(resp, nullptr);
            bars = std::to_string(reader->size());
            reader->release();
        }
        log.add(name + ":done:" + r->getInstrument() + ":" + bars);
    }
    void onRequestFailed(plenta::IPlentaCommunicatorRequest*, plenta::IError* e) override
    {
        log.add(name + ":fail:" + (e ? std::to_string(static_cast<int>(e->getCode())) : "null"));
    }
    void onRequestCancelled(plenta::IPlentaCommunicatorRequest* r) override
    {
        log.add(name + ":cancel:" + r->getInstrument());
    }
    Log& log;
    std::string name;
    plenta::IPlentaCommunicator* comm = nullptr;
    std::atomic<int> refs{1};
};

class StatusListener final : public plenta::IPlentaCommunicatorStatusListener
{
public:
    explicit StatusListener(Log& l) : log(l) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onCommunicatorStatusChanged(bool ready) override { log.add(ready ? "ready" : "not ready"); }
    void onCommunicatorInitFailed(plenta::IError* e) override
    {
        log.add("init failed:" + std::to_string(static_cast<int>(e->getCode())));
    }
    Log& log;
    std::atomic<int> refs{1};
};

class Callback final : public zorvat::IUpdateInstrumentsCallback
{
public:
    explicit Callback(Log& l) : log(l) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onUpdateFailed(zorvat::ITask* task, zorvat::IError* e) override
    {
        report("failed:" + std::to_string(static_cast<int>(e->getCode())) + ":" + std::to_string(e->getSubCode()) +
               (task ? "" : ":no task"));
    }
    void onUpdateCompleted() override { report("completed"); }
    void onUpdateCancelled() override { report("cancelled"); }
    void report(const std::string& what)
    {
        onCacheThread = zorvat_sim::onCacheThread() && !sim::world().dispatcher().onDispatcherThread();
        log.add(what);
    }
    Log& log;
    std::atomic<bool> onCacheThread{false};
    std::atomic<int> refs{1};
};

constexpr const char* Counted[] = {"plenta::IPlentaCommunicator", "plenta::IPlentaCommunicatorRequest",
                                   "plenta::IPlentaCommunicatorResponse", "plenta::ITimeframeFactory",
                                   "plenta::IError", "zorvat::IZorvat", "zorvat::IError", "zorvat::ITask",
                                   "zorvat::IInstrumentList", "zorvat::IInstrument", "zorvat::IStringList",
                                   "IK7RTimeframe", "IK7RMarketDataSnapshotResponseReader"};

class SimPlenta : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        for (const char* k : Counted)
            before.push_back(sim::world().registry().live(k));
        auto s = sim::velvix::market::settings();
        s.ticks = false;
        sim::velvix::market::setSettings(s);
        sim::world().clock().setVirtual();
        session = CK7RTransport::createSession();
    }
    void TearDown() override
    {
        if (comm)
        {
            comm->removeListener(&a);
            comm->removeListener(&b);
            comm->removeStatusListener(&status);
            comm->release();
        }
        session->release();
        ASSERT_TRUE(sim::world().dispatcher().flush(5000));
        sim::world().reset();
        ASSERT_TRUE(sim::world().dispatcher().flush(5000));
        for (std::size_t i = 0; i < std::size(Counted); ++i)
            EXPECT_EQ(sim::world().registry().live(Counted[i]), before[i]) << Counted[i] << " left alive";
        EXPECT_EQ(a.refs, 1);
        EXPECT_EQ(b.refs, 1);
        EXPECT_EQ(status.refs, 1);
    }

    static void pass(int ms)
    {
        for (int t = 0; t < ms; t += 10)
        {
            sim::world().clock().advance(10);
            ASSERT_TRUE(sim::world().dispatcher().flush(5000));
        }
    }
    void login()
    {
        ASSERT_TRUE(session->login("demo", "demo", "https://any.example/", "Demo"));
        pass(200);
    }
    // A communicator with its status listener and listeners a and b; ready when `ready`.
    void open(bool ready = true)
    {
        comm = plenta::PlentaCommunicatorFactory::createCommunicator(session, "", nullptr);
        ASSERT_NE(comm, nullptr);
        a.comm = b.comm = comm;
        comm->addStatusListener(&status);
        comm->addListener(&a);
        comm->addListener(&b);
        if (ready)
        {
            pass(static_cast<int>(plenta_sim::ReadyDelayMs) + 20);
            ASSERT_TRUE(comm->isReady());
            ASSERT_EQ(log.take(), std::vector<std::string>{"ready"});
        }
    }
    IK7RTimeframe* timeframe(const char* id)
    {
        plenta::ITimeframeFactory* f = comm->getTimeframeFactory();
        IK7RTimeframe* t = f->create(id, nullptr);
        f->release();
        return t;
    }
    plenta::IPlentaCommunicatorRequest* request(const char* instrument, const char* tf = "m1", double from = 0.0,
                                                double to = 0.0, int count = 10)
    {
        IK7RTimeframe* t = timeframe(tf);
        plenta::IPlentaCommunicatorRequest* r = comm->createRequest(instrument, t, from, to, count, nullptr);
        t->release();
        return r;
    }
    // Sends and lets go: the library keeps the request until it reported.
    void send(const char* instrument, int count = 10)
    {
        plenta::IPlentaCommunicatorRequest* r = request(instrument, "m1", 0.0, 0.0, count);
        ASSERT_TRUE(comm->sendRequest(r, nullptr));
        r->release();
    }
    static void runOnDispatcher(std::function<void()> job)
    {
        ASSERT_TRUE(job);
        ASSERT_TRUE(sim::world().dispatcher().post(std::move(job)));
        ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    }

    std::vector<std::int64_t> before;
    Log log;
    Listener a{log, "a"}, b{log, "b"};
    StatusListener status{log};
    IK7RSession* session = nullptr;
    plenta::IPlentaCommunicator* comm = nullptr;
};

TEST_F(SimPlenta, ReadyOneStepAfterCreationForALoggedInSession)
{
    login();
    open(false);
    EXPECT_FALSE(comm->isReady());
    plenta::IError* err = nullptr;
    plenta::IPlentaCommunicatorRequest* r = request("EUR/USD");
    EXPECT_FALSE(comm->sendRequest(r, &err)) << "not ready yet";
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->getCode(), plenta::IError::NOT_READY);
    err->release();
    r->release();
    pass(static_cast<int>(plenta_sim::ReadyDelayMs) + 20);
    EXPECT_TRUE(comm->isReady());
    EXPECT_EQ(log.take(), std::vector<std::string>{"ready"});
}

TEST_F(SimPlenta, InitFailsWithNotReadyBeforeLogin)
{
    open(false);
    pass(200);
    EXPECT_FALSE(comm->isReady());
    EXPECT_EQ(log.take(), std::vector<std::string>{"init failed:1"});
}

TEST_F(SimPlenta, CreationErrorsAndScriptsNeverWriteThroughANullErr)
{
    plenta::IError* err = nullptr;
    EXPECT_EQ(plenta::PlentaCommunicatorFactory::createCommunicator(nullptr, "", &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->getCode(), plenta::IError::BAD_ARGUMENTS);
    err->release();
    EXPECT_EQ(plenta::PlentaCommunicatorFactory::createCommunicator(nullptr, "", nullptr), nullptr);
    ASSERT_TRUE(plenta_sim::failNext("createCommunicator", plenta_sim::ErrorSpec{77, std::nullopt, {}}, false));
    EXPECT_EQ(plenta::PlentaCommunicatorFactory::createCommunicator(session, "", nullptr), nullptr);

    login();
    open();
    EXPECT_EQ(comm->createRequest(nullptr, nullptr, 0, 0, 0, nullptr), nullptr);
    EXPECT_FALSE(comm->sendRequest(nullptr, nullptr));
    EXPECT_EQ(comm->createResponseReader(nullptr, nullptr), nullptr);
    plenta::ITimeframeFactory* f = comm->getTimeframeFactory();
    EXPECT_EQ(f->createByUnit(K7RTimeframeUnit::Min, 0, nullptr), nullptr);
    f->release();

    // A scripted sendRequest that succeeds anyway still writes its error, and still reports.
    ASSERT_TRUE(plenta_sim::failNext("sendRequest", plenta_sim::ErrorSpec{3, std::string("odd"), {}}, true));
    plenta::IPlentaCommunicatorRequest* r = request("EUR/USD");
    EXPECT_TRUE(comm->sendRequest(r, &err));
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->getMessage(), "odd");
    err->release();
    r->release();
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    EXPECT_EQ(log.take(), (std::vector<std::string>{"a:done:EUR/USD:10", "b:done:EUR/USD:10"}));
}

TEST_F(SimPlenta, EveryReportReachesEveryListenerOnce)
{
    login();
    open();
    send("EUR/USD", 5);
    send("NOPE/XXX");
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    EXPECT_EQ(log.take(), (std::vector<std::string>{"a:done:EUR/USD:5", "b:done:EUR/USD:5", "a:fail:3", "b:fail:3"}));
    EXPECT_EQ(a.refs, 2);  // the library's own, until removed
    comm->removeListener(&a);
    EXPECT_EQ(a.refs, 1);
    send("USD/JPY", 3);
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    EXPECT_EQ(log.take(), std::vector<std::string>{"b:done:USD/JPY:3"});
}

TEST_F(SimPlenta, HeldRequestsEndInAnyOrderWithOneReportEach)
{
    login();
    open();
    comm->removeListener(&b);
    plenta_sim::hold(true);
    for (const char* i : {"EUR/USD", "USD/JPY", "GBP/USD", "USD/CHF"})
        send(i, 4);
    std::vector<plenta_sim::PendingInfo> p = plenta_sim::pending();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(*p[2].instrument, "GBP/USD");
    EXPECT_EQ(*p[2].timeframe, "m1");
    EXPECT_EQ(p[2].count, 4);
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    EXPECT_TRUE(log.take().empty()) << "nothing is answered while held";

    runOnDispatcher(plenta_sim::takeCancellation(p[2].index));
    runOnDispatcher(plenta_sim::takeFailure(p[0].index, std::nullopt));
    runOnDispatcher(plenta_sim::takeCompletion(p[3].index, true));
    runOnDispatcher(plenta_sim::takeCompletion(p[1].index, false));
    EXPECT_FALSE(plenta_sim::takeCompletion(p[1].index, false)) << "each ends once";
    EXPECT_EQ(log.take(), (std::vector<std::string>{"a:cancel:GBP/USD", "a:fail:null", "a:done:USD/CHF:null",
                                                    "a:done:USD/JPY:4"}));
    EXPECT_TRUE(plenta_sim::pending().empty());
}

TEST_F(SimPlenta, CancelRequestAndResetEndHeldRequestsAsCancellations)
{
    login();
    open();
    comm->removeListener(&b);
    plenta_sim::hold(true);
    plenta::IPlentaCommunicatorRequest* r = request("EUR/USD");
    ASSERT_TRUE(comm->sendRequest(r, nullptr));
    comm->cancelRequest(r);
    r->release();
    send("USD/JPY");
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    EXPECT_EQ(log.take(), std::vector<std::string>{"a:cancel:EUR/USD"});
    sim::world().reset();
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    EXPECT_EQ(log.take(), std::vector<std::string>{"a:cancel:USD/JPY"});
}

TEST_F(SimPlenta, AnAnswerDroppedAtFinializeReportsAFailure)
{
    login();
    open();
    comm->removeListener(&b);
    // A job ahead of the answer keeps the dispatcher busy until finialize has dropped the answer
    // (the queue is dropped as the dispatcher turns stopped).
    ASSERT_TRUE(sim::world().dispatcher().post([] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!sim::world().dispatcher().stopped() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }));
    send("EUR/USD");
    CK7RTransport::finialize();
    EXPECT_TRUE(log.waitFor(1));
    EXPECT_EQ(log.take(), std::vector<std::string>{"a:fail:1"});  // NOT_READY
    // The reporting thread lets go of the request just after its call.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sim::world().registry().live("plenta::IPlentaCommunicatorRequest") != before[1] &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    sim::world().reset();
}

struct RangeCase
{
    const char* name;
    const char* tf;
    double fromDaysBack, toDaysBack;  // 0: the bound is left out
    int count;
};

class SimPlentaRanges : public SimPlenta, public testing::WithParamInterface<RangeCase>
{
};

TEST_P(SimPlentaRanges, ResponsesHoldTheGeneratorsBars)
{
    const RangeCase& c = GetParam();
    login();
    open();
    comm->removeListener(&a);
    comm->removeListener(&b);
    struct Keeper final : plenta::IPlentaCommunicatorListener
    {
        int addRef() override { return ++refs; }
        int release() override { return --refs; }
        void onRequestCompleted(plenta::IPlentaCommunicatorRequest*, plenta::IPlentaCommunicatorResponse* r) override
        {
            reader = comm->createResponseReader(r, nullptr);
        }
        void onRequestFailed(plenta::IPlentaCommunicatorRequest*, plenta::IError*) override {}
        void onRequestCancelled(plenta::IPlentaCommunicatorRequest*) override {}
        plenta::IPlentaCommunicator* comm = nullptr;
        IK7RMarketDataSnapshotResponseReader* reader = nullptr;
        std::atomic<int> refs{1};
    } keeper;
    keeper.comm = comm;
    comm->addListener(&keeper);
    const double now = sim::world().clock().nowOle();
    const double from = c.fromDaysBack ? now - c.fromDaysBack : 0.0;
    const double to = c.toDaysBack ? now - c.toDaysBack : 0.0;
    plenta::IPlentaCommunicatorRequest* r = request("EUR/USD", c.tf, from, to, c.count);
    ASSERT_TRUE(comm->sendRequest(r, nullptr));
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    comm->removeListener(&keeper);
    ASSERT_NE(keeper.reader, nullptr);

    IK7RTimeframe* t = r->getTimeframe();
    const sim::history::Series expected = sim::history::bars(
        "EUR/USD", {t->getUnit(), t->getSize()}, from, to, c.count, sim::world().clock().nowMs());
    t->release();
    r->release();
    IK7RMarketDataSnapshotResponseReader* reader = keeper.reader;
    ASSERT_FALSE(expected.items.empty());
    EXPECT_EQ(reader->isBar(), expected.isBar);
    ASSERT_EQ(reader->size(), static_cast<int>(expected.items.size()));
    if (c.count <= 0 && !c.fromDaysBack)
    {
        EXPECT_EQ(reader->size(), sim::history::DefaultCount);
    }
    for (int i = 0; i < reader->size(); ++i)
    {
        const auto& e = expected.items[static_cast<std::size_t>(i)];
        ASSERT_EQ(reader->getDate(i), e.date) << i;
        ASSERT_EQ(reader->getBidClose(i), e.bidClose) << i;
        ASSERT_EQ(reader->getAskLow(i), e.askLow) << i;
        ASSERT_EQ(reader->getVolume(i), e.volume) << i;
    }
    if (c.fromDaysBack)
    {
        EXPECT_GE(reader->getDate(0), from - 1.0 / 24);
    }
    reader->release();
    EXPECT_EQ(keeper.refs, 1);
}

INSTANTIATE_TEST_SUITE_P(Queries, SimPlentaRanges,
                         testing::Values(RangeCase{"DefaultMinusOne", "m1", 0, 0, -1},
                                         RangeCase{"DefaultZero", "H1", 0, 0, 0},
                                         RangeCase{"FromOnly", "m5", 1, 0, 0},
                                         RangeCase{"FromTo", "H1", 5, 2, 0},
                                         RangeCase{"CustomSize", "m7", 0, 0, 50},
                                         RangeCase{"Ticks", "t1", 0, 0, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimPlenta, TimeframeFactoryParsesIdsAndUnits)
{
    login();
    open();
    plenta::ITimeframeFactory* f = comm->getTimeframeFactory();
    struct Case
    {
        const char* id;
        int unit, size;  // unit -1: no timeframe
    } cases[] = {{"t1", 0, 1}, {"m1", 1, 1}, {"m5", 1, 5}, {"H1", 2, 1}, {"H12", 2, 12}, {"D1", 3, 1},
                 {"W1", 4, 1}, {"M1", 5, 1}, {"m7", 1, 7}, {"x1", -1, 0}, {"m", -1, 0}, {"m0", -1, 0},
                 {"m-1", -1, 0}, {"", -1, 0}, {"H1x", -1, 0}};
    for (const Case& c : cases)
    {
        plenta::IError* err = nullptr;
        IK7RTimeframe* t = f->create(c.id, &err);
        EXPECT_EQ(err, nullptr) << c.id;
        if (c.unit < 0)
        {
            EXPECT_EQ(t, nullptr) << c.id;
            continue;
        }
        ASSERT_NE(t, nullptr) << c.id;
        EXPECT_STREQ(t->getId(), c.id);
        EXPECT_EQ(static_cast<int>(t->getUnit()), c.unit) << c.id;
        EXPECT_EQ(t->getSize(), c.size) << c.id;
        t->release();
    }
    plenta::IError* err = nullptr;
    EXPECT_EQ(f->createByUnit(K7RTimeframeUnit::Hour, -2, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->getCode(), plenta::IError::BAD_ARGUMENTS);
    err->release();
    IK7RTimeframe* t = f->createByUnit(K7RTimeframeUnit::Hour, 4, nullptr);
    EXPECT_STREQ(t->getId(), "H4");
    t->release();
    f->release();
}

struct TaskCase
{
    const char* name;
    zorvat_sim::TaskOutcome outcome;
    const char* report;
    bool loadedAfter;
};

class SimQuotesCacheTasks : public SimPlenta, public testing::WithParamInterface<TaskCase>
{
};

TEST_P(SimQuotesCacheTasks, OneReportOnTheCachesOwnThread)
{
    const TaskCase& c = GetParam();
    zorvat_sim::scriptTaskOutcome(c.outcome, zorvat_sim::ErrorSpec{4, 17, std::nullopt});
    login();
    open();
    zorvat::IZorvat* z = comm->getZorvat();
    EXPECT_FALSE(z->areInstrumentsLoaded(nullptr));
    Callback cb(log);
    zorvat::ITask* task = z->createUpdateInstrumentsTask(&cb, nullptr);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(cb.refs, 2);
    ASSERT_TRUE(z->executeTask(task, nullptr));
    ASSERT_TRUE(log.waitFor(1));
    EXPECT_TRUE(cb.onCacheThread);
    EXPECT_EQ(log.take(), std::vector<std::string>{c.report});
    zorvat::IError* err = nullptr;
    EXPECT_FALSE(z->executeTask(task, &err)) << "a task runs once";
    ASSERT_NE(err, nullptr);
    err->release();
    EXPECT_EQ(z->areInstrumentsLoaded(nullptr), c.loadedAfter);
    task->release();
    z->release();
    // The callback was let go once it reported.
    for (int i = 0; i < 500 && cb.refs != 1; ++i)
        std::this_thread::yield();
    EXPECT_EQ(cb.refs, 1);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SimQuotesCacheTasks,
                         testing::Values(TaskCase{"Completed", zorvat_sim::TaskOutcome::Completed, "completed", true},
                                         TaskCase{"Failed", zorvat_sim::TaskOutcome::Failed, "failed:4:17", false},
                                         TaskCase{"Cancelled", zorvat_sim::TaskOutcome::Cancelled, "cancelled", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimPlenta, QuotesCacheKeepsItsModeAndListsTheOffers)
{
    login();
    open();
    zorvat::IZorvat* z = comm->getZorvat();
    zorvat::IZorvat* again = comm->getZorvat();
    EXPECT_EQ(z, again) << "one cache per communicator";
    again->release();
    EXPECT_EQ(z->getCandleOpenPriceMode(), K7RCandleOpenPriceMode::PreviousClose);
    z->setCandleOpenPriceMode(K7RCandleOpenPriceMode::FirstTick);
    EXPECT_EQ(z->getCandleOpenPriceMode(), K7RCandleOpenPriceMode::FirstTick);

    zorvat::IInstrumentList* list = z->getInstruments(nullptr);
    ASSERT_EQ(list->size(), static_cast<int>(sim::history::instruments().size()));
    zorvat::IInstrument* first = list->get(0);
    EXPECT_STREQ(first->getName(), "EUR/USD");
    zorvat::IStringList* tfs = first->getTimeframes();
    EXPECT_EQ(tfs->size(), 14);
    EXPECT_STREQ(tfs->get(5), "H1");
    EXPECT_EQ(tfs->get(14), nullptr);
    EXPECT_EQ(list->get(list->size()), nullptr);
    tfs->release();
    first->release();
    list->release();

    ASSERT_TRUE(zorvat_sim::failNext("getInstruments", zorvat_sim::ErrorSpec{0, 5, std::string("locked")}));
    zorvat::IError* err = nullptr;
    EXPECT_EQ(z->getInstruments(&err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->getSubCode(), 5);
    err->release();
    EXPECT_TRUE(zorvat_sim::failNext("executeTask", std::nullopt));
    EXPECT_FALSE(z->executeTask(nullptr, nullptr));
    z->release();
}

// A callback that, once entered, waits for `gate` before it reports.
class GatedCallback final : public zorvat::IUpdateInstrumentsCallback
{
public:
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onUpdateFailed(zorvat::ITask*, zorvat::IError*) override { report(); }
    void onUpdateCompleted() override { report(); }
    void onUpdateCancelled() override { report(); }
    void report()
    {
        entered.add("in");
        gate.wait_for(std::chrono::seconds(5));
    }
    Log entered;
    std::shared_future<void> gate;
    std::atomic<int> refs{1};
};

// Runs in a process of its own: exit begins while a task's callback runs and another task waits
// behind it on the cache's thread. The waiting one must neither report nor be let go; the child
// exits with 0 then, 1 when it reported, 2 when its callback was released, 3 when a step failed.
void exitWhileATaskWaits()
{
    zorvat::IZorvat* z = zorvat_sim::makeQuotesCache("");
    std::promise<void> open;
    GatedCallback first, second;
    first.gate = open.get_future().share();
    second.gate = first.gate;
    zorvat::ITask* a = z->createUpdateInstrumentsTask(&first, nullptr);
    zorvat::ITask* b = z->createUpdateInstrumentsTask(&second, nullptr);
    if (!a || !b || !z->executeTask(a, nullptr) || !first.entered.waitFor(1) || !z->executeTask(b, nullptr))
        std::_Exit(3);
    b->release();  // only the queued run holds it now
    sim::world().dispatcher().shutdownForExit();
    open.set_value();
    if (second.entered.waitFor(1, 1000))
        std::_Exit(1);
    std::_Exit(second.refs == 2 ? 0 : 2);
}

TEST(SimQuotesCacheExit, NoTaskReportsOrIsLetGoAfterExitBegan)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(exitWhileATaskWaits(), testing::ExitedWithCode(0), "");
}

}  // namespace
