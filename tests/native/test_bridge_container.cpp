// tests/native/test_bridge_container.cpp: the generic container's bounds, iterator equality, the
// size read afresh at each step, and the references container and iterators hold.
#include "AddRefImpl.h"
#include "GILGuard.h"
#include "ObjectIteratorContainer.h"

#include <velvix/Velvix.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace vexa2::python;
namespace bp = boost::python;

namespace {

// A library-shaped collection whose size a test sets and whose get calls it records.
class FakeCollection : public TThreadSafeAddRefImpl<IAddRef>
{
public:
    explicit FakeCollection(int size) : m_size(size) {}
    int size() { return m_size; }
    IK7RSessionDescriptor* get(int index)
    {
        gets.push_back(index);
        return nullptr;
    }

    int m_size;
    std::vector<int> gets;
};

int countOf(IAddRef* object)
{
    object->addRef();
    return object->release();
}

// The index itself, so that an iteration shows which positions it visited.
bp::object indexGetter(FakeCollection* collection, std::size_t index)
{
    if (!indexInRange(collection, index))
        return bp::object();
    return bp::object(index);
}

using Indexes = K7RObjectIteratorContainer<FakeCollection, indexGetter>;
using Defaults = K7RObjectIteratorContainer<FakeCollection>;

std::vector<std::size_t> drain(const Indexes& container, FakeCollection* collection = nullptr,
                               int resizeAfterFirst = -1)
{
    std::vector<std::size_t> seen;
    for (auto it = container.begin(), end = container.end(); it != end; ++it)
    {
        seen.push_back(bp::extract<std::size_t>(*it));
        if (collection && seen.size() == 1 && resizeAfterFirst >= 0)
            collection->m_size = resizeAfterFirst;
    }
    return seen;
}

class BridgeContainer : public testing::Test
{
protected:
    GILGuard m_gil;
};

}  // namespace

struct BoundsCase
{
    int size;
    std::size_t index;
    bool reachesLibrary;
};

class BridgeContainerBounds : public testing::TestWithParam<BoundsCase>
{
protected:
    GILGuard m_gil;
};

TEST_P(BridgeContainerBounds, OnlyIndexesBelowTheSizeAndWithin31BitsReachTheLibrary)
{
    const BoundsCase c = GetParam();
    auto* collection = new FakeCollection(c.size);
    {
        Defaults container(collection);
        EXPECT_TRUE(container.get(c.index).is_none());
    }
    if (c.reachesLibrary)
        EXPECT_EQ(collection->gets, std::vector<int>{static_cast<int>(c.index)});
    else
        EXPECT_TRUE(collection->gets.empty());
    collection->release();
}

// A size of -1 widens to the largest size_t, so only the 31-bit limit keeps large indexes out.
INSTANTIATE_TEST_SUITE_P(Indexes, BridgeContainerBounds, testing::Values(
    BoundsCase{3, 0, true},
    BoundsCase{3, 2, true},
    BoundsCase{3, 3, false},
    BoundsCase{0, 0, false},
    BoundsCase{-1, 0x7fffffff, true},
    BoundsCase{-1, 0x80000000u, false},
    BoundsCase{-1, 0xffffffffu, false},
    BoundsCase{-1, SIZE_MAX - 1, false}));

TEST_F(BridgeContainer, NullCollectionHasSizeZeroAndIteratesNothing)
{
    Indexes container(nullptr);
    EXPECT_EQ(container.size(), 0u);
    EXPECT_TRUE(container.get(0).is_none());
    EXPECT_TRUE(drain(container).empty());
    EXPECT_EQ(defaultSize<FakeCollection>(nullptr), 0u);
}

struct EqualityCase
{
    const char* name;
    bool aAtEnd;
    std::size_t aSteps;
    bool bAtEnd;
    std::size_t bSteps;
    int size;
    bool nullCollection;
    bool equal;
};

class BridgeContainerEquality : public testing::TestWithParam<EqualityCase>
{
protected:
    GILGuard m_gil;
};

TEST_P(BridgeContainerEquality, FollowsTheAtEndFlagsAndTheSize)
{
    const EqualityCase c = GetParam();
    FakeCollection* collection = c.nullCollection ? nullptr : new FakeCollection(c.size);
    {
        Indexes container(collection);
        auto at = [&](bool atEnd, std::size_t steps) {
            auto it = atEnd ? container.end() : container.begin();
            for (std::size_t i = 0; i < steps; ++i)
                ++it;
            return it;
        };
        const auto a = at(c.aAtEnd, c.aSteps);
        const auto b = at(c.bAtEnd, c.bSteps);
        EXPECT_EQ(a == b, c.equal);
        EXPECT_EQ(b == a, c.equal);
        EXPECT_EQ(a != b, !c.equal);
    }
    if (collection)
        collection->release();
}

INSTANTIATE_TEST_SUITE_P(Iterators, BridgeContainerEquality, testing::Values(
    EqualityCase{"RunningSameIndex", false, 2, false, 2, 5, false, true},
    EqualityCase{"RunningOtherIndex", false, 1, false, 2, 5, false, false},
    EqualityCase{"RunningPastSizeStillByIndex", false, 7, false, 9, 5, false, false},
    EqualityCase{"BothAtEnd", true, 0, true, 3, 5, false, true},
    EqualityCase{"RunningBelowSizeVersusEnd", false, 4, true, 0, 5, false, false},
    EqualityCase{"RunningAtSizeVersusEnd", false, 5, true, 0, 5, false, true},
    EqualityCase{"RunningBeyondSizeVersusEnd", false, 6, true, 0, 5, false, true},
    EqualityCase{"NullCollectionAlwaysAtEnd", false, 0, true, 0, 0, true, true}),
    [](const testing::TestParamInfo<EqualityCase>& info) { return std::string(info.param.name); });

TEST_F(BridgeContainer, SizeIsReadAgainAtEveryStep)
{
    auto* growing = new FakeCollection(2);
    auto* shrinking = new FakeCollection(5);
    {
        Indexes grows(growing);
        Indexes shrinks(shrinking);
        EXPECT_EQ(drain(grows, growing, 4), (std::vector<std::size_t>{0, 1, 2, 3}));
        EXPECT_EQ(drain(shrinks, shrinking, 1), (std::vector<std::size_t>{0}));
    }
    growing->release();
    shrinking->release();
}

TEST_F(BridgeContainer, ContainerAndIteratorsHoldTheirOwnReferences)
{
    auto* collection = new FakeCollection(1);
    auto* container = new Indexes(collection);
    EXPECT_EQ(countOf(collection), 2);
    {
        auto it = container->begin();
        const auto end = container->end();
        EXPECT_EQ(countOf(collection), 4);
        delete container;  // the iterators keep the collection alive on their own
        EXPECT_EQ(countOf(collection), 3);
        EXPECT_EQ(bp::extract<std::size_t>(*it++)(), 0u);
        EXPECT_TRUE(it == end);
    }
    EXPECT_EQ(countOf(collection), 1);
    collection->release();
}
