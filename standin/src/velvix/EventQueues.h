// The event queues that tables and table managers lend out: the all-events queue, whose items
// carry a row, an event type and an updates-process status, and the update queue of one event
// type, whose items are rows; either row is a frozen copy of the table's row at its event. Queues
// are not reference counted: a queue lives from its loan until it is given back. The dispatcher
// puts events into them; callers take them out on their own threads and may block doing so.
// Queue listeners are called with no lock held.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "velvix/Velvix.h"

#include "Listeners.h"
#include "Rows.h"
#include "core/Registry.h"

namespace sim::velvix
{

// One event as an all-events queue holds it. The row may be null (a marker of an updates batch).
class QueueItem final : public RefCounted<IK7RAllEventQueueItem>
{
public:
    QueueItem(RowHold row, K7RTableUpdateType event, K7RUpdatesProcessStatus process);

    IK7RRow* getRow() override { return row_.share(); }
    K7RTableUpdateType getEventType() override { return event_; }
    K7RUpdatesProcessStatus getProcessStatus() override { return process_; }

private:
    ~QueueItem() override;

    const RowHold row_;
    const K7RTableUpdateType event_;
    const K7RUpdatesProcessStatus process_;
};

// A queue of `Element`s (null ones too). Waiters come back with nothing when the events are
// deleted, when the queue is given back, when its owner's session ended and at finialize; two
// waiters never get the same element.
template <class Interface, class Element, class Listener>
class EventQueue final : public Interface, public Registered
{
public:
    EventQueue(const char* kind, K7RTable belong, K7RTableUpdateType events, bool flag);

    bool isEmpty() override;
    void deleteAllEvents() override;
    bool tryGet(Element*& item) override;
    void waitGet(Element*& item) override;
    int size() override;
    bool timedWaitGet(Element*& item, unsigned int milliseconds) override;
    void subscribeOnPutInQueue(Listener* listener) override;
    void unsubscribeOnPutInQueue(Listener* listener) override;
    K7RTable getBelongTableType() override { return belong_; }
    K7RTableUpdateType getEventsType() override { return events_; }

    // --- the server's face ---------------------------------------------------------------------

    // Appends the element and wakes the waiters; then tells the listeners of a non-null one, on
    // the calling thread (the dispatcher). Nothing once the queue was given back.
    void put(Ref<Element> element);
    // Given back: the elements go, waiters wake with nothing, nothing is put any more.
    void close();
    // Wakes every waiter with nothing (finialize).
    void wakeAll();
    // The owner's session ended, so nothing comes any more: waits take what is left, then come
    // back with nothing at once, from now on.
    void end();

    bool loanFlag() const { return flag_; }
    // The stand-in's own holds (the loan, a waiter); callers never count a queue.
    int addRef() { return simAddRef(); }
    int release() { return simReleaseQuiet(); }
    bool closed() const;
    int subscribers() const;
    // Callers inside waitGet or timedWaitGet that a wake-up would reach now.
    int waiters() const;

private:
    ~EventQueue() override;

    // Under mutex_: the front element for the caller, if there is one.
    bool takeLocked(Element*& item);
    // Waits until an element, a wake-up, the return or finialize; under mutex_.
    template <class Wait>
    bool waitLocked(std::unique_lock<std::mutex>& lock, Wait wait);

    const K7RTable belong_;
    const K7RTableUpdateType events_;
    const bool flag_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Ref<Element>> elements_;
    std::uint64_t wakeUps_ = 0;
    bool closed_ = false;
    bool ended_ = false;
    int waiters_ = 0;
    ListenerList<Listener> listeners_;
};

using AllEventQueue = EventQueue<IK7RAllEventQueue, IK7RAllEventQueueItem, IK7RAllEventQueueListener>;
using UpdateEventQueue = EventQueue<IK7RUpdateEventQueue, IK7RRow, IK7RUpdateEventQueueListener>;

// The row of one event as the queues get it. A queue is read later, so it gets a frozen copy of
// the table's row as the event left it: made when the first queue that hears the event asks, and
// shared by every queue after it (a table's and its manager's alike). No queue, no copy.
class EventRow
{
public:
    explicit EventRow(const RowHold& live) : live_(live) {}
    EventRow(const EventRow&) = delete;
    EventRow& operator=(const EventRow&) = delete;

    const RowHold& frozen()
    {
        if (!frozen_ && live_)
            frozen_ = live_->freeze();
        return frozen_;
    }

private:
    const RowHold& live_;
    RowHold frozen_;
};

// The queues lent out by one owner (a table, or a manager for all its tables), in loan order.
// Each event goes to the queues in that order, whatever their kind: to every all-events queue as
// an item and to the update queues of its event type as a row.
class QueueLoans
{
public:
    QueueLoans() = default;
    ~QueueLoans();
    QueueLoans(const QueueLoans&) = delete;
    QueueLoans& operator=(const QueueLoans&) = delete;

    AllEventQueue* lendAll(K7RTable belong, bool flag);
    UpdateEventQueue* lendUpdate(K7RTable belong, K7RTableUpdateType type, bool flag);
    // False for a queue that is not on loan here (a foreign one, or one given back already).
    bool giveBack(IK7RAllEventQueue* queue);
    bool giveBack(IK7RUpdateEventQueue* queue);

    // One table event; the row may be null.
    void put(K7RTableUpdateType op, EventRow& row, K7RUpdatesProcessStatus process);
    // A marker of an updates batch: an item with no row, to the all-events queues only.
    void putMarker(K7RUpdatesProcessStatus process);
    // The owner's session ended: every queue lent, and every one lent from now on, ends its waits.
    void endAll();

private:
    // One queue on loan: either kind, so that one list keeps the loan order across kinds.
    struct Loan
    {
        Ref<AllEventQueue> all;
        Ref<UpdateEventQueue> update;
    };
    std::atomic<int> count_{0};  // lets an event skip the lock when nothing is on loan
    mutable std::mutex mutex_;
    std::vector<Loan> loans_;
    bool ended_ = false;
};

// Loans and returns per queue kind ("IK7RAllEventQueue", "IK7RUpdateEventQueue") since reset().
struct QueueCounts
{
    std::int64_t loans = 0;
    std::int64_t returns = 0;
};
QueueCounts queueCounts(const std::string& kind);

// finialize: every queue's waiters come back with nothing, now and from then on until reset().
void wakeAllQueues();

}  // namespace sim::velvix
