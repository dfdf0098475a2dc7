// Tests of the simulated transport statics and the session frame: settings journaled with their
// null texts, the two-pass application identifier, session creation and finalization (with the
// requests it leaves unanswered), and the scripted trading-session descriptors.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "velvix/Velvix.h"

#include "core/World.h"

namespace
{

// Keeps each failure's request id and text, and whether it came on the thread that waits.
class Failures final : public IK7RResponseListener
{
public:
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onRequestCompleted(const char*, IK7RResponse*) override {}
    void onRequestFailed(const char* id, const char* error) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(std::string(id) + ":" + error + (std::this_thread::get_id() == waiter_ ? ":waiter" : ""));
        cv_.notify_all();
    }
    void onTablesUpdates(IK7RResponse*) override {}
    std::vector<std::string> waitFor(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(5), [&] { return seen_.size() >= n; });
        return seen_;
    }
    // Once the library gave back every reference it took.
    bool settled()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (refs != 1 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return refs == 1;
    }
    std::atomic<int> refs{1};

private:
    const std::thread::id waiter_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> seen_;
};

class SimTransport : public testing::Test
{
protected:
    void SetUp() override { sim::world().reset(); }
    void TearDown() override { sim::world().reset(); }

    static sim::Values lastArgs(const std::string& op)
    {
        const auto entries = sim::world().journal().entries(op);
        return entries.empty() ? sim::Values{sim::text("<not journaled>")} : entries.back().args;
    }

    static sim::TransportSettings settings()
    {
        return sim::world().scenario().read([](const sim::ScenarioState& s) { return s.transport; });
    }

    // The caller's two passes: size, then a zero-filled buffer of exactly that size.
    static std::string readApplicationId(std::size_t* firstSize = nullptr)
    {
        std::size_t size = 0;
        CK7RTransport::getApplicationID(nullptr, size);
        if (firstSize)
            *firstSize = size;
        std::vector<char> buffer(size, '\0');
        CK7RTransport::getApplicationID(buffer.data(), size);
        return std::string(buffer.data(), size);
    }
};

TEST_F(SimTransport, ProxyKeepsNullUserAndPasswordApartFromEmpty)
{
    CK7RTransport::setProxy("proxy.local", 3128, nullptr, nullptr);
    EXPECT_EQ(lastArgs("CK7RTransport::setProxy"),
              (sim::Values{sim::text("proxy.local"), sim::number(3128), sim::Value(), sim::Value()}));
    CK7RTransport::setProxy("proxy.local", 3128, "", nullptr);
    EXPECT_EQ(lastArgs("CK7RTransport::setProxy"),
              (sim::Values{sim::text("proxy.local"), sim::number(3128), sim::text(""), sim::Value()}));
    const sim::ProxySettings proxy = settings().proxy;
    EXPECT_EQ(proxy.host, "proxy.local");
    EXPECT_EQ(proxy.port, 3128);
    EXPECT_EQ(proxy.user, "");
    EXPECT_EQ(proxy.password, std::nullopt);
}

TEST_F(SimTransport, OtherSettersLandInTheWorld)
{
    CK7RTransport::setCAInfo(nullptr);
    CK7RTransport::setNumberOfReconnections(5);
    CK7RTransport::setTransportModulesPath("/opt/modules");
    CK7RTransport::setClosedHistorySize(100);
    const sim::TransportSettings t = settings();
    EXPECT_EQ(t.caInfo, std::nullopt);
    EXPECT_EQ(lastArgs("CK7RTransport::setCAInfo"), sim::Values{sim::Value()});
    EXPECT_EQ(t.reconnections, 5);
    EXPECT_EQ(t.modulesPath, "/opt/modules");
    EXPECT_EQ(CK7RTransport::getClosedHistorySize(), 100);

    sim::world().faults().arm("CK7RTransport::getClosedHistorySize", sim::FaultKind::Value, sim::number(-3));
    EXPECT_EQ(CK7RTransport::getClosedHistorySize(), -3);
    EXPECT_EQ(CK7RTransport::getClosedHistorySize(), 100);
}

struct AppIdCase
{
    const char* what;
    std::string bytes;
    std::optional<std::uint64_t> reported;
    std::size_t expectedFirstSize;
    std::string expectedText;
};

class SimApplicationId : public SimTransport, public testing::WithParamInterface<AppIdCase>
{
};

TEST_P(SimApplicationId, TwoPassReadKeepsExactlyTheCountedBytes)
{
    const AppIdCase& c = GetParam();
    sim::world().scenario().update([&](sim::ScenarioState& s) {
        s.transport.applicationId = c.bytes;
        s.transport.applicationIdReportedSize = c.reported;
    });
    std::size_t first = 99;
    EXPECT_EQ(readApplicationId(&first), c.expectedText) << c.what;
    EXPECT_EQ(first, c.expectedFirstSize) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimApplicationId,
    testing::Values(AppIdCase{"default", "", std::nullopt, 0, ""},
                    AppIdCase{"plain, no NUL counted", "app-7", std::nullopt, 5, "app-7"},
                    AppIdCase{"a counted trailing NUL", "abc", 4, 4, std::string("abc\0", 4)},
                    AppIdCase{"embedded NULs", std::string("a\0b", 3), std::nullopt, 3, std::string("a\0b", 3)},
                    AppIdCase{"reported size 0", "abc", 0, 0, ""},
                    AppIdCase{"a short count", "abcdef", 3, 3, "abc"}));

TEST_F(SimTransport, SetApplicationIdReplacesAScript)
{
    sim::world().scenario().update([&](sim::ScenarioState& s) {
        s.transport.applicationId = "abc";
        s.transport.applicationIdReportedSize = 0;
    });
    CK7RTransport::setApplicationID("mine");
    EXPECT_EQ(readApplicationId(), "mine");
    CK7RTransport::setApplicationID(nullptr);
    EXPECT_EQ(lastArgs("CK7RTransport::setApplicationID"), sim::Values{sim::Value()});
    EXPECT_EQ(readApplicationId(), "");
}

TEST_F(SimTransport, ASecondPassNeverWritesPastTheBuffer)
{
    CK7RTransport::setApplicationID("abcdef");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    std::size_t size = 3;
    CK7RTransport::getApplicationID(buffer, size);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(buffer, 4), "abcx");
}

TEST_F(SimTransport, CreateSessionGivesOneReferenceOrNullWhenScripted)
{
    sim::Registry& registry = sim::world().registry();
    const auto before = registry.live("IK7RSession");
    IK7RSession* session = CK7RTransport::createSession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(registry.live("IK7RSession"), before + 1);
    const auto ids = registry.objects("IK7RSession");
    int count = 0;
    ASSERT_TRUE(registry.refCount(ids.back(), count));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Disconnected);
    EXPECT_EQ(session->release(), 0);
    EXPECT_EQ(registry.live("IK7RSession"), before);

    sim::world().faults().arm("CK7RTransport::createSession", sim::FaultKind::Null);
    EXPECT_EQ(CK7RTransport::createSession(), nullptr);
    session = CK7RTransport::createSession();
    ASSERT_NE(session, nullptr);
    session->release();
    EXPECT_EQ(sim::world().journal().entries(std::string("CK7RTransport::createSession")).size(), 3u);
}

TEST_F(SimTransport, FinializeStopsTheWorldUntilReset)
{
    sim::world().dispatcher().post([] {});
    ASSERT_TRUE(sim::world().dispatcher().flush(5000));
    CK7RTransport::finialize();
    EXPECT_EQ(sim::world().finalizeCalls(), 1);
    EXPECT_TRUE(sim::world().dispatcher().stopped());
    EXPECT_EQ(CK7RTransport::createSession(), nullptr);
    EXPECT_FALSE(sim::world().dispatcher().post([] {}));
    const auto entries = sim::world().journal().entries(std::string("CK7RTransport::"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].op, "CK7RTransport::finialize");

    sim::world().reset();
    EXPECT_EQ(sim::world().finalizeCalls(), 0);
    IK7RSession* session = CK7RTransport::createSession();
    ASSERT_NE(session, nullptr);
    session->release();
    EXPECT_TRUE(sim::world().dispatcher().post([] {}));
    EXPECT_TRUE(sim::world().dispatcher().flush(5000));
}

TEST_F(SimTransport, AnAnswerDroppedAtFinializeFailsOnAThreadOfItsOwn)
{
    IK7RSession* session = CK7RTransport::createSession();
    Failures failures;
    session->subscribeResponse(&failures);
    IK7RRequestFactory* factory = session->getRequestFactory();
    // A job ahead of the answer keeps the dispatcher busy until finialize has dropped the answer
    // (the queue is dropped as the dispatcher turns stopped).
    ASSERT_TRUE(sim::world().dispatcher().post([] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!sim::world().dispatcher().stopped() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }));
    IK7RRequest* request = factory->createRefreshTableRequest(K7RTable::Offers);
    const std::string id = request->getRequestId();
    session->sendRequest(request);
    request->release();
    CK7RTransport::finialize();
    EXPECT_EQ(failures.waitFor(1), std::vector<std::string>{id + ":The library was finalized"});
    EXPECT_EQ(session->getSessionStatus(), IK7RSessionStatus::Disconnected);
    factory->release();
    session->unsubscribeResponse(&failures);
    session->release();
    EXPECT_TRUE(failures.settled());
}

TEST_F(SimTransport, ServerTimeFollowsTheClock)
{
    IK7RSession* session = CK7RTransport::createSession();
    sim::world().clock().setVirtualOle(44398.4375);
    EXPECT_DOUBLE_EQ(session->getServerTime(), 44398.4375);
    sim::world().clock().advance(6 * 3600 * 1000);
    EXPECT_DOUBLE_EQ(session->getServerTime(), 44398.6875);
    session->release();
}

class SimSessionDescriptors : public SimTransport
{
protected:
    void SetUp() override
    {
        SimTransport::SetUp();
        session = CK7RTransport::createSession();
    }
    void TearDown() override
    {
        session->release();
        EXPECT_EQ(sim::world().registry().live("IK7RSessionDescriptor"), 0);
        EXPECT_EQ(sim::world().registry().live("IK7RSessionDescriptorCollection"), 0);
        SimTransport::TearDown();
    }
    IK7RSession* session = nullptr;
};

TEST_F(SimSessionDescriptors, DefaultIsAnEmptyCollection)
{
    IK7RSessionDescriptorCollection* collection = session->getTradingSessionDescriptors();
    ASSERT_NE(collection, nullptr);
    EXPECT_EQ(collection->size(), 0);
    EXPECT_EQ(collection->get(0), nullptr);
    collection->release();
}

TEST_F(SimSessionDescriptors, ScriptedListWithNullTextsAndBoundsChecks)
{
    sim::world().scenario().update([](sim::ScenarioState& s) {
        s.sessionDescriptors = std::vector<sim::SessionDescriptorSpec>{
            {"S1", "Main", "The main session", false}, {"S2", std::nullopt, "", true}, {"S3", "Night", std::nullopt, false}};
    });
    IK7RSessionDescriptorCollection* collection = session->getTradingSessionDescriptors();
    ASSERT_NE(collection, nullptr);
    ASSERT_EQ(collection->size(), 3);
    EXPECT_EQ(collection->get(3), nullptr);
    EXPECT_EQ(collection->get(-1), nullptr);

    IK7RSessionDescriptor* second = collection->get(1);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second->getId(), "S2");
    EXPECT_EQ(second->getName(), nullptr);
    EXPECT_STREQ(second->getDescription(), "");
    EXPECT_TRUE(second->getRequiresPin());
    IK7RSessionDescriptor* third = collection->get(2);
    EXPECT_EQ(third->getDescription(), nullptr);
    EXPECT_FALSE(third->getRequiresPin());

    // An item handed out outlives its collection.
    collection->release();
    EXPECT_EQ(sim::world().registry().live("IK7RSessionDescriptor"), 2);
    EXPECT_STREQ(second->getId(), "S2");
    second->release();
    third->release();
}

TEST_F(SimSessionDescriptors, NullWhenScriptedSo)
{
    sim::world().scenario().update([](sim::ScenarioState& s) { s.sessionDescriptors.reset(); });
    EXPECT_EQ(session->getTradingSessionDescriptors(), nullptr);
    sim::world().reset();
    sim::world().faults().arm("IK7RSession::getTradingSessionDescriptors", sim::FaultKind::Null);
    EXPECT_EQ(session->getTradingSessionDescriptors(), nullptr);
    IK7RSessionDescriptorCollection* collection = session->getTradingSessionDescriptors();
    ASSERT_NE(collection, nullptr);
    collection->release();
}

}  // namespace
