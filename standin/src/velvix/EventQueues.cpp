// The simulated event queues: putting, taking and waiting, the queue listeners, the loans of an
// owner, and the book of live queues that finialize wakes. deleteAllEvents and the subscriptions
// are journaled as "<interface>::<name>"; the operations that run per event are not.
#include "EventQueues.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "core/Fork.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{
constexpr const char* Lib = "velvix";

// The live queues (for finialize) and the loan counts per kind.
struct QueueBook
{
    std::mutex mutex;  // taken with nothing else but the queues' own
    std::set<Registered*> live;
    std::map<std::string, QueueCounts> counts;

    QueueBook()
    {
        world().onReset([this] {
            std::lock_guard<std::mutex> lock(mutex);
            counts.clear();
        });
        // A fork's child wakes only its own queues at finialize: the parent's waiters are not
        // there, and a queue's lock may have been held by one of them.
        aroundFork([this] { mutex.lock(); }, [this] { mutex.unlock(); },
                   [this] {
                       renewAfterFork(mutex);
                       live.clear();
                   });
    }
};

QueueBook& book()
{
    static QueueBook* b = new QueueBook;  // outlives every queue
    return *b;
}

// Made as the library loads: a fork during a first use would leave its making unfinished in the
// child, which would wait on it for good.
const bool bookReady = (book(), true);

template <class Queue>
void enter(Queue* queue)
{
    (void)bookReady;
    std::lock_guard<std::mutex> lock(book().mutex);
    book().live.insert(queue);
}

void leave(Registered* queue)
{
    std::lock_guard<std::mutex> lock(book().mutex);
    book().live.erase(queue);
}

void count(const std::string& kind, bool loan)
{
    std::lock_guard<std::mutex> lock(book().mutex);
    QueueCounts& c = book().counts[kind];
    ++(loan ? c.loans : c.returns);
}
}  // namespace

// --- items ---------------------------------------------------------------------------------------

QueueItem::QueueItem(RowHold row, K7RTableUpdateType event, K7RUpdatesProcessStatus process)
    : RefCounted("IK7RAllEventQueueItem"), row_(std::move(row)), event_(event), process_(process)
{
}

QueueItem::~QueueItem() = default;

// --- a queue ---------------------------------------------------------------------------------------

template <class I, class E, class L>
EventQueue<I, E, L>::EventQueue(const char* kind, K7RTable belong, K7RTableUpdateType events, bool flag)
    : Registered(kind), belong_(belong), events_(events), flag_(flag)
{
    enter(this);
}

template <class I, class E, class L>
EventQueue<I, E, L>::~EventQueue()
{
    // First of all: finialize may be waking this queue right now.
    leave(this);
}

template <class I, class E, class L>
bool EventQueue<I, E, L>::isEmpty()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return elements_.empty();
}

template <class I, class E, class L>
int EventQueue<I, E, L>::size()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(elements_.size());
}

template <class I, class E, class L>
void EventQueue<I, E, L>::deleteAllEvents()
{
    journal(Lib, (simKind() + "::deleteAllEvents").c_str(), {number(simId())});
    std::deque<Ref<E>> dropped;  // given back after the lock is let go
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(elements_);
    ++wakeUps_;
    changed_.notify_all();
}

template <class I, class E, class L>
bool EventQueue<I, E, L>::takeLocked(E*& item)
{
    if (elements_.empty())
        return false;
    item = elements_.front().detach();
    elements_.pop_front();
    return true;
}

template <class I, class E, class L>
bool EventQueue<I, E, L>::tryGet(E*& item)
{
    item = nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return takeLocked(item);
}

template <class I, class E, class L>
template <class Wait>
bool EventQueue<I, E, L>::waitLocked(std::unique_lock<std::mutex>& lock, Wait wait)
{
    const std::uint64_t wakeUps = wakeUps_;
    ++waiters_;
    const bool woken = wait(lock, [&] {
        return !elements_.empty() || wakeUps_ != wakeUps || closed_ || ended_ || world().finalized();
    });
    --waiters_;
    return woken;
}

template <class I, class E, class L>
void EventQueue<I, E, L>::waitGet(E*& item)
{
    item = nullptr;
    // Held while waiting, so that a queue given back meanwhile goes only when this call is done.
    Ref<EventQueue> self = Ref<EventQueue>::retain(this);
    std::unique_lock<std::mutex> lock(mutex_);
    waitLocked(lock, [this](auto& l, auto ready) {
        changed_.wait(l, ready);
        return true;
    });
    takeLocked(item);
}

template <class I, class E, class L>
bool EventQueue<I, E, L>::timedWaitGet(E*& item, unsigned int milliseconds)
{
    item = nullptr;
    Ref<EventQueue> self = Ref<EventQueue>::retain(this);
    std::unique_lock<std::mutex> lock(mutex_);
    const bool woken = waitLocked(lock, [this, milliseconds](auto& l, auto ready) {
        return changed_.wait_for(l, std::chrono::milliseconds(milliseconds), ready);
    });
    if (!woken)
        return false;
    takeLocked(item);
    return true;
}

template <class I, class E, class L>
void EventQueue<I, E, L>::subscribeOnPutInQueue(L* listener)
{
    journal(Lib, (simKind() + "::subscribeOnPutInQueue").c_str(), {number(simId()), flag(listener != nullptr)});
    if (!listener)
        return;
    auto ref = ListenerRef<L>::retain(listener);
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.add(std::move(ref));
}

template <class I, class E, class L>
void EventQueue<I, E, L>::unsubscribeOnPutInQueue(L* listener)
{
    journal(Lib, (simKind() + "::unsubscribeOnPutInQueue").c_str(), {number(simId()), flag(listener != nullptr)});
    typename ListenerList<L>::Entry dropped;  // given back after the lock is let go
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = listeners_.remove(listener);
}

template <class I, class E, class L>
void EventQueue<I, E, L>::put(Ref<E> element)
{
    typename ListenerList<L>::Snapshot held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return;
        elements_.push_back(element);
        changed_.notify_all();
        if (element)
            held = listeners_.snapshot();
    }
    // The element stays lent (this call holds it) whoever takes it out meanwhile.
    ListenerList<L>::callSubscribed(held, [&](L* l) { l->onPutInQueue(element.get()); });
}

template <class I, class E, class L>
void EventQueue<I, E, L>::close()
{
    std::deque<Ref<E>> dropped;
    std::vector<typename ListenerList<L>::Entry> listeners;
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(elements_);
    listeners = listeners_.takeAll();
    ++wakeUps_;
    changed_.notify_all();
}

template <class I, class E, class L>
void EventQueue<I, E, L>::wakeAll()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++wakeUps_;
    changed_.notify_all();
}

template <class I, class E, class L>
void EventQueue<I, E, L>::end()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

template <class I, class E, class L>
int EventQueue<I, E, L>::waiters() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return waiters_;
}

template <class I, class E, class L>
bool EventQueue<I, E, L>::closed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

template <class I, class E, class L>
int EventQueue<I, E, L>::subscribers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return listeners_.size();
}

template class EventQueue<IK7RAllEventQueue, IK7RAllEventQueueItem, IK7RAllEventQueueListener>;
template class EventQueue<IK7RUpdateEventQueue, IK7RRow, IK7RUpdateEventQueueListener>;

// --- loans -----------------------------------------------------------------------------------------

QueueLoans::~QueueLoans()
{
    for (auto& loan : loans_)
        loan.all ? loan.all->close() : loan.update->close();
}

AllEventQueue* QueueLoans::lendAll(K7RTable belong, bool flag)
{
    Ref<AllEventQueue> queue = make<AllEventQueue>("IK7RAllEventQueue", belong, K7RTableUpdateType::UpdateUnknown, flag);
    count("IK7RAllEventQueue", true);
    std::lock_guard<std::mutex> lock(mutex_);
    loans_.push_back({queue, nullptr});
    count_.fetch_add(1);
    if (ended_)
        queue->end();
    return queue.get();
}

UpdateEventQueue* QueueLoans::lendUpdate(K7RTable belong, K7RTableUpdateType type, bool flag)
{
    Ref<UpdateEventQueue> queue = make<UpdateEventQueue>("IK7RUpdateEventQueue", belong, type, flag);
    count("IK7RUpdateEventQueue", true);
    std::lock_guard<std::mutex> lock(mutex_);
    loans_.push_back({nullptr, queue});
    count_.fetch_add(1);
    if (ended_)
        queue->end();
    return queue.get();
}

namespace
{
// Takes `queue` off the loans (compared by address only: a foreign pointer is never used).
template <class Loan, class Queue, class Interface>
Ref<Queue> takeOff(std::vector<Loan>& loans, Ref<Queue> Loan::*member, Interface* queue)
{
    auto it = std::find_if(loans.begin(), loans.end(), [&](const Loan& loan) {
        return loan.*member && static_cast<Interface*>((loan.*member).get()) == queue;
    });
    if (it == loans.end())
        return nullptr;
    Ref<Queue> taken = std::move((*it).*member);
    loans.erase(it);
    return taken;
}
}  // namespace

bool QueueLoans::giveBack(IK7RAllEventQueue* queue)
{
    Ref<AllEventQueue> taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken = takeOff(loans_, &Loan::all, queue);
        if (taken)
            count_.fetch_sub(1);
    }
    if (!taken)
        return false;
    count("IK7RAllEventQueue", false);
    taken->close();
    return true;
}

bool QueueLoans::giveBack(IK7RUpdateEventQueue* queue)
{
    Ref<UpdateEventQueue> taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken = takeOff(loans_, &Loan::update, queue);
        if (taken)
            count_.fetch_sub(1);
    }
    if (!taken)
        return false;
    count("IK7RUpdateEventQueue", false);
    taken->close();
    return true;
}

void QueueLoans::put(K7RTableUpdateType op, EventRow& row, K7RUpdatesProcessStatus process)
{
    if (count_.load() == 0)
        return;
    std::vector<Loan> hearing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Loan& loan : loans_)
            if (loan.all || loan.update->getEventsType() == op)
                hearing.push_back(loan);
    }
    Ref<IK7RAllEventQueueItem> item;  // one, shared by every all-events queue of this owner
    for (const Loan& loan : hearing)
    {
        if (loan.update)
        {
            loan.update->put(Ref<IK7RRow>::adopt(row.frozen().share()));
            continue;
        }
        if (!item)
            item = Ref<IK7RAllEventQueueItem>::adopt(make<QueueItem>(row.frozen(), op, process).detach());
        loan.all->put(item);
    }
}

void QueueLoans::putMarker(K7RUpdatesProcessStatus process)
{
    if (count_.load() == 0)
        return;
    std::vector<Ref<AllEventQueue>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Loan& loan : loans_)
            if (loan.all)
                all.push_back(loan.all);
    }
    if (all.empty())
        return;
    auto item = Ref<IK7RAllEventQueueItem>::adopt(
        make<QueueItem>(RowHold(), K7RTableUpdateType::UpdateUnknown, process).detach());
    for (const auto& q : all)
        q->put(item);
}

void QueueLoans::endAll()
{
    std::vector<Loan> loans;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        loans = loans_;
    }
    for (const Loan& loan : loans)
        loan.all ? loan.all->end() : loan.update->end();
}

QueueCounts queueCounts(const std::string& kind)
{
    std::lock_guard<std::mutex> lock(book().mutex);
    auto it = book().counts.find(kind);
    return it == book().counts.end() ? QueueCounts{} : it->second;
}

void wakeAllQueues()
{
    // The book's lock keeps every listed queue from finishing its destructor meanwhile.
    std::lock_guard<std::mutex> lock(book().mutex);
    for (Registered* r : book().live)
    {
        if (auto* all = dynamic_cast<AllEventQueue*>(r))
            all->wakeAll();
        else if (auto* update = dynamic_cast<UpdateEventQueue*>(r))
            update->wakeAll();
    }
}

}  // namespace sim::velvix
