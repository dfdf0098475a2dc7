// The listeners a session holds at one subscription point. The library keeps its own reference to
// each listener it holds; callers' listeners are foreign objects, so they are counted through their
// own addRef/release only (no type inspection: a listener may be any object with the right table).
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace sim::velvix
{

// One reference to a caller's listener, given back through its own release().
template <class L>
class ListenerRef
{
public:
    ListenerRef() = default;
    static ListenerRef retain(L* p)
    {
        if (p)
            p->addRef();
        ListenerRef r;
        r.p_ = p;
        return r;
    }
    static ListenerRef adopt(L* p)
    {
        ListenerRef r;
        r.p_ = p;
        return r;
    }
    ListenerRef(const ListenerRef& o) : p_(o.p_) { if (p_) p_->addRef(); }
    ListenerRef(ListenerRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ListenerRef& operator=(ListenerRef o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ListenerRef() { reset(); }
    void reset()
    {
        if (L* p = std::exchange(p_, nullptr))
            p->release();
    }
    L* get() const { return p_; }

private:
    L* p_ = nullptr;
};

// A multiset: each subscribe adds an entry with a reference of its own, each unsubscribe takes
// away the newest entry of that listener. Every entry is delivered to. Entries are shared: a
// delivery (or a ghost) that still holds one keeps its reference, which goes back with the last
// holder, so no listener is ever called, not even addRef or release, under the session's lock.
// Callers hold that lock around every member and drop what they take after letting go of it.
//
// Deliveries share one immutable copy of the entries, made by the first delivery after a change,
// so that an event takes one reference, not one per entry. An entry taken out of the list that
// made it is marked at once, so a delivery still holding an older copy sees it gone without the
// lock.
template <class L>
class ListenerList
{
public:
    ListenerList() = default;
    ListenerList(const ListenerList&) = delete;  // entries know the list that made them
    ListenerList& operator=(const ListenerList&) = delete;

    struct Held
    {
        Held(const void* home, ListenerRef<L> ref) : home(home), ref(std::move(ref)) {}
        const void* home;  // the list whose subscription this is (ghost lists only share it)
        ListenerRef<L> ref;
        mutable std::atomic<bool> listed{true};
        L* get() const { return ref.get(); }
        // Still subscribed: checked just before each call, with no lock held.
        bool subscribed() const { return listed.load(std::memory_order_acquire); }
    };
    using Entry = std::shared_ptr<const Held>;
    using Snapshot = std::shared_ptr<const std::vector<Entry>>;

    void add(ListenerRef<L> ref) { add(std::make_shared<const Held>(this, std::move(ref))); }
    void add(Entry entry)
    {
        entries_.push_back(std::move(entry));
        shared_ = nullptr;  // only shares entries the list still holds
    }

    // The newest entry of `listener`, null when it is not subscribed.
    Entry remove(L* listener)
    {
        auto it = std::find_if(entries_.rbegin(), entries_.rend(),
                               [&](const Entry& e) { return e->get() == listener; });
        if (it == entries_.rend())
            return nullptr;
        Entry entry = std::move(*it);
        entries_.erase(std::next(it).base());
        unlist(*entry);
        shared_ = nullptr;  // `entry` keeps its reference past the copy
        return entry;
    }

    int size() const { return static_cast<int>(entries_.size()); }

    // The entries as they are now; the copy stays as it is while anyone holds it.
    Snapshot snapshot() const
    {
        if (!shared_ && !entries_.empty())
            shared_ = std::make_shared<const std::vector<Entry>>(entries_);
        return shared_;
    }

    // Calls each entry still subscribed. Callers hold no lock: the calls reach listeners.
    template <class Call>
    static void callSubscribed(const Snapshot& held, Call&& call)
    {
        if (held)
            for (const Entry& entry : *held)
                if (entry->subscribed())
                    call(entry->get());
    }

    // Takes the entries under `mutex` (the lock that guards this list) and calls them after
    // letting it go.
    template <class Call>
    void deliver(std::mutex& mutex, Call&& call) const
    {
        Snapshot held;
        {
            std::lock_guard<std::mutex> lock(mutex);
            held = snapshot();
        }
        callSubscribed(held, call);
    }

    // Empties the list; the entries go with the result.
    std::vector<Entry> takeAll()
    {
        for (const Entry& e : entries_)
            unlist(*e);
        shared_ = nullptr;
        return std::exchange(entries_, {});
    }

private:
    void unlist(const Held& e) const
    {
        if (e.home == this)
            e.listed.store(false);
    }

    std::vector<Entry> entries_;
    mutable Snapshot shared_;
};

}  // namespace sim::velvix
