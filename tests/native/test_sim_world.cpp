// Tests of the simulated world's bookkeeping: the live-object registry and its reference count
// (both library layouts), the journal, the fault table, and what reset keeps and clears.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plenta/Plenta.h"
#include "velvix/K7RBase.h"

#include "core/World.h"

namespace
{

std::atomic<int> destroyed{0};

// A trading-library object (destructor first in its table) and a Plenta one (destructor last).
class ITestThing : public IAddRef
{
public:
    virtual int value() = 0;
};

class TestThing final : public sim::RefCounted<ITestThing>
{
public:
    TestThing() : RefCounted("TestThing") {}
    int value() override { return 7; }

private:
    ~TestThing() override { ++destroyed; }
};

class ITestPlentaThing : public plenta::IAddRef
{
protected:
    ~ITestPlentaThing() override = default;
};

class TestPlentaThing final : public sim::RefCounted<ITestPlentaThing>
{
public:
    TestPlentaThing() : RefCounted("TestPlentaThing") {}

private:
    ~TestPlentaThing() override { ++destroyed; }
};

class SimWorld : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        destroyed = 0;
    }
    void TearDown() override { sim::world().reset(); }

    sim::Registry& registry = sim::world().registry();

    int refs(std::uint64_t id)
    {
        int n = -1;
        return registry.refCount(id, n) ? n : -1;
    }
};

TEST_F(SimWorld, RegistryCountsLiveObjectsByKindInCreationOrder)
{
    ITestThing* a = new TestThing;
    ITestThing* b = new TestThing;
    auto* pa = dynamic_cast<sim::Registered*>(a);
    auto* pb = dynamic_cast<sim::Registered*>(b);
    ASSERT_TRUE(pa && pb);
    EXPECT_LT(pa->simId(), pb->simId());
    EXPECT_EQ(pa->simKind(), "TestThing");
    EXPECT_EQ(registry.live("TestThing"), 2);
    EXPECT_EQ(registry.objects("TestThing"), (std::vector<std::uint64_t>{pa->simId(), pb->simId()}));
    EXPECT_EQ(registry.kindOf(pa->simId()), "TestThing");

    const std::uint64_t idA = pa->simId();
    EXPECT_EQ(refs(idA), 1);
    EXPECT_EQ(a->addRef(), 2);
    EXPECT_EQ(refs(idA), 2);
    EXPECT_EQ(a->release(), 1);
    EXPECT_EQ(a->release(), 0);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(refs(idA), -1);
    EXPECT_EQ(registry.kindOf(idA), "");
    EXPECT_EQ(registry.live("TestThing"), 1);
    EXPECT_EQ(registry.releaseCalls("TestThing"), 2);
    EXPECT_EQ(b->release(), 0);
    EXPECT_EQ(registry.live("TestThing"), 0);
    EXPECT_EQ(registry.live("NoSuchKind"), 0);
}

TEST_F(SimWorld, PlentaLayoutCountsTheSameWay)
{
    plenta::IAddRef* p = new TestPlentaThing;
    EXPECT_EQ(registry.live("TestPlentaThing"), 1);
    EXPECT_EQ(p->addRef(), 2);
    EXPECT_EQ(p->release(), 1);
    EXPECT_EQ(p->release(), 0);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(registry.live("TestPlentaThing"), 0);
    EXPECT_EQ(registry.releaseCalls("TestPlentaThing"), 2);
}

TEST_F(SimWorld, StandInReferencesAreNotCountedAsCallerReleases)
{
    sim::Ref<TestThing> held = sim::make<TestThing>();
    const std::uint64_t id = held->simId();
    {
        sim::Ref<TestThing> copy = held;
        ITestThing* forCaller = held.share();
        EXPECT_EQ(refs(id), 3);
        EXPECT_EQ(forCaller->release(), 2);
    }
    EXPECT_EQ(refs(id), 1);
    EXPECT_EQ(registry.releaseCalls("TestThing"), 1);
    held.reset();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(registry.releaseCalls("TestThing"), 1);
}

TEST_F(SimWorld, AcquireByIdGivesAReferenceOnlyToALiveObjectOfThatType)
{
    sim::Ref<TestThing> thing = sim::make<TestThing>();
    const std::uint64_t id = thing->simId();
    TestThing* again = registry.acquire<TestThing>(id);
    ASSERT_EQ(again, thing.get());
    EXPECT_EQ(refs(id), 2);
    again->simReleaseQuiet();
    EXPECT_EQ(registry.acquire<TestPlentaThing>(id), nullptr);
    EXPECT_EQ(refs(id), 1);
    thing.reset();
    EXPECT_EQ(registry.acquire<TestThing>(id), nullptr);
}

TEST_F(SimWorld, TheLastOfConcurrentReleasesDeletesExactlyOnce)
{
    constexpr int Rounds = 300;
    for (int i = 0; i < Rounds; ++i)
    {
        ITestThing* thing = new TestThing;
        thing->addRef();
        std::atomic<bool> go{false};
        auto drop = [&] {
            while (!go.load())
                std::this_thread::yield();
            thing->release();
        };
        std::thread t1(drop), t2(drop);
        go = true;
        t1.join();
        t2.join();
    }
    EXPECT_EQ(destroyed, Rounds);
    EXPECT_EQ(registry.live("TestThing"), 0);
    EXPECT_EQ(registry.releaseCalls("TestThing"), 2 * Rounds);
}

TEST_F(SimWorld, JournalKeepsNullTextsApartAndFiltersByOperationOrClass)
{
    const char embedded[] = {'a', '\0', 'b'};
    sim::journal("velvix", "CK7RTransport::setProxy",
                 {sim::text("h"), sim::number(80), sim::text(nullptr), sim::text("")});
    sim::journal("velvix", "CK7RTransport::setCAInfo", {sim::bytes(embedded, 3)});
    sim::journal("velvix", "IK7RSession::logout");

    const auto all = sim::world().journal().entries();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_LT(all[0].seq, all[1].seq);
    const sim::Values& args = all[0].args;
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(std::get<std::string>(args[0]), "h");
    EXPECT_EQ(std::get<std::int64_t>(args[1]), 80);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(args[2]));
    EXPECT_EQ(std::get<std::string>(args[3]), "");
    EXPECT_EQ(std::get<std::string>(all[1].args[0]), std::string(embedded, 3));

    EXPECT_EQ(sim::world().journal().entries(std::string("CK7RTransport::setCAInfo")).size(), 1u);
    EXPECT_EQ(sim::world().journal().entries(std::string("CK7RTransport::")).size(), 2u);
    EXPECT_EQ(sim::world().journal().entries(std::string("CK7RTransport")).size(), 0u);
}

TEST_F(SimWorld, JournalIsABoundedRingSafeAcrossThreads)
{
    sim::Journal ring(100);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&ring, t] {
            for (int i = 0; i < 500; ++i)
                ring.record("velvix", "op", {sim::number(t * 1000 + i)});
        });
    for (auto& w : writers)
        w.join();
    const auto entries = ring.entries();
    ASSERT_EQ(entries.size(), 100u);
    for (std::size_t i = 1; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].seq, entries[i - 1].seq + 1);
    EXPECT_EQ(entries.back().seq, 2000u);
}

TEST_F(SimWorld, FaultsFireTheArmedNumberOfTimes)
{
    sim::Faults& faults = sim::world().faults();
    struct Case
    {
        int times;
        int expectedFires;  // out of 5 calls
    };
    for (const Case c : {Case{1, 1}, Case{3, 3}, Case{sim::Faults::Persistent, 5}})
    {
        faults.arm("Op", sim::FaultKind::Value, sim::number(42), c.times);
        int fires = 0;
        for (int i = 0; i < 5; ++i)
            if (auto f = faults.take("Op"))
            {
                ++fires;
                EXPECT_EQ(f->kind, sim::FaultKind::Value);
                EXPECT_EQ(f->asInt(), 42);
                EXPECT_EQ(f->asDouble(), 42.0);
                EXPECT_FALSE(f->asText());
            }
        EXPECT_EQ(fires, c.expectedFires) << c.times;
        faults.clear();
    }
}

TEST_F(SimWorld, ArmingAgainReplacesAndOtherOperationsAreUntouched)
{
    sim::Faults& faults = sim::world().faults();
    faults.arm("Op", sim::FaultKind::Null, {}, sim::Faults::Persistent);
    faults.arm("Op", sim::FaultKind::Value, sim::text("x"));
    EXPECT_FALSE(faults.take("Other"));
    auto f = faults.take("Op");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, sim::FaultKind::Value);
    EXPECT_EQ(f->asText(), "x");
    EXPECT_FALSE(faults.take("Op"));
    faults.arm("Op", sim::FaultKind::False, {}, sim::Faults::Persistent);
    faults.disarm("Op");
    EXPECT_FALSE(faults.take("Op"));
}

TEST_F(SimWorld, ResetClearsScriptsButKeepsLiveObjects)
{
    ITestThing* thing = new TestThing;
    thing->addRef();
    thing->release();
    sim::world().faults().arm("Op", sim::FaultKind::Null);
    sim::journal("velvix", "Op");
    sim::world().clock().setVirtual(0);
    const auto timer = sim::world().dispatcher().postAfter(10, [] {});

    sim::world().reset();

    EXPECT_EQ(registry.live("TestThing"), 1);
    EXPECT_EQ(registry.releaseCalls("TestThing"), 0);
    EXPECT_FALSE(sim::world().faults().take("Op"));
    EXPECT_TRUE(sim::world().journal().entries().empty());
    EXPECT_FALSE(sim::world().clock().isVirtual());
    EXPECT_FALSE(sim::world().dispatcher().cancel(timer));
    EXPECT_EQ(thing->value(), 7);
    thing->release();
    EXPECT_EQ(destroyed, 1);
}

}  // namespace
