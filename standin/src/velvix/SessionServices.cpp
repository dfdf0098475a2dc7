// The services of every session, by session id, and the login's snapshot of what the server
// sends when a login connects.
#include "SessionServices.h"

#include <cstring>
#include <string>
#include <vector>

#include "Accounts.h"
#include "LoginRules.h"
#include "Providers.h"
#include "Rows.h"
#include "SystemProperties.h"

namespace sim::velvix
{

namespace
{

// A login's refresh of one table: the user's account and the offers as the server holds them at
// that moment, in plain rows, under a request id of the login's own.
Ref<Response> loginRefresh(K7RTable table, const AccountBook& book)
{
    const K7RResponseType type = refreshResponseType(table);
    if (type == K7RResponseType::ResponseUnknown)
        return nullptr;
    auto rows = std::make_shared<TableRows>();
    rows->type = table;
    rows->columns = Ref<IK7RTableColumnCollection>::retain(columnSet(table, false));
    const char* key = keyColumnId(table);
    for (const CellValues& cells : serverRows(table, &book))
        rows->rows.push_back(Ref<IK7RRow>::adopt(rowOf(table, RowKind::Plain, cells, textIn(cells, key)).share()));
    ResponseContent content;
    content.table = std::move(rows);
    return make<Response>(static_cast<int>(type), Text("login:" + std::to_string(static_cast<int>(table))),
                          std::move(content));
}

}  // namespace

bool nullAnswer(const char* op, Values args)
{
    journal("velvix", op, std::move(args));
    const std::optional<Fault> fault = takeFault(op);
    return fault && fault->kind == FaultKind::Null;
}

std::int64_t serviceDelayMs()
{
    return world().scenario().read([](const ScenarioState& s) { return s.sessions.loginDelayMs; });
}

Value cellOf(IK7RRow* row, const char* id)
{
    if (!row || !id)
        return {};
    Ref<IK7RTableColumnCollection> columns = Ref<IK7RTableColumnCollection>::adopt(row->getColumns());
    if (!columns)
        return {};
    for (int i = 0, n = columns->size(); i < n; ++i)
    {
        Ref<IK7RTableColumn> column = Ref<IK7RTableColumn>::adopt(columns->get(i));
        if (!column || !column->getId() || std::strcmp(column->getId(), id) != 0)
            continue;
        const void* cell = row->getCell(i);
        if (!cell)
            return {};
        switch (column->getType())
        {
        case IK7RTableColumn::Integer: return static_cast<std::int64_t>(*static_cast<const std::int32_t*>(cell));
        case IK7RTableColumn::Double:
        case IK7RTableColumn::Date: return *static_cast<const double*>(cell);
        case IK7RTableColumn::String: return std::string(static_cast<const char*>(cell));
        case IK7RTableColumn::Boolean: return *static_cast<const unsigned char*>(cell) != 0;
        default: return {};
        }
    }
    return {};
}

SessionServices& SessionServices::instance()
{
    static SessionServices* s = new SessionServices;  // outlives every session
    return *s;
}

SessionServices::SessionServices()
{
    world().onReset([this] { reset(); });
    lockAcrossFork(mutex_);
}

namespace
{
// The reset hook is in place before any test scripts the world.
struct ServicesAtReset
{
    ServicesAtReset() { SessionServices::instance(); }
} servicesAtReset;
}  // namespace

SessionServices::Side& SessionServices::side(std::uint64_t session)
{
    Side& s = sides_[session];
    if (!s.commissions)
    {
        s.commissions = make<CommissionsProvider>(session);
        s.rollover = make<RolloverProvider>(session);
    }
    return s;
}

void SessionServices::loggedIn(std::uint64_t session, const std::string& user)
{
    std::array<bool, 7> loaded{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int t = 0; t < 7; ++t)
            loaded[static_cast<std::size_t>(t)] = !loginTables_ || loginTables_->count(t) > 0;
    }
    const std::shared_ptr<AccountBook> book = Accounts::instance().of(user);
    std::array<Ref<Response>, 7> refreshes;
    for (int t = 0; t < 7; ++t)
        if (loaded[static_cast<std::size_t>(t)])
            refreshes[static_cast<std::size_t>(t)] = loginRefresh(static_cast<K7RTable>(t), *book);
    Ref<LoginRules> rules =
        make<LoginRules>(loaded, std::move(refreshes), systemPropertiesResponse(Text("login:properties")));

    Ref<LoginRules> replaced;  // given back after the lock is let go
    Ref<CommissionsProvider> commissions;
    Ref<RolloverProvider> rollover;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Side& s = side(session);
        replaced = std::exchange(s.rules, std::move(rules));
        commissions = s.commissions;
        rollover = s.rollover;
    }
    commissions->loggedIn();
    rollover->loggedIn();
}

void SessionServices::loggedOut(std::uint64_t session)
{
    Ref<LoginRules> dropped;
    Ref<CommissionsProvider> commissions;
    Ref<RolloverProvider> rollover;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = sides_.find(session);
        if (it == sides_.end())
            return;
        dropped = std::move(it->second.rules);
        commissions = it->second.commissions;
        rollover = it->second.rollover;
    }
    commissions->loggedOut();
    rollover->loggedOut();
}

void SessionServices::forget(std::uint64_t session)
{
    Side dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sides_.find(session);
    if (it == sides_.end())
        return;
    dropped = std::move(it->second);
    sides_.erase(it);
}

Ref<LoginRules> SessionServices::loginRules(std::uint64_t session) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sides_.find(session);
    return it == sides_.end() ? nullptr : it->second.rules;
}

Ref<CommissionsProvider> SessionServices::commissions(std::uint64_t session)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return side(session).commissions;
}

Ref<RolloverProvider> SessionServices::rollover(std::uint64_t session)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return side(session).rollover;
}

void SessionServices::setLoginTables(std::optional<std::set<int>> tables)
{
    std::lock_guard<std::mutex> lock(mutex_);
    loginTables_ = std::move(tables);
}

// Live sessions are back to disconnected: no rules, providers idle, nothing reported.
void SessionServices::reset()
{
    std::vector<Ref<LoginRules>> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    loginTables_.reset();
    for (auto& [session, s] : sides_)
    {
        dropped.push_back(std::move(s.rules));
        s.commissions->settle(K7RCommissionStatus::CommissionStatusDisabled);
        s.rollover->settle(K7RRolloverStatus::RolloverNotLoaded);
    }
}

}  // namespace sim::velvix
