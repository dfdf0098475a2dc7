// simcore: the call journal. Each stand-in operation that tests may ask about records one entry
// (library, operation, arguments); a bounded ring so that long demo runs stay small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Fork.h"
#include "core/Value.h"

namespace sim
{

struct JournalEntry
{
    std::uint64_t seq = 0;
    std::string library;  // "velvix", "plenta", "zorvat"
    std::string op;       // "CK7RTransport::setProxy"
    Values args;
};

class Journal
{
public:
    static constexpr std::size_t DefaultCapacity = 20000;

    explicit Journal(std::size_t capacity = DefaultCapacity);

    void record(const char* library, const char* op, Values args = {});

    // All entries, oldest first; with a filter, only those whose operation equals it, or starts
    // with it when the filter ends in "::" (a whole class).
    std::vector<JournalEntry> entries(const std::optional<std::string>& op = std::nullopt) const;
    void clear();
    std::size_t capacity() const { return capacity_; }
    // For a part of the world, which lives as long as the process: its lock stays whole across a
    // fork (core/Fork.h).
    void keepWholeAcrossFork() { lockAcrossFork(mutex_); }

private:
    mutable std::mutex mutex_;
    std::deque<JournalEntry> ring_;
    std::size_t capacity_;
    std::uint64_t nextSeq_ = 1;
};

}  // namespace sim
