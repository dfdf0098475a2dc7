// The quotes cache: lists built from the scripts at the moment they are asked for, and the update
// task, which runs on the cache's own thread (never the dispatcher) and ends with exactly one
// report to its callback, whatever the world does meanwhile: held tasks wait for the control face,
// a logout of the cache's session or finialize fails them, reset() cancels them.
#include "QuotesCache.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

#include "zorvat/Errors.h"

#include "core/Fork.h"
#include "core/World.h"
#include "velvix/Listeners.h"
#include "velvix/Market.h"

namespace zorvat_sim
{

namespace
{

using sim::Ref;

struct FailSpec
{
    std::optional<ErrorSpec> error;
};

constexpr const char* FinalizedText = "The library was finalized";
constexpr const char* LoggedOutText = "The session was logged out";

ErrorSpec connectionError(const char* why)
{
    return ErrorSpec{zorvat::IError::QUOTES_SERVER_CONNECTION_ERROR, 0, std::string(why)};
}

class Task;

struct Scripts
{
    std::mutex mutex;
    std::optional<std::vector<InstrumentSpec>> instruments;
    std::optional<std::vector<std::string>> timeframes;
    bool loaded = false;
    TaskOutcome outcome = TaskOutcome::Completed;
    std::optional<ErrorSpec> outcomeError;
    std::map<std::string, FailSpec> failNext;
    std::map<std::string, bool> nullNext;
    std::int64_t tasksCreated = 0;
    bool hold = false;
    std::vector<Ref<Task>> held;  // executed while holding, in order
    std::condition_variable heldChanged;

    Scripts();

    // Takes the held tasks that `which` selects.
    template <class Which>
    std::vector<Ref<Task>> takeHeld(Which which);
};

// Never destroyed: the cache thread may still read it at exit.
Scripts& scripts()
{
    static Scripts* s = new Scripts;
    return *s;
}
const bool scriptsReady = (scripts(), true);

std::optional<FailSpec> takeFail(const char* op)
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    auto it = scripts().failNext.find(op);
    if (it == scripts().failNext.end())
        return std::nullopt;
    FailSpec spec = std::move(it->second);
    scripts().failNext.erase(it);
    return spec;
}

bool takeNull(const char* op)
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    return scripts().nullNext.erase(op) > 0;
}

void put(zorvat::IError** err, zorvat::IError* error)
{
    if (err)
        *err = error;
    else if (error)
        error->release();
}

void put(zorvat::IError** err, const std::optional<ErrorSpec>& spec)
{
    if (spec)
        put(err, makeError(*spec));
}

// The cache's own thread: a queue of jobs, run in order with no lock held. Started on first use
// and never joined (a job may be stuck in a caller's callback at exit). After a fork the child
// starts its own on first use; the parent's queued jobs never run there.
class CacheThread
{
public:
    CacheThread()
    {
        sim::aroundFork([this] { mutex_.lock(); }, [this] { mutex_.unlock(); }, [this] { afterForkInChild(); });
    }

    void post(std::function<void()> job)
    {
        if (sim::world().dispatcher().exiting())
        {
            leak(std::move(job));
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_)
        {
            started_ = true;
            std::thread([this] { run(); }).detach();
        }
        queue_.push_back(std::move(job));
        wake_.notify_one();
    }
    bool current() const { return std::this_thread::get_id() == id_.load(); }
    long nativeId() const { return nativeId_.load(); }

private:
    void run()
    {
        id_.store(std::this_thread::get_id());
        nativeId_.store(static_cast<long>(::syscall(SYS_gettid)));
        for (;;)
        {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return !queue_.empty(); });
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            // After exit began no callback runs, and none is let go: it may lead into an
            // interpreter that is gone.
            if (sim::world().dispatcher().exiting())
            {
                leak(std::move(job));
                continue;
            }
            job();
        }
    }

    static void leak(std::function<void()> job) { new std::function<void()>(std::move(job)); }

    void afterForkInChild()
    {
        sim::renewAfterFork(mutex_);
        sim::renewAfterFork(wake_);
        new std::deque<std::function<void()>>(std::move(queue_));  // left, as at exit
        queue_.clear();
        // A fork made by a job goes on in the child on the cache thread itself.
        if (current())
            return;
        started_ = false;
        id_.store(std::thread::id());
        nativeId_.store(0);
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool started_ = false;
    std::atomic<std::thread::id> id_{};
    std::atomic<long> nativeId_{0};
};

CacheThread& cacheThread()
{
    static CacheThread* t = new CacheThread;
    return *t;
}

class StringList final : public sim::RefCounted<zorvat::IStringList>
{
public:
    explicit StringList(std::vector<std::string> items) : RefCounted("zorvat::IStringList"), items_(std::move(items)) {}
    int size() override { return static_cast<int>(items_.size()); }
    const char* get(int index) override
    {
        if (index < 0 || index >= size())
            return nullptr;
        return items_[static_cast<std::size_t>(index)].c_str();
    }

private:
    ~StringList() override = default;
    const std::vector<std::string> items_;
};

double pointSizeOf(const std::string& name)
{
    for (const auto& i : sim::velvix::market::instruments())
        if (name == i.symbol)
            return i.pointSize;
    return 0.0001;
}

class Instrument final : public sim::RefCounted<zorvat::IInstrument>
{
public:
    explicit Instrument(InstrumentSpec spec)
        : RefCounted("zorvat::IInstrument"), spec_(std::move(spec)), pointSize_(pointSizeOf(spec_.name))
    {
    }
    const char* getName() override { return spec_.name.c_str(); }
    double getPointSize() override { return pointSize_; }
    zorvat::IStringList* getTimeframes() override { return sim::make<StringList>(spec_.timeframes).detach(); }

private:
    ~Instrument() override = default;
    const InstrumentSpec spec_;
    const double pointSize_;
};

class InstrumentList final : public sim::RefCounted<zorvat::IInstrumentList>
{
public:
    explicit InstrumentList(const std::vector<InstrumentSpec>& specs) : RefCounted("zorvat::IInstrumentList")
    {
        for (const InstrumentSpec& s : specs)
            items_.push_back(sim::make<Instrument>(s));
    }
    int size() override { return static_cast<int>(items_.size()); }
    zorvat::IInstrument* get(int index) override
    {
        if (index < 0 || index >= size())
            return nullptr;
        return items_[static_cast<std::size_t>(index)].share();
    }

private:
    ~InstrumentList() override = default;
    std::vector<Ref<Instrument>> items_;
};

// The caller's callback is kept, with a reference, until the task reported (or the task died
// unexecuted).
class Task final : public sim::RefCounted<zorvat::ITask>
{
public:
    Task(std::uint64_t cacheId, std::uint64_t sessionId, zorvat::IUpdateInstrumentsCallback* callback)
        : RefCounted("zorvat::ITask"),
          cacheId_(cacheId),
          sessionId_(sessionId),
          callback_(sim::velvix::ListenerRef<zorvat::IUpdateInstrumentsCallback>::retain(callback))
    {
    }

    std::uint64_t cacheId() const { return cacheId_; }
    std::uint64_t sessionId() const { return sessionId_; }
    bool cancelRequested() const { return cancelRequested_.load(); }
    // Once only: false when the task was executed before.
    bool start()
    {
        bool expected = false;
        return started_.compare_exchange_strong(expected, true);
    }
    void requestCancel() { cancelRequested_.store(true); }

    // On the cache thread: the one report; `failure` overrides the scripted outcome.
    void run(std::optional<ErrorSpec> failure = std::nullopt)
    {
        sim::velvix::ListenerRef<zorvat::IUpdateInstrumentsCallback> callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callback = std::move(callback_);
        }
        TaskOutcome outcome;
        std::optional<ErrorSpec> error;
        {
            std::lock_guard<std::mutex> lock(scripts().mutex);
            outcome = scripts().outcome;
            error = scripts().outcomeError;
        }
        if (failure)
        {
            outcome = TaskOutcome::Failed;
            error = std::move(failure);
        }
        if (cancelRequested_.load())
            outcome = TaskOutcome::Cancelled;
        if (outcome == TaskOutcome::Completed)
            setInstrumentsLoaded(true);
        sim::journal("zorvat", "ITask::report",
                     {sim::number(static_cast<int>(outcome)), sim::flag(callback.get() != nullptr)});
        zorvat::IUpdateInstrumentsCallback* cb = callback.get();
        if (!cb)
            return;
        switch (outcome)
        {
        case TaskOutcome::Completed:
            cb->onUpdateCompleted();
            break;
        case TaskOutcome::Cancelled:
            cb->onUpdateCancelled();
            break;
        case TaskOutcome::Failed:
        {
            Ref<zorvat::IError> e = Ref<zorvat::IError>::adopt(
                makeError(error.value_or(ErrorSpec{zorvat::IError::OTHER_ERROR, 0, std::string("The instruments update failed")})));
            cb->onUpdateFailed(this, e.get());
            break;
        }
        }
    }

private:
    ~Task() override = default;
    const std::uint64_t cacheId_;
    const std::uint64_t sessionId_;
    std::atomic<bool> started_{false};
    std::atomic<bool> cancelRequested_{false};
    std::mutex mutex_;
    sim::velvix::ListenerRef<zorvat::IUpdateInstrumentsCallback> callback_;
};

// Runs tasks on the cache thread, in order, each with its one report.
void runOnCacheThread(std::vector<Ref<Task>> tasks, std::optional<ErrorSpec> failure = std::nullopt)
{
    for (Ref<Task>& task : tasks)
        cacheThread().post([task = std::move(task), failure] { task->run(failure); });
}

Scripts::Scripts()
{
    sim::world().onReset([this] {
        std::vector<Ref<Task>> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex);
            instruments.reset();
            timeframes.reset();
            loaded = false;
            outcome = TaskOutcome::Completed;
            outcomeError.reset();
            failNext.clear();
            nullNext.clear();
            tasksCreated = 0;
            hold = false;
            dropped.swap(held);
        }
        // Someone may be waiting on them: they end as cancellations.
        for (Ref<Task>& task : dropped)
            task->requestCancel();
        runOnCacheThread(std::move(dropped));
    });
    sim::world().onFinalize(
        [this] { runOnCacheThread(takeHeld([](const Task&) { return true; }), connectionError(FinalizedText)); });
    sim::world().onSessionClosed([this](std::uint64_t session) {
        runOnCacheThread(takeHeld([session](const Task& t) { return t.sessionId() == session; }),
                         connectionError(LoggedOutText));
    });
    sim::lockAcrossFork(mutex, {&heldChanged});
}

template <class Which>
std::vector<Ref<Task>> Scripts::takeHeld(Which which)
{
    std::vector<Ref<Task>> out;
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = held.begin(); it != held.end();)
    {
        if (which(**it))
        {
            out.push_back(std::move(*it));
            it = held.erase(it);
        }
        else
            ++it;
    }
    return out;
}

class QuotesCache final : public sim::RefCounted<zorvat::IZorvat>
{
public:
    QuotesCache(const char* path, std::uint64_t sessionId)
        : RefCounted("zorvat::IZorvat"), path_(path ? path : ""), sessionId_(sessionId)
    {
    }

    void setCandleOpenPriceMode(K7RCandleOpenPriceMode mode) override
    {
        sim::journal("zorvat", "IZorvat::setCandleOpenPriceMode", {sim::number(static_cast<int>(mode))});
        mode_.store(static_cast<int>(mode));
    }
    K7RCandleOpenPriceMode getCandleOpenPriceMode() override { return static_cast<K7RCandleOpenPriceMode>(mode_.load()); }
    const char* getCachePath() override { return path_.c_str(); }

    bool areInstrumentsLoaded(zorvat::IError** err) override
    {
        sim::journal("zorvat", "IZorvat::areInstrumentsLoaded");
        if (auto f = takeFail("areInstrumentsLoaded"))
        {
            put(err, f->error);
            return false;
        }
        return instrumentsLoaded();
    }

    zorvat::ITask* createUpdateInstrumentsTask(zorvat::IUpdateInstrumentsCallback* callback, zorvat::IError** err) override
    {
        sim::journal("zorvat", "IZorvat::createUpdateInstrumentsTask", {sim::flag(callback != nullptr)});
        if (auto f = takeFail("createUpdateInstrumentsTask"))
        {
            put(err, f->error);
            return nullptr;
        }
        if (!callback)
        {
            put(err, makeError({zorvat::IError::BAD_ARGUMENT, 0, std::string("The callback is null")}));
            return nullptr;
        }
        {
            std::lock_guard<std::mutex> lock(scripts().mutex);
            ++scripts().tasksCreated;
        }
        return sim::make<Task>(simId(), sessionId_, callback).detach();
    }

    bool executeTask(zorvat::ITask* task, zorvat::IError** err) override
    {
        sim::journal("zorvat", "IZorvat::executeTask", {sim::flag(task != nullptr)});
        if (auto f = takeFail("executeTask"))
        {
            put(err, f->error);
            return false;
        }
        Task* t = dynamic_cast<Task*>(task);
        if (!t)
        {
            put(err, makeError({zorvat::IError::BAD_ARGUMENT, 0, std::string("Not a task of this cache")}));
            return false;
        }
        if (sim::world().finalized())
        {
            put(err, makeError(connectionError(FinalizedText)));
            return false;
        }
        if (!t->start())
        {
            put(err, makeError({zorvat::IError::BAD_ARGUMENT, 0, std::string("The task was executed before")}));
            return false;
        }
        Ref<Task> executed = Ref<Task>::retain(t);
        {
            std::lock_guard<std::mutex> lock(scripts().mutex);
            if (scripts().hold)
            {
                scripts().held.push_back(std::move(executed));
                scripts().heldChanged.notify_all();
                return true;
            }
        }
        cacheThread().post([executed] { executed->run(); });
        return true;
    }

    void cancelTask(zorvat::ITask* task) override
    {
        sim::journal("zorvat", "IZorvat::cancelTask", {sim::flag(task != nullptr)});
        Task* t = dynamic_cast<Task*>(task);
        if (!t)
            return;
        t->requestCancel();
        // A held task ends at once, as a cancellation.
        runOnCacheThread(scripts().takeHeld([t](const Task& held) { return &held == t; }));
    }

    zorvat::IInstrumentList* getInstruments(zorvat::IError** err) override
    {
        sim::journal("zorvat", "IZorvat::getInstruments");
        if (auto f = takeFail("getInstruments"))
        {
            put(err, f->error);
            return nullptr;
        }
        if (takeNull("getInstruments"))
            return nullptr;
        return sim::make<InstrumentList>(instruments()).detach();
    }

    zorvat::IStringList* getTimeframes() override
    {
        sim::journal("zorvat", "IZorvat::getTimeframes");
        if (takeNull("getTimeframes"))
            return nullptr;
        return sim::make<StringList>(timeframes()).detach();
    }

private:
    ~QuotesCache() override = default;
    const std::string path_;
    const std::uint64_t sessionId_;
    std::atomic<int> mode_{static_cast<int>(K7RCandleOpenPriceMode::PreviousClose)};
};

const std::vector<std::string>& defaultTimeframes()
{
    static const std::vector<std::string> list{"t1", "m1", "m5", "m15", "m30", "H1", "H2",
                                               "H3", "H4", "H6", "H8", "D1", "W1", "M1"};
    return list;
}

}  // namespace

zorvat::IError* makeError(const ErrorSpec& spec)
{
    return makeError(spec.code, spec.message ? spec.message->c_str() : nullptr, spec.subCode);
}

std::vector<std::string> timeframes()
{
    (void)scriptsReady;
    std::lock_guard<std::mutex> lock(scripts().mutex);
    return scripts().timeframes ? *scripts().timeframes : defaultTimeframes();
}

std::vector<InstrumentSpec> instruments()
{
    {
        std::lock_guard<std::mutex> lock(scripts().mutex);
        if (scripts().instruments)
            return *scripts().instruments;
    }
    std::vector<InstrumentSpec> out;
    for (const auto& i : sim::velvix::market::instruments())
        out.push_back({i.symbol, defaultTimeframes()});
    return out;
}

void scriptInstruments(std::optional<std::vector<InstrumentSpec>> list)
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    scripts().instruments = std::move(list);
}

void scriptTimeframes(std::optional<std::vector<std::string>> list)
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    scripts().timeframes = std::move(list);
}

bool instrumentsLoaded()
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    return scripts().loaded;
}

void setInstrumentsLoaded(bool loaded)
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    scripts().loaded = loaded;
}

void scriptTaskOutcome(TaskOutcome outcome, std::optional<ErrorSpec> error)
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    scripts().outcome = outcome;
    scripts().outcomeError = std::move(error);
}

bool failNext(const std::string& op, std::optional<ErrorSpec> error)
{
    if (op != "areInstrumentsLoaded" && op != "createUpdateInstrumentsTask" && op != "executeTask" &&
        op != "getInstruments")
        return false;
    std::lock_guard<std::mutex> lock(scripts().mutex);
    scripts().failNext[op] = FailSpec{std::move(error)};
    return true;
}

bool nullNext(const std::string& op)
{
    if (op != "getInstruments" && op != "getTimeframes")
        return false;
    std::lock_guard<std::mutex> lock(scripts().mutex);
    scripts().nullNext[op] = true;
    return true;
}

std::int64_t tasksCreated()
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    return scripts().tasksCreated;
}

bool onCacheThread()
{
    return cacheThread().current();
}

long cacheThreadId()
{
    return cacheThread().nativeId();
}

zorvat::IZorvat* makeQuotesCache(const char* cachePath, std::uint64_t sessionId)
{
    return sim::make<QuotesCache>(cachePath, sessionId).detach();
}

void hold(bool on)
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    scripts().hold = on;
}

bool waitHeld(std::size_t count, std::int64_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(scripts().mutex);
    return scripts().heldChanged.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                                          [&] { return scripts().held.size() >= count; });
}

std::size_t heldCount()
{
    std::lock_guard<std::mutex> lock(scripts().mutex);
    return scripts().held.size();
}

void runHeld()
{
    runOnCacheThread(scripts().takeHeld([](const Task&) { return true; }));
}

bool flush(std::int64_t timeoutMs)
{
    struct Done
    {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    cacheThread().post([done] {
        std::lock_guard<std::mutex> lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(done->mutex);
    return done->cv.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                             [&] { return done->done; });
}

}  // namespace zorvat_sim
