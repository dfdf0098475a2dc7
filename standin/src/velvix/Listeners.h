// The listeners a session holds at one subscription point. The library keeps its own reference to
// each listener it holds; callers' listeners are foreign objects, so they are counted through their
// own addRef/release only (no type inspection: a listener may be any object with the right table).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
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
template <class L>
class ListenerList
{
public:
    struct Held
    {
        std::uint64_t token;
        ListenerRef<L> ref;
        L* get() const { return ref.get(); }
    };
    using Entry = std::shared_ptr<const Held>;

    void add(std::uint64_t token, ListenerRef<L> ref)
    {
        entries_.push_back(std::make_shared<const Held>(Held{token, std::move(ref)}));
    }
    void add(Entry entry) { entries_.push_back(std::move(entry)); }

    // The newest entry of `listener`, null when it is not subscribed.
    Entry remove(L* listener)
    {
        auto it = std::find_if(entries_.rbegin(), entries_.rend(),
                               [&](const Entry& e) { return e->get() == listener; });
        if (it == entries_.rend())
            return nullptr;
        Entry entry = std::move(*it);
        entries_.erase(std::next(it).base());
        return entry;
    }

    bool holds(std::uint64_t token) const
    {
        return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e->token == token; });
    }

    int size() const { return static_cast<int>(entries_.size()); }

    std::vector<Entry> snapshot() const { return entries_; }

    // Empties the list; the entries go with the result.
    std::vector<Entry> takeAll() { return std::exchange(entries_, {}); }

private:
    std::vector<Entry> entries_;
};

}  // namespace sim::velvix
