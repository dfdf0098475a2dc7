// The request desk. A sent request is answered by one dispatcher job, which delivers its answers
// one after another (an order's later fills come from timers of their own); the job holds the
// request's reference, so a request the caller dropped is still answered.
#include "RequestServer.h"

#include <algorithm>

#include "Session.h"
#include "core/World.h"

namespace sim::velvix
{

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
        if (hold_)
        {
            if (pending_.emplace(ours->id(), Held{held, sessionId}).second)
                pendingOrder_.push_back(ours->id());
            return;
        }
    }
    world().dispatcher().post([held, sessionId] { answer(held, sessionId); });
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
