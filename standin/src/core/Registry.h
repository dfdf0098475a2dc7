// simcore: the registry of live stand-in objects. Every object the simulated libraries hand out
// derives from Registered, which gives it an id (creation order), a kind (its interface name),
// and the reference count itself, so that tests can read counts and leaks by id and by kind.
// RefCounted<I> implements a library's addRef/release on top of it; it serves the trading
// library's IAddRef (virtual destructor first) and plenta::IAddRef / zorvat::IAddRef (destructor
// last) alike, since the interface alone fixes the table order.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/Fork.h"

namespace sim
{

class Registry;

class Registered
{
public:
    std::uint64_t simId() const { return id_; }
    const std::string& simKind() const;
    int simRefCount() const { return refs_.load(std::memory_order_acquire); }

    // References the stand-in itself holds: they are not counted as release() calls, so that
    // tests counting the caller's releases see only the caller's.
    int simAddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    int simReleaseQuiet() { return drop(); }

    Registered(const Registered&) = delete;
    Registered& operator=(const Registered&) = delete;

protected:
    explicit Registered(const char* kind);
    virtual ~Registered();

    // The body of an interface's release(): counted per kind.
    int countedRelease();

private:
    friend class Registry;
    int drop();

    std::atomic<int> refs_{1};
    std::uint64_t id_ = 0;
    struct KindStats* stats_ = nullptr;
};

struct KindStats
{
    std::string name;
    std::int64_t live = 0;                 // under the registry lock
    std::atomic<std::int64_t> releases{0}; // release() calls by callers
};

class Registry
{
public:
    std::int64_t live(const std::string& kind) const;
    std::vector<std::uint64_t> objects(const std::string& kind) const;  // creation order
    std::vector<std::uint64_t> objects() const;                          // every kind
    // The count of a live object; false when no object with that id is alive.
    bool refCount(std::uint64_t id, int& count) const;
    std::string kindOf(std::uint64_t id) const;  // empty when not live
    std::int64_t releaseCalls(const std::string& kind) const;
    void resetReleaseCalls();
    // For a part of the world, which lives as long as the process: its lock stays whole across a
    // fork (core/Fork.h).
    void keepWholeAcrossFork() { lockAcrossFork(mutex_); }

    // A new stand-in reference to a live object of type T, or null (gone, dying, other type).
    // The caller gives it back with simReleaseQuiet() (sim::Ref does).
    template <class T>
    T* acquire(std::uint64_t id);

private:
    friend class Registered;
    KindStats* enter(const char* kind, Registered* object, std::uint64_t& id);
    void leave(std::uint64_t id, KindStats* stats);
    Registered* lockedTryRetain(std::uint64_t id);  // under mutex_

    mutable std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Registered*> objects_;
    std::unordered_map<std::string, KindStats*> kinds_;  // never erased: objects point at them
};

Registry& registry();

template <class T>
T* Registry::acquire(std::uint64_t id)
{
    Registered* r;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        r = lockedTryRetain(id);
    }
    if (!r)
        return nullptr;
    if (T* t = dynamic_cast<T*>(r))
        return t;
    r->simReleaseQuiet();
    return nullptr;
}

// Implements Interface's addRef/release with the registered count: atomic, from 1, the object
// deleted at 0 on whichever thread releases last.
template <class Interface>
class RefCounted : public Interface, public Registered
{
public:
    int addRef() override { return simAddRef(); }
    int release() override { return countedRelease(); }

protected:
    template <class... Args>
    explicit RefCounted(const char* kind, Args&&... args)
        : Interface(std::forward<Args>(args)...), Registered(kind)
    {
    }
    ~RefCounted() override = default;
};

// An intrusive holder for references the stand-in keeps internally. Stand-in objects are given
// back quietly (not counted as the caller's release); anything else (a caller's listener) through
// its own release().
template <class T>
class Ref
{
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    static Ref adopt(T* p) { Ref r; r.p_ = p; return r; }
    static Ref retain(T* p)
    {
        if (p)
        {
            if (auto* reg = dynamic_cast<Registered*>(p))
                reg->simAddRef();
            else
                p->addRef();
        }
        return adopt(p);
    }
    Ref(const Ref& o) : p_(o.p_) { if (p_) retainRaw(p_); }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref o) noexcept { std::swap(p_, o.p_); return *this; }
    ~Ref() { reset(); }

    void reset()
    {
        if (T* p = std::exchange(p_, nullptr))
        {
            if (auto* reg = dynamic_cast<Registered*>(p))
                reg->simReleaseQuiet();
            else
                p->release();
        }
    }
    // Hands the reference to a caller (a getter's add-referenced result).
    T* detach() { return std::exchange(p_, nullptr); }
    // A new reference for a caller, this holder keeping its own.
    T* share() const { if (p_) retainRaw(p_); return p_; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const Ref& o) const { return p_ == o.p_; }
    bool operator!=(const Ref& o) const { return p_ != o.p_; }

private:
    static void retainRaw(T* p)
    {
        if (auto* reg = dynamic_cast<Registered*>(p))
            reg->simAddRef();
        else
            p->addRef();
    }
    T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> make(Args&&... args)
{
    return Ref<T>::adopt(new T(std::forward<Args>(args)...));
}

}  // namespace sim
