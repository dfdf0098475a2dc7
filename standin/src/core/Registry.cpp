// simcore: the live-object registry and the shared reference count.
#include "core/Registry.h"

#include "core/World.h"

namespace sim
{

Registry& registry()
{
    return world().registry();
}

Registered::Registered(const char* kind)
{
    stats_ = registry().enter(kind, this, id_);
}

Registered::~Registered()
{
    registry().leave(id_, stats_);
}

const std::string& Registered::simKind() const
{
    return stats_->name;
}

int Registered::countedRelease()
{
    stats_->releases.fetch_add(1, std::memory_order_relaxed);
    return drop();
}

int Registered::drop()
{
    const int n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0)
        delete this;
    return n;
}

KindStats* Registry::enter(const char* kind, Registered* object, std::uint64_t& id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    KindStats*& stats = kinds_[kind];
    if (!stats)
    {
        stats = new KindStats;
        stats->name = kind;
    }
    ++stats->live;
    id = nextId_++;
    objects_.emplace(id, object);
    return stats;
}

void Registry::leave(std::uint64_t id, KindStats* stats)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.erase(id);
    --stats->live;
}

Registered* Registry::lockedTryRetain(std::uint64_t id)
{
    auto it = objects_.find(id);
    if (it == objects_.end())
        return nullptr;
    Registered* r = it->second;
    // Never revive an object whose count already reached 0: it is being deleted.
    int n = r->refs_.load(std::memory_order_relaxed);
    while (n > 0 && !r->refs_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel))
    {
    }
    return n > 0 ? r : nullptr;
}

std::int64_t Registry::live(const std::string& kind) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = kinds_.find(kind);
    return it == kinds_.end() ? 0 : it->second->live;
}

std::vector<std::uint64_t> Registry::objects(const std::string& kind) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint64_t> ids;
    for (const auto& [id, object] : objects_)
        if (object->stats_->name == kind)
            ids.push_back(id);
    return ids;
}

std::vector<std::uint64_t> Registry::objects() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint64_t> ids;
    ids.reserve(objects_.size());
    for (const auto& entry : objects_)
        ids.push_back(entry.first);
    return ids;
}

bool Registry::refCount(std::uint64_t id, int& count) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(id);
    if (it == objects_.end())
        return false;
    count = it->second->simRefCount();
    return true;
}

std::string Registry::kindOf(std::uint64_t id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(id);
    return it == objects_.end() ? std::string() : it->second->stats_->name;
}

std::int64_t Registry::releaseCalls(const std::string& kind) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = kinds_.find(kind);
    return it == kinds_.end() ? 0 : it->second->releases.load();
}

void Registry::resetReleaseCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : kinds_)
        entry.second->releases.store(0);
}

}  // namespace sim
