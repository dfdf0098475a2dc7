// Tests of the simulated session: the login flows on the virtual clock, several sessions at once,
// the chart session, the token and report URL passes, and the subscription contract (the
// library's own references, no call after unsubscribe, ghosts).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "velvix/Velvix.h"

#include "core/OleDate.h"
#include "core/World.h"
#include "velvix/Session.h"

namespace
{

using sim::velvix::Point;
using sim::velvix::Session;

// Events in arrival order, as short texts: "S3" a status, "F:text" a failure, "C1" a chart status.
class Recorder
{
public:
    void record(std::string event)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        cv_.notify_all();
    }
    std::vector<std::string> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    bool waitFor(std::size_t n, int ms = 5000) const
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return events_.size() >= n; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<std::string> events_;
};

// Owned by the test: counts its references and is never deleted through them.
class StatusProbe final : public IK7RSessionStatus
{
public:
    explicit StatusProbe(Recorder& r, std::string tag = "") : recorder(r), tag(std::move(tag)) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onSessionStatusChanged(K7RSessionStatus status) override
    {
        recorder.record(tag + "S" + std::to_string(status));
        if (onStatus)
            onStatus();
    }
    void onLoginFailed(const char* error) override { recorder.record(tag + "F:" + (error ? error : "<null>")); }

    Recorder& recorder;
    std::string tag;
    std::atomic<int> refs{1};
    std::function<void()> onStatus;
};

class ChartProbe final : public IK7RChartSessionStatus
{
public:
    explicit ChartProbe(Recorder& r) : recorder(r) {}
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onChartSessionStatusChanged(K7RChartSessionStatus status) override
    {
        recorder.record("C" + std::to_string(status));
    }
    void onChartSessionLoginFailed(const char* error) override { recorder.record(std::string("CF:") + (error ? error : "<null>")); }

    Recorder& recorder;
    std::atomic<int> refs{1};
};

class SimSession : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        sim::world().clock().setVirtual();
        session = CK7RTransport::createSession();
        ASSERT_NE(session, nullptr);
    }
    void TearDown() override
    {
        session->release();
        sim::world().dispatcher().flush(5000);
        sim::world().reset();
    }

    Session& sim() { return *dynamic_cast<Session*>(session); }

    static void flush() { ASSERT_TRUE(sim::world().dispatcher().flush(5000)); }
    // Lets `steps` login delays pass, delivering what falls due after each.
    static void settle(int steps = 4)
    {
        flush();
        for (int i = 0; i < steps; ++i)
        {
            sim::world().clock().advance(Delay);
            flush();
        }
    }
    // Runs on the dispatcher thread and waits for it.
    static void onDispatcher(std::function<void()> job)
    {
        ASSERT_TRUE(sim::world().dispatcher().post(std::move(job)));
        flush();
    }
    static std::string token(IK7RSession* s)
    {
        const int n = s->getToken(nullptr, 0);
        if (n < 0)
            return "error " + std::to_string(n);
        std::vector<char> buffer(static_cast<std::size_t>(n) + 1, '\0');
        const int m = s->getToken(buffer.data(), n);
        return m < 0 ? "error " + std::to_string(m) : std::string(buffer.data(), static_cast<std::size_t>(m));
    }

    static constexpr int Delay = 50;
    IK7RSession* session = nullptr;
    Recorder recorder;
};

struct LoginCase
{
    const char* what;
    const char* user;
    const char* password;
    const char* connection;
    sim::LoginOutcome outcome;
    std::vector<std::string> events;
    IK7RSessionStatus::K7RSessionStatus finalStatus;
};

class SimLoginFlow : public SimSession, public testing::WithParamInterface<LoginCase>
{
};

TEST_P(SimLoginFlow, StatusesArriveOnTheVirtualClock)
{
    const LoginCase& c = GetParam();
    sim::world().scenario().update([&](sim::ScenarioState& s) { s.sessions.outcome = c.outcome; });
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);

    EXPECT_TRUE(session->login(c.user, c.password, "https://any.example/", c.connection));
    flush();
    EXPECT_EQ(recorder.events(), std::vector<std::string>{"S1"}) << c.what;
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Connecting);
    sim::world().clock().advance(Delay - 1);
    flush();
    EXPECT_EQ(recorder.events().size(), 1u) << c.what << ": the outcome came before its delay";
    settle();
    EXPECT_EQ(recorder.events(), c.events) << c.what;
    EXPECT_EQ(session->getSessionStatus(), c.finalStatus) << c.what;
    session->unsubscribeSessionStatus(&probe);
    EXPECT_EQ(probe.refs, 1);
}

const std::string InvalidCredentials = "F:Invalid user name or password";

INSTANTIATE_TEST_SUITE_P(
    Table, SimLoginFlow,
    testing::Values(
        LoginCase{"demo", "demo", "demo", "Demo", sim::LoginOutcome::Connect, {"S1", "S3"}, IK7RSessionStatus::Connected},
        LoginCase{"connection in any case", "demo", "demo", "dEMO", sim::LoginOutcome::Connect, {"S1", "S3"},
                  IK7RSessionStatus::Connected},
        LoginCase{"wrong password", "demo", "nope", "Demo", sim::LoginOutcome::Connect, {"S1", InvalidCredentials, "S0"},
                  IK7RSessionStatus::Disconnected},
        LoginCase{"user names are case-sensitive", "Demo", "demo", "Demo", sim::LoginOutcome::Connect,
                  {"S1", InvalidCredentials, "S0"}, IK7RSessionStatus::Disconnected},
        LoginCase{"unknown connection", "demo", "demo", "Real", sim::LoginOutcome::Connect,
                  {"S1", "F:Unknown connection 'Real'", "S0"}, IK7RSessionStatus::Disconnected},
        LoginCase{"scripted rejection", "demo", "demo", "Demo", sim::LoginOutcome::Reject,
                  {"S1", "F:Login rejected by the server", "S0"}, IK7RSessionStatus::Disconnected},
        LoginCase{"password to change", "demo", "demo", "Demo", sim::LoginOutcome::NeedToChangePassword, {"S1", "S8"},
                  IK7RSessionStatus::ConnectedWithNeedToChangePassword},
        LoginCase{"bad password beats a script", "demo", "x", "Demo", sim::LoginOutcome::NeedToChangePassword,
                  {"S1", InvalidCredentials, "S0"}, IK7RSessionStatus::Disconnected}));

TEST_F(SimSession, LogoutAndTheAccountStateFollowTheFlow)
{
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);
    EXPECT_EQ(session->getUserName(), nullptr);
    EXPECT_EQ(session->getUserKind(), K7RUserKind::UserKindUndefined);
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    EXPECT_STREQ(session->getUserName(), "demo");
    EXPECT_EQ(session->getUserKind(), K7RUserKind::UserKindTrader);
    ASSERT_NE(session->getSessionSubId(), nullptr);

    const char* name = session->getUserName();
    session->logout();
    flush();
    EXPECT_EQ(recorder.events().back(), "S5");
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Disconnecting);
    settle();
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S1", "S3", "S5", "S0"}));
    EXPECT_EQ(session->getUserName(), nullptr);
    EXPECT_EQ(session->getSessionSubId(), nullptr);
    EXPECT_STREQ(name, "demo") << "a text handed out stays valid while the session lives";

    session->logout();  // already out: nothing happens
    settle();
    EXPECT_EQ(recorder.events().size(), 4u);
    session->unsubscribeSessionStatus(&probe);
}

TEST_F(SimSession, LoginRefusesInvalidCallsAndASecondLoginUnderWay)
{
    EXPECT_FALSE(session->login(nullptr, "demo", "u", "Demo"));
    EXPECT_FALSE(session->login("demo", "demo", "u", nullptr));
    EXPECT_TRUE(session->login("demo", "demo", "u", "Demo"));
    EXPECT_FALSE(session->login("demo", "demo", "u", "Demo"));
    settle();
    EXPECT_FALSE(session->login("demo", "demo", "u", "Demo")) << "already connected";
    const auto logins = sim::world().journal().entries(std::string("IK7RSession::login"));
    ASSERT_EQ(logins.size(), 5u);
    EXPECT_EQ(logins[0].args, (sim::Values{sim::Value(), sim::text("demo"), sim::text("u"), sim::text("Demo")}));
}

TEST_F(SimSession, TwoSessionsLogInAndOutOnTheirOwn)
{
    IK7RSession* other = CK7RTransport::createSession();
    Recorder otherRecorder;
    StatusProbe a(recorder), b(otherRecorder);
    session->subscribeSessionStatus(&a);
    other->subscribeSessionStatus(&b);
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    ASSERT_TRUE(other->login("demo", "demo", "u", "Demo"));
    settle();
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Connected);
    EXPECT_EQ(other->getSessionStatus(), IK7RSessionStatus::Connected);
    EXPECT_NE(token(session), token(other));

    other->logout();
    settle();
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S1", "S3"}));
    EXPECT_EQ(otherRecorder.events(), (std::vector<std::string>{"S1", "S3", "S5", "S0"}));
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Connected);
    other->unsubscribeSessionStatus(&b);
    other->release();
    session->unsubscribeSessionStatus(&a);
}

TEST_F(SimSession, ForceCloseLosesTheSessionAndALoginMayFollow)
{
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);
    session->forceClose();  // not logged in: nothing
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    session->forceClose();
    settle();
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S1", "S3", "S6"}));
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::SessionLost);
    EXPECT_EQ(token(session), "error -3");
    EXPECT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Connected);
    session->unsubscribeSessionStatus(&probe);
}

TEST_F(SimSession, ALogoutDuringLoginCancelsItsLaterSteps)
{
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    flush();
    session->logout();
    settle();
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S1", "S5", "S0"}));
    session->unsubscribeSessionStatus(&probe);
}

TEST_F(SimSession, ResetLeavesNoSessionHalfwayThroughAFlow)
{
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    flush();
    ASSERT_EQ(session->getSessionStatus(), IK7RSessionStatus::Connecting);
    sim::world().reset();  // its next step is cancelled
    sim::world().clock().setVirtual();
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Disconnected);
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Connected);
}

TEST_F(SimSession, ATradingSessionRequestWaitsForTheChoice)
{
    sim::world().scenario().update([](sim::ScenarioState& s) { s.sessions.outcome = sim::LoginOutcome::TradingSession; });
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle(6);
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S1", "S2"}));
    EXPECT_EQ(token(session), "error -3");
    session->setTradingSession("S1", "");
    settle();
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S1", "S2", "S3"}));
    session->unsubscribeSessionStatus(&probe);
}

TEST_F(SimSession, TheChartSessionFollowsWhenItsModeAsksForIt)
{
    for (auto mode : {K7RChartSessionMode::NoChartSession, K7RChartSessionMode::Attached, K7RChartSessionMode::Detached})
    {
        Recorder events;
        StatusProbe status(events);
        ChartProbe chart(events);
        session->subscribeSessionStatus(&status);
        session->subscribeChartSessionStatus(&chart);
        session->setChartSessionMode(mode);
        EXPECT_EQ(session->getChartSessionMode(), mode);
        ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
        settle();
        const bool on = mode != K7RChartSessionMode::NoChartSession;
        EXPECT_EQ(session->getChartSessionStatus(),
                  on ? IK7RChartSessionStatus::Connected : IK7RChartSessionStatus::Disconnected);
        session->logout();
        settle();
        EXPECT_EQ(session->getChartSessionStatus(), IK7RChartSessionStatus::Disconnected);
        const std::vector<std::string> expected =
            on ? std::vector<std::string>{"S1", "S3", "C1", "C3", "S5", "C0", "S0"}
               : std::vector<std::string>{"S1", "S3", "S5", "S0"};
        EXPECT_EQ(events.events(), expected);
        session->unsubscribeSessionStatus(&status);
        session->unsubscribeChartSessionStatus(&chart);
    }
}

TEST_F(SimSession, RealTimeLoginConnectsWithinASecond)
{
    sim::world().clock().setReal();
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S1", "S3"}));
    session->unsubscribeSessionStatus(&probe);
    // The delivery that recorded S3 may still be inside the probe, and gives back its reference
    // only once done: the probe must outlive it.
    flush();
}

// --- token and report URL ------------------------------------------------------------------

TEST_F(SimSession, TokenAndReportUrlNeedALogin)
{
    EXPECT_EQ(session->getToken(nullptr, 0), static_cast<int>(K7RTokenError::TokenNotLogged));
    EXPECT_EQ(session->getReportUrl(nullptr, 0, "A1", 45000.0, 45001.0, "html", "en"),
              static_cast<int>(K7RReportUrlError::ReportUrlNotLogged));
}

TEST_F(SimSession, TheTokenIsTheServersAndLogsAnotherSessionIn)
{
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    const std::string issued = token(session);
    ASSERT_GT(issued.size(), 10u);
    EXPECT_EQ(token(session), issued) << "one token per login";
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(session->getToken(small, 3), static_cast<int>(K7RTokenError::TokenTooSmallBuffer));
    EXPECT_EQ(std::string(small, 4), "xxxx");

    IK7RSession* other = CK7RTransport::createSession();
    StatusProbe probe(recorder);
    other->subscribeSessionStatus(&probe);
    ASSERT_TRUE(other->loginWithToken("demo", issued.c_str(), "u", "Demo"));
    settle();
    other->logout();
    settle();
    ASSERT_TRUE(other->loginWithToken("demo", "VXT1.made-up", "u", "Demo"));
    settle();
    EXPECT_EQ(recorder.events(),
              (std::vector<std::string>{"S1", "S3", "S5", "S0", "S1", "F:Invalid token", "S0"}));
    other->unsubscribeSessionStatus(&probe);
    other->release();
}

TEST_F(SimSession, TheReportUrlNamesTheAccountAndTheDays)
{
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    double from = 0, to = 0;
    ASSERT_TRUE(sim::ole::fromFields(2024, 1, 2, 10, 0, 0, from));
    ASSERT_TRUE(sim::ole::fromFields(2024, 2, 3, 0, 0, 0, to));
    const int n = session->getReportUrl(nullptr, 0, "A 1", from, to, "html", nullptr);
    ASSERT_GT(n, 0);
    std::vector<char> buffer(static_cast<std::size_t>(n), '\0');
    ASSERT_EQ(session->getReportUrl(buffer.data(), n, "A 1", from, to, "html", nullptr), n);
    const std::string url(buffer.data(), buffer.size());
    EXPECT_NE(url.find("account=A%201&from=2024-01-02&to=2024-02-03&format=html"), std::string::npos) << url;
    EXPECT_EQ(url.find("language"), std::string::npos) << url;
    EXPECT_EQ(session->getReportUrl(nullptr, 0, nullptr, from, to, "html", "en"),
              static_cast<int>(K7RReportUrlError::ReportUrlNoAccId));

    const auto calls = sim::world().journal().entries(std::string("IK7RSession::getReportUrl"));
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[1].args, (sim::Values{sim::flag(true), sim::number(n), sim::text("A 1"), sim::number(from),
                                          sim::number(to), sim::text("html"), sim::Value()}));
}

struct CountScript
{
    const char* what;
    std::vector<int> script;
    int first;
    int second;  // a caller then keeps the first `second` bytes of the token
};

class SimCountScripts : public SimSession, public testing::WithParamInterface<CountScript>
{
};

TEST_P(SimCountScripts, EachPassTakesTheNextCount)
{
    const CountScript& c = GetParam();
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    const std::string natural = token(session);
    sim::world().scenario().update([&](sim::ScenarioState& s) {
        s.sessions.countScripts["getToken"] = std::deque<int>(c.script.begin(), c.script.end());
    });
    const int n = session->getToken(nullptr, 0);
    EXPECT_EQ(n, c.first) << c.what;
    std::vector<char> buffer(static_cast<std::size_t>(std::max(n, 0)) + 8, '\0');
    const int m = session->getToken(buffer.data(), std::max(n, 0));
    EXPECT_EQ(m, c.second) << c.what;
    if (m >= 0)
    {
        EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(m)), natural.substr(0, m)) << c.what;
    }
    EXPECT_EQ(token(session), natural) << c.what << ": the natural counts resume";
}

INSTANTIATE_TEST_SUITE_P(Table, SimCountScripts,
                         testing::Values(CountScript{"-2 on the first pass", {-2}, -2, -2},
                                         CountScript{"-6 then -10", {-6, -10}, -6, -10},
                                         CountScript{"size 0 then 0", {0, 0}, 0, 0},
                                         CountScript{"m smaller than n", {30, 7}, 30, 7},
                                         CountScript{"a count past the buffer is cut to it", {4, 9}, 4, 4}));

TEST_F(SimSession, ScriptedReportUrlCodeOnlyOnTheSecondPass)
{
    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    const int n = session->getReportUrl(nullptr, 0, "A1", 45000.0, 45001.0, nullptr, nullptr);
    ASSERT_GT(n, 0);
    sim::world().scenario().update([](sim::ScenarioState& s) { s.sessions.countScripts["getReportUrl"] = {-9}; });
    std::vector<char> buffer(static_cast<std::size_t>(n));
    EXPECT_EQ(session->getReportUrl(buffer.data(), n, "A1", 45000.0, 45001.0, nullptr, nullptr), -9);
    EXPECT_EQ(session->getReportUrl(buffer.data(), n, "A1", 45000.0, 45001.0, nullptr, nullptr), n);
}

// --- getters and settings ------------------------------------------------------------------

TEST_F(SimSession, GettersFollowFaultsAndTheScriptedServerTime)
{
    sim::world().clock().setVirtualOle(45000.5);
    EXPECT_DOUBLE_EQ(session->getServerTime(), 45000.5);
    sim::world().scenario().update([](sim::ScenarioState& s) { s.sessions.serverTime = 1e9; });
    EXPECT_DOUBLE_EQ(session->getServerTime(), 1e9);

    ASSERT_TRUE(session->login("demo", "demo", "u", "Demo"));
    settle();
    sim::world().faults().arm("IK7RSession::getUserName", sim::FaultKind::Null);
    EXPECT_EQ(session->getUserName(), nullptr);
    EXPECT_STREQ(session->getUserName(), "demo");
    sim::world().faults().arm("IK7RSession::getSessionSubId", sim::FaultKind::Value, sim::text("sub-9"));
    EXPECT_STREQ(session->getSessionSubId(), "sub-9");
    sim::world().faults().arm("IK7RSession::getChartSessionStatus", sim::FaultKind::Value, sim::number(2));
    EXPECT_EQ(static_cast<int>(session->getChartSessionStatus()), 2);
    sim::world().faults().arm("IK7RSession::getToken", sim::FaultKind::Value, sim::number(-5));
    EXPECT_EQ(session->getToken(nullptr, 0), -5);
}

TEST_F(SimSession, PriceRefreshRateStaysWithinItsBounds)
{
    const int min = session->getMinPriceRefreshRate(), max = session->getMaxPriceRefreshRate();
    ASSERT_LT(min, max);
    EXPECT_GE(session->getPriceRefreshRate(), min);
    EXPECT_LE(session->getPriceRefreshRate(), max);
    EXPECT_TRUE(session->setPriceRefreshRate(min));
    EXPECT_EQ(session->getPriceRefreshRate(), min);
    EXPECT_FALSE(session->setPriceRefreshRate(max + 1));
    EXPECT_FALSE(session->setPriceRefreshRate(min - 1));
    EXPECT_EQ(session->getPriceRefreshRate(), min);
}

// --- subscriptions -------------------------------------------------------------------------

TEST_F(SimSession, EachSubscriptionHoldsAReferenceUntilItsUnsubscribe)
{
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);
    session->subscribeSessionStatus(&probe);
    EXPECT_EQ(probe.refs, 3);
    EXPECT_EQ(sim().subscribers(Point::SessionStatus), 2);
    onDispatcher([&] { sim().deliverSessionStatus(3); });
    EXPECT_EQ(recorder.events(), (std::vector<std::string>{"S3", "S3"})) << "one delivery per subscription";

    session->unsubscribeSessionStatus(&probe);
    EXPECT_EQ(probe.refs, 2);
    session->unsubscribeSessionStatus(&probe);
    session->unsubscribeSessionStatus(&probe);  // not subscribed: nothing to give back
    EXPECT_EQ(probe.refs, 1);
    EXPECT_EQ(sim().subscribers(Point::SessionStatus), 0);
    session->subscribeSessionStatus(nullptr);
    EXPECT_EQ(sim().subscribers(Point::SessionStatus), 0);
}

TEST_F(SimSession, ADeliveryReachesNoListenerUnsubscribedBeforeItsCall)
{
    StatusProbe first(recorder, "a"), second(recorder, "b");
    session->subscribeSessionStatus(&first);
    session->subscribeSessionStatus(&second);
    first.onStatus = [&] { session->unsubscribeSessionStatus(&second); };
    onDispatcher([&] { sim().deliverSessionStatus(3); });
    EXPECT_EQ(recorder.events(), std::vector<std::string>{"aS3"});
    EXPECT_EQ(second.refs, 1);
    first.onStatus = nullptr;
    session->unsubscribeSessionStatus(&first);
}

TEST_F(SimSession, UnsubscribeNeitherWaitsForACallNorSeesOneAfterIt)
{
    StatusProbe busy(recorder, "busy"), queued(recorder, "queued");
    std::mutex gate;
    std::condition_variable opened;
    bool open = false, entered = false;
    busy.onStatus = [&] {
        std::unique_lock<std::mutex> lock(gate);
        entered = true;
        opened.notify_all();
        opened.wait_for(lock, std::chrono::seconds(10), [&] { return open; });
    };
    session->subscribeSessionStatus(&busy);
    session->subscribeSessionStatus(&queued);
    sim::world().dispatcher().post([&] { sim().deliverSessionStatus(1); });
    {
        std::unique_lock<std::mutex> lock(gate);
        ASSERT_TRUE(opened.wait_for(lock, std::chrono::seconds(5), [&] { return entered; }));
    }
    // The busy listener is inside its call: both unsubscribes return at once.
    session->unsubscribeSessionStatus(&busy);
    session->unsubscribeSessionStatus(&queued);
    {
        std::lock_guard<std::mutex> lock(gate);
        open = true;
        opened.notify_all();
    }
    flush();
    EXPECT_EQ(recorder.events(), std::vector<std::string>{"busyS1"});
    EXPECT_EQ(busy.refs, 1);
    EXPECT_EQ(queued.refs, 1);
}

TEST_F(SimSession, ReleasingTheSessionGivesBackItsListeners)
{
    IK7RSession* other = CK7RTransport::createSession();
    StatusProbe status(recorder);
    ChartProbe chart(recorder);
    other->subscribeSessionStatus(&status);
    other->subscribeChartSessionStatus(&chart);
    EXPECT_EQ(status.refs + chart.refs, 4);
    EXPECT_EQ(other->release(), 0);
    EXPECT_EQ(status.refs, 1);
    EXPECT_EQ(chart.refs, 1);
}

TEST_F(SimSession, GhostsKeepUnsubscribedListenersUntilCleared)
{
    StatusProbe probe(recorder);
    session->subscribeSessionStatus(&probe);
    sim().keepGhosts(Point::SessionStatus);
    session->unsubscribeSessionStatus(&probe);
    EXPECT_EQ(probe.refs, 2);
    onDispatcher([&] {
        sim().deliverSessionStatus(3);
        sim().deliverGhostSessionStatus(9);
    });
    EXPECT_EQ(recorder.events(), std::vector<std::string>{"S9"});
    sim().clearGhosts();
    EXPECT_EQ(probe.refs, 1);

    session->subscribeSessionStatus(&probe);
    sim().keepGhosts(Point::SessionStatus);
    session->unsubscribeSessionStatus(&probe);
    sim::world().reset();
    EXPECT_EQ(probe.refs, 1) << "reset lets go of the ghosts";
}

TEST_F(SimSession, WaitSubscribersSeesASubscriptionFromAnotherThread)
{
    StatusProbe probe(recorder);
    EXPECT_FALSE(sim().waitSubscribers(Point::Response, 1, 10));
    std::thread subscriber([&] { session->subscribeSessionStatus(&probe); });
    EXPECT_TRUE(sim().waitSubscribers(Point::SessionStatus, 1, 5000));
    subscriber.join();
    session->unsubscribeSessionStatus(&probe);
    EXPECT_TRUE(sim().waitSubscribers(Point::SessionStatus, 0, 0));
}

}  // namespace
