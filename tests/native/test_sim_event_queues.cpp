// Tests of the simulated event queues below what a script can reach: many takers racing on one
// queue each get distinct elements and every element exactly once, a waiter comes back with
// nothing when its queue is given back (a script's handle cannot go while it waits) or the library
// is finalized, queue listeners are called outside the queue's lock with the element lent, and an
// event's frozen row goes with the last queue that holds it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "velvix/Velvix.h"

#include "core/World.h"
#include "velvix/EventQueues.h"
#include "velvix/TableManager.h"

namespace
{

using namespace sim::velvix;

class SimEventQueues : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        manager = sim::make<TableManager>("A1", nullptr, [] { return SharedManagerListener(); });
        table = manager->table(K7RTable::Trades);
    }
    void TearDown() override
    {
        manager.reset();
        sim::world().dispatcher().flush(5000);
        sim::world().reset();
    }

    static sim::Ref<IK7RAllEventQueueItem> item(K7RTableUpdateType event)
    {
        return sim::Ref<IK7RAllEventQueueItem>::adopt(
            sim::make<QueueItem>(RowHold(), event, K7RUpdatesProcessStatus::UnknownProcessStatus).detach());
    }

    sim::Ref<TableManager> manager;
    Table* table = nullptr;
};

TEST_F(SimEventQueues, RacingTakersEachGetDistinctElementsAndEveryOneOnce)
{
    constexpr int Elements = 2000;
    constexpr int Takers = 4;
    auto* queue = static_cast<AllEventQueue*>(table->getAllEventQueue(false));
    std::mutex mutex;
    std::vector<IK7RAllEventQueueItem*> taken;
    std::atomic<int> count{0}, finished{0};
    std::vector<std::thread> takers;
    for (int t = 0; t < Takers; ++t)
        takers.emplace_back([&, t] {
            struct Done
            {
                std::atomic<int>& n;
                ~Done() { ++n; }
            } done{finished};
            while (count.load() < Elements)
            {
                IK7RAllEventQueueItem* it = nullptr;
                if (t % 2)
                    queue->waitGet(it);
                else
                    queue->timedWaitGet(it, 50);
                if (!it)
                    continue;
                std::lock_guard<std::mutex> lock(mutex);
                taken.push_back(it);
                ++count;
            }
        });
    for (int i = 0; i < Elements; ++i)
        queue->put(item(K7RTableUpdateType::Insert));
    // Takers still waiting come back with nothing; one may only now begin to wait, hence again.
    while (finished.load() < Takers)
    {
        if (count.load() == Elements)
            queue->deleteAllEvents();
        std::this_thread::yield();
    }
    for (auto& t : takers)
        t.join();

    EXPECT_EQ(taken.size(), static_cast<std::size_t>(Elements));
    EXPECT_EQ(std::set<IK7RAllEventQueueItem*>(taken.begin(), taken.end()).size(), taken.size());
    for (IK7RAllEventQueueItem* it : taken)
        it->release();
    EXPECT_EQ(sim::world().registry().live("IK7RAllEventQueueItem"), 0);
    table->returnAllEventQueue(queue);
    EXPECT_EQ(sim::world().registry().live("IK7RAllEventQueue"), 0);
}

TEST_F(SimEventQueues, AWaiterComesBackWithNothingWhenItsQueueIsGivenBackOrAtFinialize)
{
    for (const bool finalize : {false, true})
    {
        auto* queue = static_cast<UpdateEventQueue*>(table->getUpdateEventQueue(K7RTableUpdateType::Insert, false));
        std::promise<IK7RRow*> taken;
        std::thread waiter([&] {
            IK7RRow* row = nullptr;
            queue->waitGet(row);
            taken.set_value(row);
        });
        // The waiter holds the queue while it waits: the loan and its own.
        while (queue->simRefCount() < 2)
            std::this_thread::yield();
        if (finalize)
            CK7RTransport::finialize();
        else
            table->returnUpdateEventQueue(queue);
        std::future<IK7RRow*> result = taken.get_future();
        ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready) << finalize;
        EXPECT_EQ(result.get(), nullptr);
        waiter.join();
        if (finalize)
        {
            IK7RRow* row = nullptr;
            queue->waitGet(row);  // once finalized, at once
            EXPECT_EQ(row, nullptr);
            table->returnUpdateEventQueue(queue);
            sim::world().reset();
        }
        EXPECT_EQ(sim::world().registry().live("IK7RUpdateEventQueue"), 0);
    }
}

// One copy of an event's row serves every queue that heard it, and goes with the last of them:
// here a queue emptied, one given back, and one still lent when its manager goes.
TEST_F(SimEventQueues, AnEventsFrozenRowGoesWithTheLastQueueThatHoldsIt)
{
    auto live = [] { return sim::world().registry().live("IK7RTradeTableRow"); };
    IK7RUpdateEventQueue* emptied = table->getUpdateEventQueue(K7RTableUpdateType::Insert, false);
    IK7RAllEventQueue* returned = table->getAllEventQueue(false);
    manager->getTablesUpdateEventQueue();
    RowHold row = makeRow(K7RTable::Trades, RowKind::Table);
    table->insert(row);
    ASSERT_EQ(live(), 2) << "the table's row and one copy";
    emptied->deleteAllEvents();
    table->returnAllEventQueue(returned);
    EXPECT_EQ(live(), 2);
    manager.reset();
    EXPECT_EQ(live(), 1);
    row.reset();
    EXPECT_EQ(live(), 0);
}

// Reads the queue from inside its callback: a listener called under the queue's lock would hang.
class ReadingListener final : public IK7RUpdateEventQueueListener
{
public:
    int addRef() override { return ++refs; }
    int release() override { return --refs; }
    void onPutInQueue(IK7RRow* row) override
    {
        sizes.push_back(queue->size());
        rowRefs.push_back(dynamic_cast<sim::Registered*>(row)->simRefCount());
    }
    IK7RUpdateEventQueue* queue = nullptr;
    std::atomic<int> refs{1};
    std::vector<int> sizes;
    std::vector<int> rowRefs;
};

TEST_F(SimEventQueues, ListenersAreCalledOutsideTheLockWithTheRowLent)
{
    auto* queue = static_cast<UpdateEventQueue*>(table->getUpdateEventQueue(K7RTableUpdateType::Insert, false));
    ReadingListener listener;
    listener.queue = queue;
    queue->subscribeOnPutInQueue(&listener);
    EXPECT_EQ(listener.refs, 2);

    RowHold row = makeRow(K7RTable::Trades, RowKind::Table);
    queue->put(sim::Ref<IK7RRow>::adopt(row.share()));
    queue->put(sim::Ref<IK7RRow>());  // a null row is queued but told to no one
    EXPECT_EQ(listener.sizes, std::vector<int>{1});
    // This test's hold, the queue's element, and the put's own.
    EXPECT_EQ(listener.rowRefs, std::vector<int>{3});
    EXPECT_EQ(queue->size(), 2);

    table->returnUpdateEventQueue(queue);
    EXPECT_EQ(listener.refs, 1) << "a queue given back lets go of its listeners";
    EXPECT_EQ(dynamic_cast<sim::Registered*>(row->row())->simRefCount(), 1);
}

}  // namespace
