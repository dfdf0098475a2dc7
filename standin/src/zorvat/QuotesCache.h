// The simulated quotes cache behind a history communicator: its instrument lists, its update
// task run on the cache's own thread, and the scripts the control face sets (outcomes, one-shot
// failures, lists). Scripts are the world's, shared by every cache, and reset() clears them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zorvat/Zorvat.h"

#include "core/Scenario.h"

namespace zorvat_sim
{

struct ErrorSpec
{
    int code = zorvat::IError::OTHER_ERROR;
    int subCode = 0;
    sim::Text message;
};

// A new error with one reference for the caller.
zorvat::IError* makeError(const ErrorSpec& spec);

struct InstrumentSpec
{
    std::string name;
    std::vector<std::string> timeframes;
};

enum class TaskOutcome
{
    Completed,
    Failed,
    Cancelled
};

// The general timeframe list and the offers' instruments, each with that list, unless scripted.
std::vector<std::string> timeframes();
std::vector<InstrumentSpec> instruments();
void scriptInstruments(std::optional<std::vector<InstrumentSpec>> list);  // nullopt: the default
void scriptTimeframes(std::optional<std::vector<std::string>> list);

// False until an update task completed (or a script said so); one flag for every cache.
bool instrumentsLoaded();
void setInstrumentsLoaded(bool loaded);
// How every later update task ends; a failure without a spec fails with OTHER_ERROR.
void scriptTaskOutcome(TaskOutcome outcome, std::optional<ErrorSpec> error);
// The next call of `op` (areInstrumentsLoaded, createUpdateInstrumentsTask, executeTask,
// getInstruments) gives false or null, writing the error when there is one.
bool failNext(const std::string& op, std::optional<ErrorSpec> error);
// The next call of `op` (getInstruments, getTimeframes) gives null and no error.
bool nullNext(const std::string& op);
std::int64_t tasksCreated();

// The cache's own thread: true on it; its native id (0 before it first ran).
bool onCacheThread();
long cacheThreadId();

// A new cache object with one reference for the caller; the path is kept as given. `sessionId`
// names the trading session behind it (0 for none): its logout fails the cache's held tasks.
zorvat::IZorvat* makeQuotesCache(const char* cachePath, std::uint64_t sessionId = 0);

// While held, executed update tasks wait for runHeld() (or a logout, finialize, a cancellation or
// reset() that ends them); switching it off leaves held ones held.
void hold(bool on);
std::size_t heldCount();
// Waits until at least `count` tasks are held; false when the time ran out.
bool waitHeld(std::size_t count, std::int64_t timeoutMs);
// Runs the held tasks by the scripted outcome, in the order executed.
void runHeld();
// Waits until everything queued on the cache thread so far has run; false when the time ran out.
bool flush(std::int64_t timeoutMs);

}  // namespace zorvat_sim
