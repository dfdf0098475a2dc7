// tests/native/test_bridge_addref.cpp: the reference-counting templates over both IAddRef layouts:
// counts from 1, returns the new count, and deletes exactly once however the releases race.
#include "AddRefImpl.h"

#include <plenta/Plenta.h>
#include <velvix/K7RBase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using vexa2::python::TK7R2ThreadSafeAddRefImpl;
using vexa2::python::TThreadSafeAddRefImpl;

namespace {

std::atomic<int> g_deletions{0};

// A library-shaped interface over the Plenta layout (addRef, release, protected destructor).
class IPlentaProbe : public plenta::IAddRef
{
public:
    virtual int probe() = 0;

protected:
    ~IPlentaProbe() override = default;
};

// A trading-library interface (destructor, addRef, release).
class IVelvixProbe : public IAddRef
{
public:
    virtual int probe() = 0;
};

class PlentaProbe : public TK7R2ThreadSafeAddRefImpl<IPlentaProbe>
{
public:
    int probe() override { return 11; }
    ~PlentaProbe() override { ++g_deletions; }
};

class VelvixProbe : public TK7R2ThreadSafeAddRefImpl<IVelvixProbe>
{
public:
    int probe() override { return 22; }
    ~VelvixProbe() override { ++g_deletions; }
};

class PlainProbe : public TThreadSafeAddRefImpl<IAddRef>
{
public:
    ~PlainProbe() override { ++g_deletions; }
};

// Each case is reached through the library's own base, as the library reaches it.
template <class T>
struct ProbeCase;
template <>
struct ProbeCase<PlentaProbe>
{
    using Base = IPlentaProbe;
};
template <>
struct ProbeCase<VelvixProbe>
{
    using Base = IVelvixProbe;
};
template <>
struct ProbeCase<PlainProbe>
{
    using Base = IAddRef;
};

template <class T>
class AddRefImpl : public testing::Test
{
protected:
    void SetUp() override { g_deletions = 0; }
};

using Probes = testing::Types<PlentaProbe, VelvixProbe, PlainProbe>;
TYPED_TEST_SUITE(AddRefImpl, Probes);

}  // namespace

TYPED_TEST(AddRefImpl, CountsFromOneAndReturnsTheNewCount)
{
    typename ProbeCase<TypeParam>::Base* object = new TypeParam;
    EXPECT_EQ(object->addRef(), 2);
    EXPECT_EQ(object->addRef(), 3);
    EXPECT_EQ(object->release(), 2);
    EXPECT_EQ(object->release(), 1);
    EXPECT_EQ(g_deletions, 0);
    EXPECT_EQ(object->release(), 0);
    EXPECT_EQ(g_deletions, 1);
}

TYPED_TEST(AddRefImpl, ConcurrentReleasesDeleteExactlyOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    for (int round = 0; round < kRounds; ++round)
    {
        g_deletions = 0;
        typename ProbeCase<TypeParam>::Base* object = new TypeParam;
        for (int i = 1; i < kThreads; ++i)
            object->addRef();
        std::atomic<bool> go{false};
        std::vector<int> counts(kThreads, -1);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                while (!go.load())
                    std::this_thread::yield();
                // Churn before the last release so that the threads overlap.
                for (int k = 0; k < 50; ++k)
                    object->addRef(), object->release();
                counts[i] = object->release();
            });
        go = true;
        for (auto& thread : threads)
            thread.join();
        ASSERT_EQ(g_deletions, 1) << "round " << round;
        // Only the release that deleted saw 0; none saw a count below it.
        ASSERT_EQ(std::count(counts.begin(), counts.end(), 0), 1) << "round " << round;
        ASSERT_EQ(*std::min_element(counts.begin(), counts.end()), 0) << "round " << round;
    }
}
