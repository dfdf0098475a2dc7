// The answers of the request desk, on the dispatcher thread: snapshots from the history generator
// (a range it would have to cut is refused instead), refreshes from the session's tables, orders
// through the dealing desk. A session that is not logged in gets every request failed.
#include "OrderEngine.h"
#include "RequestServer.h"
#include "Responses.h"
#include "Session.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{

void answerSnapshot(Session& session, const Request& request)
{
    const SnapshotQuery q = request.snapshot();
    const std::int64_t now = world().clock().nowMs();
    if (auto why = history::refusal(q.instrument, q.frame, q.from, q.to, q.count, now))
    {
        session.deliverRequestFailed(request.id(), *why);
        return;
    }
    ResponseContent content;
    content.snapshot =
        std::make_shared<const history::Series>(history::bars(q.instrument, q.frame, q.from, q.to, q.count, now));
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::MarketDataSnapshot),
                                            Text(request.id()), std::move(content));
    session.deliverRequestCompleted(request.id(), response.get());
}

void answerRefresh(Session& session, const Request& request)
{
    ResponseContent content;
    std::string error;
    auto rows = std::make_shared<TableRows>();
    if (!tableRows(session, request.table, request.account, *rows, error))
    {
        session.deliverRequestFailed(request.id(), error);
        return;
    }
    content.table = std::move(rows);
    Ref<Response> response = make<Response>(static_cast<int>(refreshResponseType(request.table)),
                                            Text(request.id()), std::move(content));
    session.deliverRequestCompleted(request.id(), response.get());
}

void answerMail(Session& session, const Request& request)
{
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::CommandResponse), Text(request.id()));
    session.deliverRequestCompleted(request.id(), response.get());
}

}  // namespace

void RequestServer::answer(const Ref<Request>& request, std::uint64_t sessionId)
{
    Ref<Session> session = Ref<Session>::adopt(world().registry().acquire<Session>(sessionId));
    if (!session)
        return;
    if (!session->online())
    {
        session->deliverRequestFailed(request->id(), std::string("The session is not connected to the trading server"));
        return;
    }
    switch (request->kind())
    {
    case RequestKind::MarketDataSnapshot: answerSnapshot(*session, *request); break;
    case RequestKind::RefreshTable: answerRefresh(*session, *request); break;
    case RequestKind::ConfirmationMail: answerMail(*session, *request); break;
    case RequestKind::Order: answerOrder(*session, request); break;
    }
}

void RequestServer::answerFailed(const Ref<Request>& request, std::uint64_t sessionId, const Text& error)
{
    if (Ref<Session> session = Ref<Session>::adopt(world().registry().acquire<Session>(sessionId)))
        session->deliverRequestFailed(request->id(), error);
}

}  // namespace sim::velvix
