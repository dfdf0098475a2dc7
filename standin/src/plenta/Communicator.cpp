// The communicator, its requests and responses, and the history desk. Every accepted send ends
// with exactly one report to every listener added at that moment: the answer runs on the
// dispatcher, a held request waits for the control face, reset() cancels the held ones, a logout
// of the communicator's session fails its held ones, and finialize fails every one still pending
// (held, or an answer the dispatcher dropped) on a thread of its own.
#include "Communicator.h"

#include <map>
#include <thread>

#include "plenta/Errors.h"

#include "core/Fork.h"
#include "core/World.h"
#include "velvix/Readers.h"
#include "velvix/Session.h"
#include "velvix/Timeframes.h"

namespace plenta_sim
{

using sim::Ref;

namespace
{

constexpr const char* FinalizedText = "The library was finalized";
constexpr const char* LoggedOutText = "The session was logged out";

struct FailSpec
{
    std::optional<ErrorSpec> error;
    bool succeed = false;
};

// The one report of one send. Dropped before it was made, it is made as a cancellation.
class Report
{
public:
    Report(Ref<Communicator> communicator, Ref<Request> request)
        : communicator_(std::move(communicator)), request_(std::move(request))
    {
    }
    ~Report()
    {
        if (done_.exchange(true) || !communicator_)
            return;
        if (sim::world().dispatcher().exiting())
        {
            // After exit began nothing is reported, and what the report holds is left, as the
            // dispatcher leaves what it drops: it may lead into an interpreter that is gone.
            new Ref<Communicator>(std::move(communicator_));
            new Ref<Request>(std::move(request_));
            return;
        }
        // Only a stopped dispatcher drops an answer unrun: the library was finalized.
        std::thread([c = std::move(communicator_), r = std::move(request_)] {
            Ref<plenta::IError> e = Ref<plenta::IError>::adopt(makeError(plenta::IError::NOT_READY, FinalizedText));
            c->deliverFailed(r.get(), e.get());
        }).detach();
    }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    Communicator& communicator() const { return *communicator_; }
    Request* request() const { return request_.get(); }
    // True once: the caller makes the report.
    bool claim() { return !done_.exchange(true); }

private:
    std::atomic<bool> done_{false};
    Ref<Communicator> communicator_;
    Ref<Request> request_;
};

struct HeldRequest
{
    PendingInfo info;
    std::shared_ptr<Report> report;
};

// Fails held requests the server can no longer answer, in sending order: on the dispatcher while
// it runs, else on a thread of its own (finialize stopped it).
void failHeld(std::vector<HeldRequest> held, const char* why)
{
    if (held.empty())
        return;
    if (sim::world().dispatcher().exiting())
    {
        new std::vector<HeldRequest>(std::move(held));  // as the dispatcher leaves what it drops
        return;
    }
    auto fail = [held = std::make_shared<std::vector<HeldRequest>>(std::move(held)), why] {
        for (HeldRequest& h : *held)
            if (h.report->claim())
            {
                Ref<plenta::IError> e = Ref<plenta::IError>::adopt(makeError(plenta::IError::NOT_READY, why));
                h.report->communicator().deliverFailed(h.report->request(), e.get());
            }
    };
    if (!sim::world().dispatcher().post(fail))
        std::thread(fail).detach();
}

struct Desk
{
    std::mutex mutex;
    std::condition_variable heldChanged;  // a request was held
    bool hold = false;
    std::uint64_t nextIndex = 0;
    std::vector<HeldRequest> held;
    std::map<std::string, FailSpec> failNext;
    std::map<std::string, bool> nullNext;

    Desk()
    {
        sim::world().onReset([this] {
            std::vector<HeldRequest> dropped;
            {
                std::lock_guard<std::mutex> lock(mutex);
                dropped.swap(held);
                hold = false;
                nextIndex = 0;
                failNext.clear();
                nullNext.clear();
            }
            // Someone may be waiting on them: they end as cancellations, in sending order.
            for (HeldRequest& h : dropped)
                sim::world().dispatcher().post([report = std::move(h.report)] {
                    if (report->claim())
                        report->communicator().deliverCancelled(report->request());
                });
        });
        sim::world().onFinalize([this] { failHeld(take([](const HeldRequest&) { return true; }), FinalizedText); });
        sim::world().onSessionClosed([this](std::uint64_t session) {
            failHeld(take([session](const HeldRequest& h) { return h.report->communicator().sessionId() == session; }),
                     LoggedOutText);
        });
        sim::lockAcrossFork(mutex, {&heldChanged});
    }

    // Takes the held requests that `which` selects out of the book.
    template <class Which>
    std::vector<HeldRequest> take(Which which)
    {
        std::vector<HeldRequest> out;
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = held.begin(); it != held.end();)
        {
            if (which(*it))
            {
                out.push_back(std::move(*it));
                it = held.erase(it);
            }
            else
                ++it;
        }
        return out;
    }
};

// Never destroyed: answers may still be on their way at exit.
Desk& desk()
{
    static Desk* d = new Desk;
    return *d;
}
const bool deskReady = (desk(), true);

std::optional<FailSpec> takeFail(const char* op)
{
    (void)deskReady;
    std::lock_guard<std::mutex> lock(desk().mutex);
    auto it = desk().failNext.find(op);
    if (it == desk().failNext.end())
        return std::nullopt;
    FailSpec spec = std::move(it->second);
    desk().failNext.erase(it);
    return spec;
}

bool takeNull(const char* op)
{
    std::lock_guard<std::mutex> lock(desk().mutex);
    return desk().nullNext.erase(op) > 0;
}

void put(plenta::IError** err, plenta::IError* error)
{
    if (err)
        *err = error;
    else if (error)
        error->release();
}

void put(plenta::IError** err, int code, const char* message)
{
    put(err, makeError(code, message));
}

// The answer of the server to a request sent while not held.
void answer(Report& report)
{
    if (!report.claim())
        return;
    Communicator& c = report.communicator();
    Request* r = report.request();
    if (r->cancelRequested.load())
    {
        c.deliverCancelled(r);
        return;
    }
    if (!c.sessionOnline())
    {
        Ref<plenta::IError> e = Ref<plenta::IError>::adopt(
            makeError(plenta::IError::NOT_READY, "The session is not connected to the trading server"));
        c.deliverFailed(r, e.get());
        return;
    }
    if (!r->instrument() || !sim::history::knownInstrument(*r->instrument()))
    {
        const std::string why = "Unknown instrument '" + r->instrument().value_or("") + "'";
        Ref<plenta::IError> e = Ref<plenta::IError>::adopt(makeError(plenta::IError::OTHER_ERROR, why.c_str()));
        c.deliverFailed(r, e.get());
        return;
    }
    const std::int64_t now = sim::world().clock().nowMs();
    if (auto why = r->refusal(now))
    {
        Ref<plenta::IError> e = Ref<plenta::IError>::adopt(makeError(plenta::IError::BAD_ARGUMENTS, why->c_str()));
        c.deliverFailed(r, e.get());
        return;
    }
    Ref<Response> response = sim::make<Response>(std::make_shared<const sim::history::Series>(r->query(now)));
    c.deliverCompleted(r, response.get());
}

std::shared_ptr<Report> takeHeld(std::uint64_t index)
{
    std::lock_guard<std::mutex> lock(desk().mutex);
    for (auto it = desk().held.begin(); it != desk().held.end(); ++it)
        if (it->info.index == index)
        {
            std::shared_ptr<Report> report = std::move(it->report);
            desk().held.erase(it);
            return report;
        }
    return nullptr;
}

}  // namespace

plenta::IError* makeError(const ErrorSpec& spec)
{
    Ref<zorvat::IError> nested;
    if (spec.nested)
        nested = Ref<zorvat::IError>::adopt(zorvat_sim::makeError(*spec.nested));
    return makeError(spec.code, spec.message ? spec.message->c_str() : nullptr, nested.get());
}

bool scriptedFailure(const char* op, plenta::IError** err)
{
    std::optional<FailSpec> f = takeFail(op);
    if (!f)
        return false;
    if (f->error)
        put(err, makeError(*f->error));
    return !f->succeed;
}

// --- requests and responses ------------------------------------------------------------------

Request::Request(std::uint64_t communicatorId, sim::Text instrument, IK7RTimeframe* timeframe, double from, double to,
                 int count)
    : RefCounted("plenta::IPlentaCommunicatorRequest"),
      communicatorId_(communicatorId),
      instrument_(std::move(instrument)),
      timeframe_(Ref<IK7RTimeframe>::retain(timeframe)),
      from_(from),
      to_(to),
      count_(count)
{
}

const char* Request::getInstrument()
{
    return instrument_ ? instrument_->c_str() : nullptr;
}

double Request::getFromDate()
{
    return from_;
}

double Request::getToDate()
{
    return to_;
}

int Request::getQuotesCount()
{
    return count_;
}

IK7RTimeframe* Request::getTimeframe()
{
    return timeframe_.share();
}

sim::Text Request::timeframeId() const
{
    const char* id = timeframe_->getId();
    return id ? sim::Text(id) : std::nullopt;
}

sim::history::Series Request::query(std::int64_t nowMs) const
{
    return sim::history::bars(instrument_.value_or(""), sim::velvix::frameOf(timeframe_.get()), from_, to_, count_,
                              nowMs);
}

std::optional<std::string> Request::refusal(std::int64_t nowMs) const
{
    return sim::history::refusal(instrument_.value_or(""), sim::velvix::frameOf(timeframe_.get()), from_, to_, count_,
                                 nowMs);
}

Response::Response(std::shared_ptr<const sim::history::Series> series)
    : RefCounted("plenta::IPlentaCommunicatorResponse"), series_(std::move(series))
{
}

// --- the communicator ------------------------------------------------------------------------

Communicator::Communicator(std::uint64_t sessionId, const char* cachePath)
    : RefCounted("plenta::IPlentaCommunicator"),
      sessionId_(sessionId),
      cache_(Ref<zorvat::IZorvat>::adopt(zorvat_sim::makeQuotesCache(cachePath, sessionId)))
{
}

void Communicator::addListener(plenta::IPlentaCommunicatorListener* listener)
{
    sim::journal("plenta", "IPlentaCommunicator::addListener", {sim::flag(listener != nullptr)});
    if (!listener)
        return;
    auto ref = sim::velvix::ListenerRef<plenta::IPlentaCommunicatorListener>::retain(listener);
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.add(std::move(ref));
}

void Communicator::removeListener(plenta::IPlentaCommunicatorListener* listener)
{
    sim::journal("plenta", "IPlentaCommunicator::removeListener", {sim::flag(listener != nullptr)});
    sim::velvix::ListenerList<plenta::IPlentaCommunicatorListener>::Entry gone;
    std::lock_guard<std::mutex> lock(mutex_);
    gone = listeners_.remove(listener);
    // `gone` outlives the lock: declared before it.
}

void Communicator::addStatusListener(plenta::IPlentaCommunicatorStatusListener* listener)
{
    sim::journal("plenta", "IPlentaCommunicator::addStatusListener", {sim::flag(listener != nullptr)});
    if (!listener)
        return;
    auto ref = sim::velvix::ListenerRef<plenta::IPlentaCommunicatorStatusListener>::retain(listener);
    std::lock_guard<std::mutex> lock(mutex_);
    statusListeners_.add(std::move(ref));
}

void Communicator::removeStatusListener(plenta::IPlentaCommunicatorStatusListener* listener)
{
    sim::journal("plenta", "IPlentaCommunicator::removeStatusListener", {sim::flag(listener != nullptr)});
    sim::velvix::ListenerList<plenta::IPlentaCommunicatorStatusListener>::Entry gone;
    std::lock_guard<std::mutex> lock(mutex_);
    gone = statusListeners_.remove(listener);
}

plenta::ITimeframeFactory* Communicator::getTimeframeFactory()
{
    if (takeNull("getTimeframeFactory"))
        return nullptr;
    return sim::make<TimeframeFactory>().detach();
}

plenta::IPlentaCommunicatorRequest* Communicator::createRequest(const char* instrument, IK7RTimeframe* timeframe,
                                                                double from, double to, int quotesCount,
                                                                plenta::IError** error)
{
    sim::Text tf;
    if (timeframe && timeframe->getId())
        tf = timeframe->getId();
    sim::journal("plenta", "IPlentaCommunicator::createRequest",
                 {sim::text(instrument), sim::text(tf), sim::Value(from), sim::Value(to), sim::number(quotesCount)});
    if (scriptedFailure("createRequest", error))
        return nullptr;
    if (!instrument || !timeframe)
    {
        put(error, plenta::IError::BAD_ARGUMENTS, instrument ? "The timeframe is null" : "The instrument is null");
        return nullptr;
    }
    return sim::make<Request>(simId(), sim::Text(instrument), timeframe, from, to, quotesCount).detach();
}

bool Communicator::sendRequest(plenta::IPlentaCommunicatorRequest* request, plenta::IError** error)
{
    sim::journal("plenta", "IPlentaCommunicator::sendRequest", {sim::flag(request != nullptr)});
    if (scriptedFailure("sendRequest", error))
        return false;
    Request* r = dynamic_cast<Request*>(request);
    if (!r)
    {
        put(error, plenta::IError::BAD_ARGUMENTS, request ? "Not a request of this library" : "The request is null");
        return false;
    }
    if (!isReady())
    {
        put(error, plenta::IError::NOT_READY, "The communicator is not ready");
        return false;
    }
    r->cancelRequested.store(false);
    auto report = std::make_shared<Report>(Ref<Communicator>::retain(this), Ref<Request>::retain(r));
    {
        std::lock_guard<std::mutex> lock(desk().mutex);
        if (desk().hold)
        {
            PendingInfo info{desk().nextIndex++, simId(), r->instrument(), r->timeframeId(),
                             r->getFromDate(), r->getToDate(), r->getQuotesCount()};
            desk().held.push_back({std::move(info), std::move(report)});
            desk().heldChanged.notify_all();
            return true;
        }
    }
    if (!sim::world().dispatcher().post([report] { answer(*report); }))
    {
        report->claim();  // not accepted: nothing will report
        put(error, plenta::IError::NOT_READY, FinalizedText);
        return false;
    }
    return true;
}

void Communicator::cancelRequest(plenta::IPlentaCommunicatorRequest* request)
{
    sim::journal("plenta", "IPlentaCommunicator::cancelRequest", {sim::flag(request != nullptr)});
    Request* r = dynamic_cast<Request*>(request);
    if (!r)
        return;
    r->cancelRequested.store(true);
    std::vector<std::shared_ptr<Report>> cancelled;
    {
        std::lock_guard<std::mutex> lock(desk().mutex);
        auto& held = desk().held;
        for (auto it = held.begin(); it != held.end();)
        {
            if (it->report->request() == r)
            {
                cancelled.push_back(std::move(it->report));
                it = held.erase(it);
            }
            else
                ++it;
        }
    }
    for (std::shared_ptr<Report>& report : cancelled)
        sim::world().dispatcher().post([report = std::move(report)] {
            if (report->claim())
                report->communicator().deliverCancelled(report->request());
        });
}

bool Communicator::isReady()
{
    return ready_.load();
}

IK7RMarketDataSnapshotResponseReader* Communicator::createResponseReader(plenta::IPlentaCommunicatorResponse* response,
                                                                         plenta::IError** error)
{
    sim::journal("plenta", "IPlentaCommunicator::createResponseReader", {sim::flag(response != nullptr)});
    if (scriptedFailure("createResponseReader", error))
        return nullptr;
    Response* r = dynamic_cast<Response*>(response);
    if (!r)
    {
        put(error, plenta::IError::BAD_ARGUMENTS,
            response ? "Not a response of this library" : "The response is null");
        return nullptr;
    }
    return sim::make<sim::velvix::SnapshotReader>(r->series()).detach();
}

zorvat::IZorvat* Communicator::getZorvat()
{
    if (takeNull("getZorvat"))
        return nullptr;
    return cache_.share();
}

bool Communicator::sessionOnline() const
{
    if (sessionId_ == 0)
        return true;
    Ref<sim::velvix::Session> s =
        Ref<sim::velvix::Session>::adopt(sim::world().registry().acquire<sim::velvix::Session>(sessionId_));
    return s && s->online();
}

std::pair<int, int> Communicator::listenerCounts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return {listeners_.size(), statusListeners_.size()};
}

template <class L, class Call>
void Communicator::deliver(sim::velvix::ListenerList<L> Communicator::*list, Call call)
{
    (this->*list).deliver(mutex_, call);
}

void Communicator::deliverCompleted(Request* request, Response* response)
{
    sim::journal("plenta", "IPlentaCommunicatorListener::onRequestCompleted", {sim::flag(response != nullptr)});
    deliver(&Communicator::listeners_, [&](plenta::IPlentaCommunicatorListener* l) { l->onRequestCompleted(request, response); });
}

void Communicator::deliverFailed(Request* request, plenta::IError* error)
{
    sim::journal("plenta", "IPlentaCommunicatorListener::onRequestFailed", {sim::flag(error != nullptr)});
    deliver(&Communicator::listeners_, [&](plenta::IPlentaCommunicatorListener* l) { l->onRequestFailed(request, error); });
}

void Communicator::deliverCancelled(Request* request)
{
    sim::journal("plenta", "IPlentaCommunicatorListener::onRequestCancelled");
    deliver(&Communicator::listeners_, [&](plenta::IPlentaCommunicatorListener* l) { l->onRequestCancelled(request); });
}

void Communicator::deliverStatus(bool ready)
{
    deliver(&Communicator::statusListeners_,
            [&](plenta::IPlentaCommunicatorStatusListener* l) { l->onCommunicatorStatusChanged(ready); });
}

void Communicator::deliverInitFailed(plenta::IError* error)
{
    deliver(&Communicator::statusListeners_,
            [&](plenta::IPlentaCommunicatorStatusListener* l) { l->onCommunicatorInitFailed(error); });
}

// --- scripts and the desk --------------------------------------------------------------------

bool failNext(const std::string& op, std::optional<ErrorSpec> error, bool succeed)
{
    static const char* const ops[] = {"createCommunicator", "createRequest", "sendRequest",
                                      "createResponseReader", "create", "createByUnit"};
    if (std::find(std::begin(ops), std::end(ops), op) == std::end(ops))
        return false;
    std::lock_guard<std::mutex> lock(desk().mutex);
    desk().failNext[op] = FailSpec{std::move(error), succeed};
    return true;
}

bool nullNext(const std::string& op)
{
    if (op != "getTimeframeFactory" && op != "getZorvat")
        return false;
    std::lock_guard<std::mutex> lock(desk().mutex);
    desk().nullNext[op] = true;
    return true;
}

void hold(bool on)
{
    std::lock_guard<std::mutex> lock(desk().mutex);
    desk().hold = on;
}

bool held()
{
    std::lock_guard<std::mutex> lock(desk().mutex);
    return desk().hold;
}

std::vector<PendingInfo> pending()
{
    std::lock_guard<std::mutex> lock(desk().mutex);
    std::vector<PendingInfo> out;
    for (const HeldRequest& h : desk().held)
        out.push_back(h.info);
    return out;
}

bool waitPending(std::size_t count, std::int64_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(desk().mutex);
    return desk().heldChanged.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                                       [&] { return desk().held.size() >= count; });
}

std::function<void()> takeCompletion(std::uint64_t index, bool nullResponse)
{
    std::shared_ptr<Report> report = takeHeld(index);
    if (!report)
        return {};
    return [report, nullResponse] {
        if (!report->claim())
            return;
        Ref<Response> response;
        if (!nullResponse)
            response = sim::make<Response>(
                std::make_shared<const sim::history::Series>(report->request()->query(sim::world().clock().nowMs())));
        report->communicator().deliverCompleted(report->request(), response.get());
    };
}

std::function<void()> takeFailure(std::uint64_t index, std::optional<ErrorSpec> error)
{
    std::shared_ptr<Report> report = takeHeld(index);
    if (!report)
        return {};
    return [report, error] {
        if (!report->claim())
            return;
        Ref<plenta::IError> e;
        if (error)
            e = Ref<plenta::IError>::adopt(makeError(*error));
        report->communicator().deliverFailed(report->request(), e.get());
    };
}

std::function<void()> takeCancellation(std::uint64_t index)
{
    std::shared_ptr<Report> report = takeHeld(index);
    if (!report)
        return {};
    return [report] {
        if (report->claim())
            report->communicator().deliverCancelled(report->request());
    };
}

}  // namespace plenta_sim
