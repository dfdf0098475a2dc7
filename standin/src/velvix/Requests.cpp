// Requests and the request factory. Every request made is entered in the server's book (for the
// control face), children included; the book holds no reference to it.
#include "Requests.h"

#include <atomic>

#include "RequestServer.h"
#include "Responses.h"
#include "Timeframes.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{

constexpr const char* Lib = "velvix";

std::string nextRequestId()
{
    static std::atomic<std::uint64_t> counter{0};
    return std::to_string(1000000 + counter.fetch_add(1) + 1);
}

Text textOf(const char* s)
{
    return s ? Text(s) : Text();
}

}  // namespace

const char* kindName(RequestKind kind)
{
    switch (kind)
    {
    case RequestKind::Order: return "order";
    case RequestKind::MarketDataSnapshot: return "market_data_snapshot";
    case RequestKind::RefreshTable: return "refresh_table";
    case RequestKind::ConfirmationMail: return "confirmation_mail";
    }
    return "order";
}

// --- requests --------------------------------------------------------------------------------

Request::Request(RequestKind kind, std::uint64_t sessionId)
    : RefCounted("IK7RRequest"), kind_(kind), sessionId_(sessionId), id_(nextRequestId())
{
}

const char* Request::getRequestId()
{
    return id_.c_str();
}

int Request::getChildrenCount()
{
    return static_cast<int>(children.size());
}

IK7RRequest* Request::getChildRequest(int index)
{
    if (index < 0 || index >= getChildrenCount())
        return nullptr;
    return children[static_cast<std::size_t>(index)].share();
}

SnapshotQuery Request::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
}

void Request::setSnapshot(SnapshotQuery query)
{
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_ = std::move(query);
}

RequestInfo Request::info() const
{
    RequestInfo out;
    switch (kind_)
    {
    case RequestKind::Order:
        out.emplace_back("children", number(children.size()));
        break;
    case RequestKind::MarketDataSnapshot:
    {
        const SnapshotQuery q = snapshot();
        out.emplace_back("instrument", Value(q.instrument));
        out.emplace_back("timeframe", text(q.timeframeId));
        out.emplace_back("count", number(q.count));
        out.emplace_back("from", Value(q.from));
        out.emplace_back("to", Value(q.to));
        out.emplace_back("include_weekends", flag(q.includeWeekends));
        out.emplace_back("mode", number(q.openPriceMode));
        break;
    }
    case RequestKind::RefreshTable:
        out.emplace_back("table", number(table));
        out.emplace_back("account", text(account));
        break;
    case RequestKind::ConfirmationMail:
        out.emplace_back("message_id", text(messageId));
        break;
    }
    return out;
}

// --- the factory -----------------------------------------------------------------------------

RequestFactory::RequestFactory(std::uint64_t sessionId) : RefCounted("IK7RRequestFactory"), sessionId_(sessionId) {}

std::nullptr_t RequestFactory::fail(const std::string& why)
{
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_ = why;
    return nullptr;
}

bool RequestFactory::faulted(const char* op)
{
    auto fault = takeFault(op);
    if (!fault || (fault->kind != FaultKind::Null && fault->kind != FaultKind::False))
        return false;
    fail(RequestServer::instance().scriptedError().value_or(std::string(op) + " failed"));
    return true;
}

IK7RRequest* RequestFactory::made(Ref<Request> request)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastError_.clear();
    }
    RequestServer::instance().created(*request);
    return request.detach();
}

IK7RTimeframeCollection* RequestFactory::getTimeframeCollection()
{
    journal(Lib, "IK7RRequestFactory::getTimeframeCollection");
    if (faulted("IK7RRequestFactory::getTimeframeCollection"))
        return nullptr;
    return make<TimeframeCollection>(serverTimeframes()).detach();
}

IK7RRequest* RequestFactory::createMarketDataSnapshotRequestInstrument(const char* instrument,
                                                                       IK7RTimeframe* timeframe, int maxBars)
{
    journal(Lib, "IK7RRequestFactory::createMarketDataSnapshotRequestInstrument",
            {text(instrument), timeframe ? text(timeframe->getId()) : Value(), number(maxBars)});
    if (faulted("IK7RRequestFactory::createMarketDataSnapshotRequestInstrument"))
        return nullptr;
    if (!instrument || !*instrument)
        return fail("The instrument is not specified");
    if (!history::knownInstrument(instrument))
        return fail(std::string("Unknown instrument '") + instrument + "'");
    if (!timeframe)
        return fail("The timeframe is not specified");
    SnapshotQuery q;
    q.instrument = instrument;
    q.timeframeId = textOf(timeframe->getId());
    q.frame = frameOf(timeframe);
    if (q.frame.size < 1 || static_cast<int>(q.frame.unit) < 0 || static_cast<int>(q.frame.unit) > 6)
        return fail("The timeframe is not supported");
    q.count = maxBars;
    Ref<Request> request = make<Request>(RequestKind::MarketDataSnapshot, sessionId_);
    request->setSnapshot(std::move(q));
    return made(std::move(request));
}

bool RequestFactory::fillMarketDataSnapshotRequestTime(IK7RRequest* request, double timeFrom, double timeTo,
                                                       bool isIncludeWeekends, K7RCandleOpenPriceMode mode)
{
    journal(Lib, "IK7RRequestFactory::fillMarketDataSnapshotRequestTime",
            {Value(timeFrom), Value(timeTo), flag(isIncludeWeekends), number(mode)});
    if (faulted("IK7RRequestFactory::fillMarketDataSnapshotRequestTime"))
        return false;
    auto* ours = dynamic_cast<Request*>(request);
    if (!ours || ours->kind() != RequestKind::MarketDataSnapshot)
        return fail("The request is not a market data snapshot request"), false;
    SnapshotQuery q = ours->snapshot();
    q.from = timeFrom;
    q.to = timeTo;
    q.includeWeekends = isIncludeWeekends;
    q.openPriceMode = static_cast<int>(mode);
    ours->setSnapshot(std::move(q));
    RequestServer::instance().updated(*ours);
    return true;
}

IK7RRequest* RequestFactory::createConfirmationMailRequest(IK7RMessageRow* message)
{
    journal(Lib, "IK7RRequestFactory::createConfirmationMailRequest", {flag(message != nullptr)});
    if (faulted("IK7RRequestFactory::createConfirmationMailRequest"))
        return nullptr;
    if (!message)
        return fail("The message is not specified");
    Ref<Request> request = make<Request>(RequestKind::ConfirmationMail, sessionId_);
    request->messageId = textOf(message->getMsgID());
    return made(std::move(request));
}

IK7RRequest* RequestFactory::createRefreshTableRequest(K7RTable table)
{
    journal(Lib, "IK7RRequestFactory::createRefreshTableRequest", {number(table)});
    if (faulted("IK7RRequestFactory::createRefreshTableRequest"))
        return nullptr;
    if (refreshResponseType(table) == K7RResponseType::ResponseUnknown)
        return fail("The table " + std::to_string(static_cast<int>(table)) + " cannot be refreshed");
    Ref<Request> request = make<Request>(RequestKind::RefreshTable, sessionId_);
    request->table = table;
    return made(std::move(request));
}

IK7RRequest* RequestFactory::createRefreshTableRequestByAccount(K7RTable table, const char* account)
{
    journal(Lib, "IK7RRequestFactory::createRefreshTableRequestByAccount", {number(table), text(account)});
    if (faulted("IK7RRequestFactory::createRefreshTableRequestByAccount"))
        return nullptr;
    if (refreshResponseType(table) == K7RResponseType::ResponseUnknown)
        return fail("The table " + std::to_string(static_cast<int>(table)) + " cannot be refreshed");
    if (!account || !*account)
        return fail("The account is not specified");
    Ref<Request> request = make<Request>(RequestKind::RefreshTable, sessionId_);
    request->table = table;
    request->account = std::string(account);
    return made(std::move(request));
}

Ref<Request> RequestFactory::orderFrom(const MapContents& contents)
{
    Ref<Request> request = make<Request>(RequestKind::Order, sessionId_);
    request->params = contents;
    request->params.children.clear();
    for (const MapContents& child : contents.children)
        request->children.push_back(orderFrom(child));
    RequestServer::instance().created(*request);
    return request;
}

IK7RRequest* RequestFactory::createOrderRequest(IK7RValueMap* valueMap)
{
    journal(Lib, "IK7RRequestFactory::createOrderRequest", {flag(valueMap != nullptr)});
    if (faulted("IK7RRequestFactory::createOrderRequest"))
        return nullptr;
    if (!valueMap)
        return fail("The value map is not specified");
    const MapContents contents = contentsOf(valueMap);
    if (!contents.params.count(static_cast<int>(K7RRequestParamsEnum::Command)))
        return fail("The command is not specified (COMMAND)");
    Ref<Request> request = orderFrom(contents);
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_.clear();
    return request.detach();
}

IK7RValueMap* RequestFactory::createValueMap()
{
    journal(Lib, "IK7RRequestFactory::createValueMap");
    if (faulted("IK7RRequestFactory::createValueMap"))
        return nullptr;
    return make<ValueMap>().detach();
}

const char* RequestFactory::getLastError()
{
    if (auto fault = takeFault("IK7RRequestFactory::getLastError"))
    {
        if (fault->kind == FaultKind::Null)
            return nullptr;
        if (auto t = fault->asText())
        {
            std::lock_guard<std::mutex> lock(mutex_);
            return interned_.insert(*t).first->c_str();
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return interned_.insert(lastError_).first->c_str();
}

}  // namespace sim::velvix
