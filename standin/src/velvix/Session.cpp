// The simulated trading session. Each operation is journaled as "IK7RSession::<name>"; getters of
// services hand out null until those services exist, the session stays disconnected.
#include "Session.h"

#include "SessionDescriptors.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{
constexpr const char* Lib = "velvix";

void note(const char* op, Values args = {})
{
    journal(Lib, op, std::move(args));
}

Value listenerArg(const void* listener)
{
    return flag(listener != nullptr);
}
}  // namespace

Session::Session() : RefCounted("IK7RSession")
{
}

Session::~Session() = default;

IK7RLoginRules* Session::getLoginRules()
{
    return nullptr;
}

bool Session::login(const char* user, const char* password, const char* url, const char* connection)
{
    note("IK7RSession::login", {text(user), text(password), text(url), text(connection)});
    return true;
}

bool Session::loginWithToken(const char* user, const char* token, const char* url, const char* connection)
{
    note("IK7RSession::loginWithToken", {text(user), text(token), text(url), text(connection)});
    return true;
}

void Session::logout()
{
    note("IK7RSession::logout");
}

void Session::subscribeSessionStatus(IK7RSessionStatus* listener)
{
    note("IK7RSession::subscribeSessionStatus", {listenerArg(listener)});
}

void Session::unsubscribeSessionStatus(IK7RSessionStatus* listener)
{
    note("IK7RSession::unsubscribeSessionStatus", {listenerArg(listener)});
}

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

void Session::setTradingSession(const char* id, const char* pin)
{
    note("IK7RSession::setTradingSession", {text(id), text(pin)});
}

void Session::subscribeResponse(IK7RResponseListener* listener)
{
    note("IK7RSession::subscribeResponse", {listenerArg(listener)});
}

void Session::unsubscribeResponse(IK7RResponseListener* listener)
{
    note("IK7RSession::unsubscribeResponse", {listenerArg(listener)});
}

void Session::subscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener)
{
    note("IK7RSession::subscribeSystemPropertiesChange", {listenerArg(listener)});
}

void Session::unsubscribeSystemPropertiesChange(IK7RSystemPropertiesListener* listener)
{
    note("IK7RSession::unsubscribeSystemPropertiesChange", {listenerArg(listener)});
}

IK7RRequestFactory* Session::getRequestFactory()
{
    return nullptr;
}

IK7RResponseReaderFactory* Session::getResponseReaderFactory()
{
    return nullptr;
}

void Session::sendRequest(IK7RRequest* request)
{
    note("IK7RSession::sendRequest", {flag(request != nullptr)});
}

void Session::setRequestsTimeout(std::uint64_t milliseconds)
{
    note("IK7RSession::setRequestsTimeout", {number(milliseconds)});
    requestsTimeout_.store(milliseconds);
}

std::uint64_t Session::getRequestsTimeout()
{
    return requestsTimeout_.load();
}

IK7RTimeConverter* Session::getTimeConverter()
{
    return nullptr;
}

void Session::setPriceUpdateMode(K7RPriceUpdateMode mode)
{
    note("IK7RSession::setPriceUpdateMode", {number(mode)});
    priceUpdateMode_.store(mode);
}

K7RPriceUpdateMode Session::getPriceUpdateMode()
{
    return priceUpdateMode_.load();
}

double Session::getServerTime()
{
    return world().clock().nowOle();
}

int Session::getReportUrl(char* buffer, int size, const char* account, double dateFrom, double dateTo,
                          const char* format, const char* language)
{
    note("IK7RSession::getReportUrl", {flag(buffer != nullptr), number(size), text(account), number(dateFrom),
                                       number(dateTo), text(format), text(language)});
    return static_cast<int>(K7RReportUrlError::ReportUrlNotLogged);
}

int Session::getToken(char* buffer, int size)
{
    note("IK7RSession::getToken", {flag(buffer != nullptr), number(size)});
    return static_cast<int>(K7RTokenError::TokenNotLogged);
}

IK7RTableManager* Session::getTableManager()
{
    return nullptr;
}

IK7RTableManager* Session::getTableManagerByAccount(const char* account)
{
    note("IK7RSession::getTableManagerByAccount", {text(account)});
    return nullptr;
}

void Session::useTableManager(K7RTableManagerMode mode, IK7RTableManagerListener* listener)
{
    note("IK7RSession::useTableManager", {number(mode), listenerArg(listener)});
}

IK7RSessionStatus::K7RSessionStatus Session::getSessionStatus()
{
    return IK7RSessionStatus::Disconnected;
}

bool Session::setPriceRefreshRate(int rate)
{
    note("IK7RSession::setPriceRefreshRate", {number(rate)});
    priceRefreshRate_.store(rate);
    return true;
}

int Session::getPriceRefreshRate()
{
    return priceRefreshRate_.load();
}

int Session::getMinPriceRefreshRate()
{
    return 0;
}

int Session::getMaxPriceRefreshRate()
{
    return 0;
}

const char* Session::getSessionSubId()
{
    return nullptr;
}

void Session::setChartSessionMode(K7RChartSessionMode mode)
{
    note("IK7RSession::setChartSessionMode", {number(mode)});
    chartSessionMode_.store(mode);
}

K7RChartSessionMode Session::getChartSessionMode()
{
    return chartSessionMode_.load();
}

void Session::subscribeChartSessionStatus(IK7RChartSessionStatus* listener)
{
    note("IK7RSession::subscribeChartSessionStatus", {listenerArg(listener)});
}

void Session::unsubscribeChartSessionStatus(IK7RChartSessionStatus* listener)
{
    note("IK7RSession::unsubscribeChartSessionStatus", {listenerArg(listener)});
}

IK7RChartSessionStatus::K7RChartSessionStatus Session::getChartSessionStatus()
{
    return IK7RChartSessionStatus::Disconnected;
}

K7RUserKind Session::getUserKind()
{
    return K7RUserKind::UserKindUndefined;
}

const char* Session::getUserName()
{
    return nullptr;
}

IK7RCommissionsProvider* Session::getCommissionsProvider()
{
    return nullptr;
}

IK7RRolloverProvider* Session::getRolloverProvider()
{
    return nullptr;
}

void Session::forceClose()
{
    note("IK7RSession::forceClose");
}

}  // namespace sim::velvix
