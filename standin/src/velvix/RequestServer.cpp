// The request desk. A sent request is answered by one dispatcher job, which delivers its answers
// one after another (an order's later fills come from timers of their own); the job holds the
// request's reference, so a request the caller dropped is still answered. Once finialize stopped
// the dispatcher, every request still to be answered, and every one sent later, fails instead.
#include "RequestServer.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "Session.h"
#include "core/Fork.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{

constexpr const char* FinalizedText = "The library was finalized";

// Requests with the session each was sent through.
using Unanswered = std::vector<std::pair<Ref<Request>, std::uint64_t>>;

// No dispatcher delivers after finialize: the failures go out at once on a thread of their own,
// never the caller's (a caller may hold a lock that its listener takes). Nothing is reported
// once process exit began.
void failFinalized(Unanswered requests)
{
    if (requests.empty() || world().dispatcher().exiting())
        return;
    std::thread([requests = std::move(requests)] {
        for (const auto& [request, sessionId] : requests)
            if (!world().dispatcher().exiting())
                RequestServer::answerFailed(request, sessionId, std::string(FinalizedText));
    }).detach();
}

// The answer of one send. The dispatcher drops a job unrun only once stopped (at finialize, or
// when posted after it): the request then fails instead.
class Answer
{
public:
    Answer(Ref<Request> request, std::uint64_t sessionId) : request_(std::move(request)), sessionId_(sessionId) {}
    ~Answer()
    {
        if (!ran_.load())
            failFinalized({{std::move(request_), sessionId_}});
    }
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;

    void run()
    {
        ran_.store(true);
        RequestServer::answer(request_, sessionId_);
    }

private:
    Ref<Request> request_;
    const std::uint64_t sessionId_;
    std::atomic<bool> ran_{false};
};

}  // namespace

RequestServer& RequestServer::instance()
{
    static RequestServer* server = new RequestServer;  // never destroyed, like the world
    return *server;
}

namespace
{
// The reset hook is in place before any test books a request.
const bool deskReady = (RequestServer::instance(), true);
}

RequestServer::RequestServer()
{
    world().onReset([this] { reset(); });
    world().onFinalize([this] { failHeld(); });
    lockAcrossFork(mutex_);
}

// The held requests can no longer be answered.
void RequestServer::failHeld()
{
    Unanswered failed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& id : pendingOrder_)
        {
            Held& held = pending_.at(id);
            failed.emplace_back(std::move(held.request), held.sessionId);
        }
        pending_.clear();
        pendingOrder_.clear();
    }
    failFinalized(std::move(failed));
}

void RequestServer::reset()
{
    std::map<std::string, Held> dropped;  // let go of after the lock
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = false;
    created_.clear();
    sent_.clear();
    dropped.swap(pending_);
    pendingOrder_.clear();
    scriptedError_.reset();
}

RequestRecord RequestServer::recordOf(const Request& request)
{
    RequestRecord r;
    r.id = request.id();
    r.kind = request.kind();
    r.sessionId = request.sessionId();
    r.params = request.params;
    r.info = request.info();
    return r;
}

void RequestServer::created(const Request& request)
{
    (void)deskReady;
    RequestRecord record = recordOf(request);
    std::lock_guard<std::mutex> lock(mutex_);
    created_.push_back(std::move(record));
    if (created_.size() > LogCapacity)
        created_.pop_front();
}

void RequestServer::updated(const Request& request)
{
    RequestRecord record = recordOf(request);
    std::lock_guard<std::mutex> lock(mutex_);
    for (RequestRecord& r : created_)
        if (r.id == record.id)
            r = record;
}

void RequestServer::send(Session& session, IK7RRequest* request)
{
    auto* ours = dynamic_cast<Request*>(request);
    if (!ours)
        return;  // nothing the server could answer, not even with an id
    Ref<Request> held = Ref<Request>::retain(ours);
    RequestRecord record = recordOf(*ours);
    const std::uint64_t sessionId = session.simId();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back(record);
        if (sent_.size() > LogCapacity)
            sent_.pop_front();
        // finialize marks the world before it fails the held ones, under this lock.
        if (hold_ && !world().finalized())
        {
            if (pending_.emplace(ours->id(), Held{held, sessionId}).second)
                pendingOrder_.push_back(ours->id());
            return;
        }
    }
    auto job = std::make_shared<Answer>(std::move(held), sessionId);
    world().dispatcher().post([job] { job->run(); });
}

void RequestServer::hold(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = on;
}

bool RequestServer::holding() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return hold_;
}

std::vector<RequestRecord> RequestServer::createdLog() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return {created_.begin(), created_.end()};
}

std::vector<RequestRecord> RequestServer::sentLog() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return {sent_.begin(), sent_.end()};
}

std::vector<RequestRecord> RequestServer::pending() const
{
    std::vector<Ref<Request>> held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& id : pendingOrder_)
            held.push_back(pending_.at(id).request);
    }
    std::vector<RequestRecord> out;
    for (const Ref<Request>& r : held)
        out.push_back(recordOf(*r));
    return out;
}

bool RequestServer::take(const std::string& id, Held& out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pending_.find(id);
    if (it == pending_.end())
        return false;
    out = std::move(it->second);
    pending_.erase(it);
    pendingOrder_.erase(std::find(pendingOrder_.begin(), pendingOrder_.end(), id));
    return true;
}

bool RequestServer::complete(const std::string& id)
{
    Held held;
    if (!take(id, held))
        return false;
    world().dispatcher().post([held] { answer(held.request, held.sessionId); });
    return true;
}

bool RequestServer::fail(const std::string& id, const Text& error)
{
    Held held;
    if (!take(id, held))
        return false;
    world().dispatcher().post([held, error] { answerFailed(held.request, held.sessionId, error); });
    return true;
}

std::optional<std::string> RequestServer::scriptedError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return scriptedError_;
}

void RequestServer::scriptError(Text text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    scriptedError_ = std::move(text);
}

}  // namespace sim::velvix
