// The simulated trading session. Each operation is journaled as "IK7RSession::<name>". Login and
// logout are flows of timed steps on the dispatcher thread; a call from a caller's thread only
// changes state under the session's lock and schedules, so it never waits for a delivery.
// Listeners are called with no lock held, each re-checked just before its call.
#include "Session.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "LoginRules.h"
#include "Providers.h"
#include "Readers.h"
#include "RequestServer.h"
#include "Requests.h"
#include "SessionDescriptors.h"
#include "SessionServices.h"
#include "TableManager.h"
#include "core/OleDate.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{
constexpr const char* Lib = "velvix";
constexpr const char* ReportHost = "https://reports.demo.invalid/statement";

void note(const char* op, Values args = {})
{
    journal(Lib, op, std::move(args));
}

Value listenerArg(const void* listener)
{
    return flag(listener != nullptr);
}

bool equalsNoCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

std::int64_t loginDelay()
{
    return world().scenario().read([](const ScenarioState& s) { return s.sessions.loginDelayMs; });
}

// A fault's integer payload, if a "value" fault is armed for the operation.
std::optional<std::int64_t> faultInt(const char* op)
{
    if (auto fault = takeFault(op); fault && fault->kind == FaultKind::Value)
        return fault->asInt();
    return std::nullopt;
}

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

std::string hex(std::uint64_t v)
{
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(v));
    return out;
}

std::string urlEncode(const std::string& s)
{
    std::string out;
    for (unsigned char c : s)
    {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
        {
            out += static_cast<char>(c);
        }
        else
        {
            char esc[4];
            std::snprintf(esc, sizeof esc, "%%%02X", c);
            out += esc;
        }
    }
    return out;
}

std::optional<std::string> isoDay(double ole)
{
    std::tm t{};
    if (!ole::toCalendar(ole, t))
        return std::nullopt;
    char out[40];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return std::string(out);
}

// The connection every demo login goes through; any other is unknown to this server.
constexpr const char* DemoConnection = "Demo";
}  // namespace

Session::Session() : RefCounted("IK7RSession")
{
}

Session::~Session()
{
    SessionTables::instance().forget(simId());
    SessionServices::instance().forget(simId());
}

// The rules of the login that connected, until it ends.
IK7RLoginRules* Session::getLoginRules()
{
    if (nullAnswer("IK7RSession::getLoginRules"))
        return nullptr;
    return SessionServices::instance().loginRules(simId()).detach();
}

// --- login, logout and their steps ---------------------------------------------------------

bool Session::login(const char* user, const char* password, const char* url, const char* connection)
{
    note("IK7RSession::login", {text(user), text(password), text(url), text(connection)});
    if (auto fault = takeFault("IK7RSession::login"); fault && fault->kind == FaultKind::False)
        return false;
    if (!user || !password || !url || !connection)
        return false;
    Attempt attempt = world().scenario().read([&](const ScenarioState& s) {
        Attempt a;
        a.user = user;
        if (!equalsNoCase(connection, DemoConnection))
            a.failure = std::string("Unknown connection '") + connection + "'";
        else if (auto it = s.sessions.users.find(user); it == s.sessions.users.end() || it->second != password)
            a.failure = std::string("Invalid user name or password");
        else if (s.sessions.outcome == LoginOutcome::Reject)
            a.failure = s.sessions.rejectText;
        a.accepted = !a.failure;
        a.outcome = s.sessions.outcome;
        return a;
    });
    return startLogin(std::move(attempt));
}

bool Session::loginWithToken(const char* user, const char* token, const char* url, const char* connection)
{
    note("IK7RSession::loginWithToken", {text(user), text(token), text(url), text(connection)});
    if (auto fault = takeFault("IK7RSession::loginWithToken"); fault && fault->kind == FaultKind::False)
        return false;
    if (!user || !token || !url || !connection)
        return false;
    Attempt attempt = world().scenario().read([&](const ScenarioState& s) {
        Attempt a;
        a.user = user;
        if (!equalsNoCase(connection, DemoConnection))
            a.failure = std::string("Unknown connection '") + connection + "'";
        else if (auto it = s.sessions.tokens.find(token); it == s.sessions.tokens.end() || it->second != user)
            a.failure = std::string("Invalid token");
        else if (s.sessions.outcome == LoginOutcome::Reject)
            a.failure = s.sessions.rejectText;
        a.accepted = !a.failure;
        a.outcome = s.sessions.outcome;
        return a;
    });
    return startLogin(std::move(attempt));
}

bool Session::startLogin(Attempt attempt)
{
    if (world().finalized())
        return false;
    std::uint64_t flow;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phase_ != Phase::Idle)
            return false;
        phase_ = Phase::LoggingIn;
        flow = ++flow_;
        attempt_ = std::move(attempt);
    }
    later(0, flow, &Session::stepConnecting);
    return true;
}

// Steps find the session again by id, so a pending step keeps no session alive.
void Session::later(std::int64_t delayMs, std::uint64_t flow, Step step)
{
    const std::uint64_t id = simId();
    world().dispatcher().postAfter(delayMs, [id, flow, step] {
        Ref<Session> self = Ref<Session>::adopt(world().registry().acquire<Session>(id));
        if (self)
            ((*self).*step)(flow);
    });
}

void Session::stepConnecting(std::uint64_t flow)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (flow != flow_)
            return;
        status_ = IK7RSessionStatus::Connecting;
    }
    deliverSessionStatus(IK7RSessionStatus::Connecting);
    later(loginDelay(), flow, &Session::stepLoginOutcome);
}

void Session::stepLoginOutcome(std::uint64_t flow)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (flow != flow_)
        return;
    if (!attempt_.accepted)
    {
        const Text failure = attempt_.failure;
        status_ = IK7RSessionStatus::Disconnected;
        phase_ = Phase::Idle;
        lock.unlock();
        deliverLoginFailed(failure);
        deliverSessionStatus(IK7RSessionStatus::Disconnected);
        return;
    }
    if (attempt_.outcome == LoginOutcome::TradingSession)
    {
        status_ = IK7RSessionStatus::TradingSessionRequested;
        lock.unlock();
        deliverSessionStatus(IK7RSessionStatus::TradingSessionRequested);
        return;
    }
    status_ = attempt_.outcome == LoginOutcome::NeedToChangePassword
                  ? IK7RSessionStatus::ConnectedWithNeedToChangePassword
                  : IK7RSessionStatus::Connected;
    phase_ = Phase::Online;
    ++logins_;
    userName_ = attempt_.user;
    subId_ = "S" + std::to_string(simId()) + "." + std::to_string(logins_);
    token_ = "VXT1." + hex(mix(simId() * 1000003u + logins_)) + hex(mix(Clock::realNowMs() ^ flow));
    const std::string token = *token_, user = attempt_.user;
    world().scenario().update([&](ScenarioState& s) { s.sessions.tokens[token] = user; });
    const auto status = status_;
    const bool chart = chartSessionMode_.load() != K7RChartSessionMode::NoChartSession;
    lock.unlock();
    // The login's rules are there when its status arrives; the providers start loading.
    SessionServices::instance().loggedIn(simId(), user);
    // The manager exists from the connected status on; its load reports follow that status.
    SessionTables::instance().loggedIn(simId(), user);
    deliverSessionStatus(status);
    if (chart)
        chartConnecting(flow);
}

void Session::chartConnecting(std::uint64_t flow)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (flow != flow_)
            return;
        chartStatus_ = IK7RChartSessionStatus::Connecting;
    }
    deliverChartSessionStatus(IK7RChartSessionStatus::Connecting);
    later(loginDelay(), flow, &Session::stepChartConnected);
}

void Session::stepChartConnected(std::uint64_t flow)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (flow != flow_ || chartStatus_ != IK7RChartSessionStatus::Connecting)
            return;
        chartStatus_ = IK7RChartSessionStatus::Connected;
    }
    deliverChartSessionStatus(IK7RChartSessionStatus::Connected);
}

void Session::logout()
{
    note("IK7RSession::logout");
    if (world().finalized())
        return;
    std::uint64_t flow;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phase_ == Phase::Idle || phase_ == Phase::Closing)
            return;
        phase_ = Phase::Closing;
        flow = ++flow_;
    }
    world().sessionClosed(simId());
    later(0, flow, &Session::stepDisconnecting);
}

void Session::stepDisconnecting(std::uint64_t flow)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (flow != flow_)
            return;
        status_ = IK7RSessionStatus::Disconnecting;
    }
    deliverSessionStatus(IK7RSessionStatus::Disconnecting);
    later(loginDelay(), flow, &Session::stepDisconnected);
}

void Session::stepDisconnected(std::uint64_t flow)
{
    bool chartWasUp;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (flow != flow_)
            return;
        chartWasUp = chartStatus_ != IK7RChartSessionStatus::Disconnected;
        chartStatus_ = IK7RChartSessionStatus::Disconnected;
        status_ = IK7RSessionStatus::Disconnected;
        phase_ = Phase::Idle;
        userName_.reset();
        subId_.reset();
        token_.reset();
    }
    SessionServices::instance().loggedOut(simId());
    SessionTables::instance().loggedOut(simId());
    if (chartWasUp)
        deliverChartSessionStatus(IK7RChartSessionStatus::Disconnected);
    deliverSessionStatus(IK7RSessionStatus::Disconnected);
}

void Session::forceClose()
{
    note("IK7RSession::forceClose");
    if (world().finalized())
        return;
    std::uint64_t flow;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phase_ == Phase::Idle)
            return;
        phase_ = Phase::Closing;
        flow = ++flow_;
    }
    world().sessionClosed(simId());
    later(0, flow, &Session::stepLost);
}

void Session::stepLost(std::uint64_t flow)
{
    bool chartWasUp;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (flow != flow_)
            return;
        chartWasUp = chartStatus_ != IK7RChartSessionStatus::Disconnected;
        chartStatus_ = chartWasUp ? IK7RChartSessionStatus::SessionLost : IK7RChartSessionStatus::Disconnected;
        status_ = IK7RSessionStatus::SessionLost;
        phase_ = Phase::Idle;
        userName_.reset();
        subId_.reset();
        token_.reset();
    }
    SessionServices::instance().loggedOut(simId());
    SessionTables::instance().loggedOut(simId());
    if (chartWasUp)
        deliverChartSessionStatus(IK7RChartSessionStatus::SessionLost);
    deliverSessionStatus(IK7RSessionStatus::SessionLost);
}

void Session::disconnectQuietly()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++flow_;
    phase_ = Phase::Idle;
    status_ = IK7RSessionStatus::Disconnected;
    chartStatus_ = IK7RChartSessionStatus::Disconnected;
    userName_.reset();
    subId_.reset();
    token_.reset();
}

void Session::setTradingSession(const char* id, const char* pin)
{
    note("IK7RSession::setTradingSession", {text(id), text(pin)});
    std::uint64_t flow;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phase_ != Phase::LoggingIn || status_ != IK7RSessionStatus::TradingSessionRequested ||
            attempt_.outcome != LoginOutcome::TradingSession)
            return;
        attempt_.outcome = LoginOutcome::Connect;
        flow = flow_;
    }
    later(loginDelay(), flow, &Session::stepLoginOutcome);
}

bool Session::loggedIn() const
{
    return status_ == IK7RSessionStatus::Connected || status_ == IK7RSessionStatus::ConnectedWithNeedToChangePassword;
}

// --- subscriptions and deliveries ----------------------------------------------------------

template <class L>
void Session::subscribe(const char* op, ListenerList<L> Session::*list, L* listener)
{
    note(op, {listenerArg(listener)});
    if (!listener)
        return;
    ListenerRef<L> ref = ListenerRef<L>::retain(listener);
    std::lock_guard<std::mutex> lock(mutex_);
    (this->*list).add(std::move(ref));
    subscribersChanged_.notify_all();
}

template <class L>
void Session::unsubscribe(const char* op, ListenerList<L> Session::*list, L* listener)
{
    note(op, {listenerArg(listener)});
    typename ListenerList<L>::Entry dropped;  // given back after the lock is let go
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = (this->*list).remove(listener);
    subscribersChanged_.notify_all();
}

template <class L, class Call>
void Session::deliver(ListenerList<L> Session::*list, Call call)
{
    (this->*list).deliver(mutex_, call);
}

void Session::subscribeSessionStatus(IK7RSessionStatus* listener)
{
    subscribe("IK7RSession::subscribeSessionStatus", &Session::statusListeners_, listener);
}

void Session::unsubscribeSessionStatus(IK7RSessionStatus* listener)
{
    unsubscribe("IK7RSession::unsubscribeSessionStatus", &Session::statusListeners_, listener);
}

void Session::subscribeResponse(IK7RResponseListener* listener)
{
    subscribe("IK7RSession::subscribeResponse", &Session::responseListeners_, listener);
}

void Session::unsubscribeResponse(IK7RResponseListener* listener)
{
    unsubscribe("IK7RSession::unsubscribeResponse", &Session::responseListeners_, listener);
}

void Session::subscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener)
{
    subscribe("IK7RSession::subscribeSystemPropertiesChange", &Session::propertyListeners_, listener);
}

void Session::unsubscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener)
{
    unsubscribe("IK7RSession::unsubscribeSystemPropertiesChange", &Session::propertyListeners_, listener);
}

void Session::subscribeChartSessionStatus(IK7RChartSessionStatus* listener)
{
    subscribe("IK7RSession::subscribeChartSessionStatus", &Session::chartListeners_, listener);
}

void Session::unsubscribeChartSessionStatus(IK7RChartSessionStatus* listener)
{
    unsubscribe("IK7RSession::unsubscribeChartSessionStatus", &Session::chartListeners_, listener);
}

void Session::deliverSessionStatus(int status)
{
    deliver(&Session::statusListeners_, [status](IK7RSessionStatus* l) {
        l->onSessionStatusChanged(static_cast<IK7RSessionStatus::K7RSessionStatus>(status));
    });
}

void Session::deliverLoginFailed(const Text& error)
{
    deliver(&Session::statusListeners_, [&](IK7RSessionStatus* l) { l->onLoginFailed(error ? error->c_str() : nullptr); });
}

void Session::deliverChartSessionStatus(int status)
{
    deliver(&Session::chartListeners_, [status](IK7RChartSessionStatus* l) {
        l->onChartSessionStatusChanged(static_cast<IK7RChartSessionStatus::K7RChartSessionStatus>(status));
    });
}

void Session::deliverChartSessionLoginFailed(const Text& error)
{
    deliver(&Session::chartListeners_,
            [&](IK7RChartSessionStatus* l) { l->onChartSessionLoginFailed(error ? error->c_str() : nullptr); });
}

void Session::deliverPropertyChange(const Text& name, const Text& value)
{
    deliver(&Session::propertyListeners_, [&](IK7RSystemPropertiesListener* l) {
        l->onChangeProperty(name ? name->c_str() : nullptr, value ? value->c_str() : nullptr);
    });
}

void Session::deliverRequestCompleted(const Text& requestId, IK7RResponse* response)
{
    deliver(&Session::responseListeners_, [&](IK7RResponseListener* l) {
        l->onRequestCompleted(requestId ? requestId->c_str() : nullptr, response);
    });
}

void Session::deliverRequestFailed(const Text& requestId, const Text& error)
{
    deliver(&Session::responseListeners_, [&](IK7RResponseListener* l) {
        l->onRequestFailed(requestId ? requestId->c_str() : nullptr, error ? error->c_str() : nullptr);
    });
}

void Session::deliverTablesUpdates(IK7RResponse* response)
{
    deliver(&Session::responseListeners_, [&](IK7RResponseListener* l) { l->onTablesUpdates(response); });
}

bool Session::online() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return loggedIn();
}

int Session::countLocked(Point point) const
{
    switch (point)
    {
    case Point::SessionStatus: return statusListeners_.size();
    case Point::ChartSessionStatus: return chartListeners_.size();
    case Point::Response: return responseListeners_.size();
    case Point::SystemProperties: return propertyListeners_.size();
    }
    return 0;
}

int Session::subscribers(Point point) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return countLocked(point);
}

bool Session::waitSubscribers(Point point, int n, std::int64_t timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return subscribersChanged_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                                        [&] { return countLocked(point) == n; });
}

// --- ghosts --------------------------------------------------------------------------------

namespace
{
// The ghost list takes the entries themselves, references included.
template <class L>
std::vector<typename ListenerList<L>::Entry> keep(const ListenerList<L>& from, ListenerList<L>& to)
{
    std::vector<typename ListenerList<L>::Entry> old = to.takeAll();
    if (auto now = from.snapshot())
        for (const auto& entry : *now)
            to.add(entry);
    return old;
}

template <class L, class Call>
void callAll(const typename ListenerList<L>::Snapshot& entries, Call call)
{
    if (entries)
        for (const auto& entry : *entries)
            call(entry->get());
}
}  // namespace

void Session::keepGhosts(Point point)
{
    // The entries replaced are given back after the lock is let go.
    std::vector<ListenerList<IK7RSessionStatus>::Entry> a;
    std::vector<ListenerList<IK7RChartSessionStatus>::Entry> b;
    std::vector<ListenerList<IK7RResponseListener>::Entry> c;
    std::vector<ListenerList<IK7RSystemPropertiesListener>::Entry> d;
    std::lock_guard<std::mutex> lock(mutex_);
    switch (point)
    {
    case Point::SessionStatus: a = keep(statusListeners_, statusGhosts_); break;
    case Point::ChartSessionStatus: b = keep(chartListeners_, chartGhosts_); break;
    case Point::Response: c = keep(responseListeners_, responseGhosts_); break;
    case Point::SystemProperties: d = keep(propertyListeners_, propertyGhosts_); break;
    }
}

void Session::deliverGhostSessionStatus(int status)
{
    ListenerList<IK7RSessionStatus>::Snapshot held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held = statusGhosts_.snapshot();
    }
    callAll<IK7RSessionStatus>(held, [status](IK7RSessionStatus* l) {
        l->onSessionStatusChanged(static_cast<IK7RSessionStatus::K7RSessionStatus>(status));
    });
}

void Session::deliverGhostChartSessionStatus(int status)
{
    ListenerList<IK7RChartSessionStatus>::Snapshot held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held = chartGhosts_.snapshot();
    }
    callAll<IK7RChartSessionStatus>(held, [status](IK7RChartSessionStatus* l) {
        l->onChartSessionStatusChanged(static_cast<IK7RChartSessionStatus::K7RChartSessionStatus>(status));
    });
}

void Session::clearGhosts()
{
    std::vector<ListenerList<IK7RSessionStatus>::Entry> a;
    std::vector<ListenerList<IK7RChartSessionStatus>::Entry> b;
    std::vector<ListenerList<IK7RResponseListener>::Entry> c;
    std::vector<ListenerList<IK7RSystemPropertiesListener>::Entry> d;
    std::lock_guard<std::mutex> lock(mutex_);
    a = statusGhosts_.takeAll();
    b = chartGhosts_.takeAll();
    c = responseGhosts_.takeAll();
    d = propertyGhosts_.takeAll();
}

namespace
{
// reset() lets go of every ghost of every live session, and of flows whose steps it cancelled.
struct SessionsAtReset
{
    SessionsAtReset()
    {
        world().onReset([] {
            for (std::uint64_t id : world().registry().objects("IK7RSession"))
                if (Ref<Session> s = Ref<Session>::adopt(world().registry().acquire<Session>(id)))
                {
                    s->clearGhosts();
                    s->disconnectQuietly();
                }
        });
    }
} sessionsAtReset;
}  // namespace

// --- texts of the server's making ----------------------------------------------------------

// Scripted counts first (a "value" fault, then the world's script); then the text itself, or
// `missingCode` when there is none. A buffer never receives more than `size` bytes, and a
// scripted count never exceeds the buffer it is reported for.
int Session::twoPass(const char* script, const Text& text, int missingCode, int tooSmallCode, char* buffer, int size)
{
    std::optional<std::int64_t> scripted = faultInt((std::string("IK7RSession::") + script).c_str());
    if (!scripted)
        scripted = world().scenario().update([&](ScenarioState& s) -> std::optional<std::int64_t> {
            auto it = s.sessions.countScripts.find(script);
            if (it == s.sessions.countScripts.end() || it->second.empty())
                return std::nullopt;
            const int count = it->second.front();
            it->second.pop_front();
            return count;
        });
    if (scripted)
    {
        if (*scripted < 0 || !buffer)
            return static_cast<int>(*scripted);
        const int count = static_cast<int>(std::min<std::int64_t>(*scripted, std::max(size, 0)));
        if (text)
            std::memcpy(buffer, text->data(), std::min<std::size_t>(static_cast<std::size_t>(count), text->size()));
        return count;
    }
    if (!text)
        return missingCode;
    const int needed = static_cast<int>(text->size());
    if (!buffer)
        return needed;
    if (size < needed)
        return tooSmallCode;
    std::memcpy(buffer, text->data(), text->size());
    if (size > needed)
        buffer[needed] = '\0';
    return needed;
}

int Session::getReportUrl(char* buffer, int size, const char* account, double dateFrom, double dateTo,
                          const char* format, const char* language)
{
    note("IK7RSession::getReportUrl", {flag(buffer != nullptr), number(size), text(account), number(dateFrom),
                                       number(dateTo), text(format), text(language)});
    Text url;
    int missing = static_cast<int>(K7RReportUrlError::ReportUrlNotLogged);
    Text subId;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (loggedIn())
            subId = subId_;
    }
    if (subId)
    {
        const auto from = isoDay(dateFrom), to = isoDay(dateTo);
        if (!account || !*account)
        {
            missing = static_cast<int>(K7RReportUrlError::ReportUrlNoAccId);
        }
        else if (!from || !to)
        {
            missing = static_cast<int>(K7RReportUrlError::ReportUrlNotSupported);
        }
        else
        {
            std::string u = std::string(ReportHost) + "?account=" + urlEncode(account) + "&from=" + *from + "&to=" + *to;
            if (format)
                u += "&format=" + urlEncode(format);
            if (language)
                u += "&language=" + urlEncode(language);
            u += "&session=" + urlEncode(*subId);
            url = std::move(u);
        }
    }
    return twoPass("getReportUrl", url, missing, static_cast<int>(K7RReportUrlError::ReportUrlTooSmallBuffer), buffer,
                   size);
}

int Session::getToken(char* buffer, int size)
{
    note("IK7RSession::getToken", {flag(buffer != nullptr), number(size)});
    Text token;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (loggedIn())
            token = token_;
    }
    return twoPass("getToken", token, static_cast<int>(K7RTokenError::TokenNotLogged),
                   static_cast<int>(K7RTokenError::TokenTooSmallBuffer), buffer, size);
}

// --- getters and settings ------------------------------------------------------------------

IK7RSessionDescriptorCollection* Session::getTradingSessionDescriptors()
{
    note("IK7RSession::getTradingSessionDescriptors");
    if (auto fault = takeFault("IK7RSession::getTradingSessionDescriptors"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    auto specs = world().scenario().read([](const ScenarioState& s) { return s.sessionDescriptors; });
    if (!specs)
        return nullptr;
    return make<SessionDescriptorCollection>(*specs).detach();
}

// A new factory each time, logged in or not: the factories keep no state the session needs.
IK7RRequestFactory* Session::getRequestFactory()
{
    if (auto fault = takeFault("IK7RSession::getRequestFactory"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    return make<RequestFactory>(simId()).detach();
}

IK7RResponseReaderFactory* Session::getResponseReaderFactory()
{
    if (auto fault = takeFault("IK7RSession::getResponseReaderFactory"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    return make<ResponseReaderFactory>().detach();
}

void Session::sendRequest(IK7RRequest* request)
{
    auto* ours = dynamic_cast<Request*>(request);
    note("IK7RSession::sendRequest", {ours ? Value(ours->id()) : Value(flag(request != nullptr))});
    RequestServer::instance().send(*this, request);
}

void Session::setRequestsTimeout(std::uint64_t milliseconds)
{
    note("IK7RSession::setRequestsTimeout", {number(milliseconds)});
    requestsTimeout_.store(milliseconds);
}

std::uint64_t Session::getRequestsTimeout()
{
    if (auto v = faultInt("IK7RSession::getRequestsTimeout"))
        return static_cast<std::uint64_t>(*v);
    return requestsTimeout_.load();
}

// Conversions need no session state: a new converter each time.
IK7RTimeConverter* Session::getTimeConverter()
{
    if (nullAnswer("IK7RSession::getTimeConverter"))
        return nullptr;
    return makeTimeConverter();
}

void Session::setPriceUpdateMode(K7RPriceUpdateMode mode)
{
    note("IK7RSession::setPriceUpdateMode", {number(mode)});
    priceUpdateMode_.store(mode);
}

K7RPriceUpdateMode Session::getPriceUpdateMode()
{
    if (auto v = faultInt("IK7RSession::getPriceUpdateMode"))
        return static_cast<K7RPriceUpdateMode>(*v);
    return priceUpdateMode_.load();
}

double Session::getServerTime()
{
    if (auto fault = takeFault("IK7RSession::getServerTime"); fault && fault->kind == FaultKind::Value)
        if (auto v = fault->asDouble())
            return *v;
    if (auto fixed = world().scenario().read([](const ScenarioState& s) { return s.sessions.serverTime; }))
        return *fixed;
    return world().clock().nowOle();
}

IK7RTableManager* Session::getTableManager()
{
    return SessionTables::instance().manager(simId()).detach();
}

IK7RTableManager* Session::getTableManagerByAccount(const char* account)
{
    note("IK7RSession::getTableManagerByAccount", {text(account)});
    return SessionTables::instance().managerByAccount(simId(), account).detach();
}

void Session::useTableManager(K7RTableManagerMode mode, IK7RTableManagerListener* listener)
{
    note("IK7RSession::useTableManager", {number(mode), listenerArg(listener)});
    SessionTables::instance().use(simId(), mode, listener);
}

IK7RSessionStatus::K7RSessionStatus Session::getSessionStatus()
{
    if (auto v = faultInt("IK7RSession::getSessionStatus"))
        return static_cast<IK7RSessionStatus::K7RSessionStatus>(*v);
    // A finalized library has no connection, whatever its sessions last heard.
    if (world().finalized())
        return IK7RSessionStatus::Disconnected;
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

bool Session::setPriceRefreshRate(int rate)
{
    note("IK7RSession::setPriceRefreshRate", {number(rate)});
    if (auto fault = takeFault("IK7RSession::setPriceRefreshRate"); fault && fault->kind == FaultKind::False)
        return false;
    if (rate < MinPriceRefreshRate || rate > MaxPriceRefreshRate)
        return false;
    priceRefreshRate_.store(rate);
    return true;
}

int Session::getPriceRefreshRate()
{
    if (auto v = faultInt("IK7RSession::getPriceRefreshRate"))
        return static_cast<int>(*v);
    return priceRefreshRate_.load();
}

int Session::getMinPriceRefreshRate()
{
    if (auto v = faultInt("IK7RSession::getMinPriceRefreshRate"))
        return static_cast<int>(*v);
    return MinPriceRefreshRate;
}

int Session::getMaxPriceRefreshRate()
{
    if (auto v = faultInt("IK7RSession::getMaxPriceRefreshRate"))
        return static_cast<int>(*v);
    return MaxPriceRefreshRate;
}

// A text getter: a "null" fault gives null, a "value" fault that text; the text handed out stays
// valid while the session lives.
const char* Session::textResult(const char* op, Text Session::*member)
{
    Text value;
    bool scripted = false;
    if (auto fault = takeFault(op))
    {
        if (fault->kind == FaultKind::Null)
            return nullptr;
        if (fault->kind == FaultKind::Value)
        {
            value = fault->asText();
            scripted = true;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!scripted)
        value = this->*member;
    return value ? interned_.insert(*value).first->c_str() : nullptr;
}

const char* Session::getSessionSubId()
{
    return textResult("IK7RSession::getSessionSubId", &Session::subId_);
}

const char* Session::getUserName()
{
    return textResult("IK7RSession::getUserName", &Session::userName_);
}

void Session::setChartSessionMode(K7RChartSessionMode mode)
{
    note("IK7RSession::setChartSessionMode", {number(mode)});
    chartSessionMode_.store(mode);
}

K7RChartSessionMode Session::getChartSessionMode()
{
    if (auto v = faultInt("IK7RSession::getChartSessionMode"))
        return static_cast<K7RChartSessionMode>(*v);
    return chartSessionMode_.load();
}

IK7RChartSessionStatus::K7RChartSessionStatus Session::getChartSessionStatus()
{
    if (auto v = faultInt("IK7RSession::getChartSessionStatus"))
        return static_cast<IK7RChartSessionStatus::K7RChartSessionStatus>(*v);
    std::lock_guard<std::mutex> lock(mutex_);
    return chartStatus_;
}

K7RUserKind Session::getUserKind()
{
    if (auto v = faultInt("IK7RSession::getUserKind"))
        return static_cast<K7RUserKind>(*v);
    std::lock_guard<std::mutex> lock(mutex_);
    return userName_ ? K7RUserKind::UserKindTrader : K7RUserKind::UserKindUndefined;
}

// One provider of each kind for the session's whole life, logged in or not.
IK7RCommissionsProvider* Session::getCommissionsProvider()
{
    if (nullAnswer("IK7RSession::getCommissionsProvider"))
        return nullptr;
    return SessionServices::instance().commissions(simId()).detach();
}

IK7RRolloverProvider* Session::getRolloverProvider()
{
    if (nullAnswer("IK7RSession::getRolloverProvider"))
        return nullptr;
    return SessionServices::instance().rollover(simId()).detach();
}

}  // namespace sim::velvix
