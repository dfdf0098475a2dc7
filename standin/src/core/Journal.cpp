// simcore: the call journal's ring buffer.
#include "core/Journal.h"

namespace sim
{

Journal::Journal(std::size_t capacity) : capacity_(capacity ? capacity : 1) {}

void Journal::record(const char* library, const char* op, Values args)
{
    JournalEntry entry;
    entry.library = library;
    entry.op = op;
    entry.args = std::move(args);
    std::lock_guard<std::mutex> lock(mutex_);
    entry.seq = nextSeq_++;
    if (ring_.size() == capacity_)
        ring_.pop_front();
    ring_.push_back(std::move(entry));
}

static bool matches(const std::string& op, const std::string& filter)
{
    if (filter.size() >= 2 && filter.compare(filter.size() - 2, 2, "::") == 0)
        return op.compare(0, filter.size(), filter) == 0;
    return op == filter;
}

std::vector<JournalEntry> Journal::entries(const std::optional<std::string>& op) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<JournalEntry> out;
    for (const JournalEntry& e : ring_)
        if (!op || matches(e.op, *op))
            out.push_back(e);
    return out;
}

void Journal::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ring_.clear();
}

}  // namespace sim
