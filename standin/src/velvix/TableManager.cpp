// The simulated table manager and the table side of sessions. Every report and every table
// event happens on the dispatcher thread; calls from a caller's thread only change state and
// schedule, so none of them waits for a delivery. Scheduled steps find the manager again by id
// and do nothing once it is gone or stopped.
#include "TableManager.h"

#include <algorithm>
#include <chrono>

#include "Accounts.h"
#include "Market.h"
#include "OrderEngine.h"
#include "core/Fork.h"
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

}  // namespace

TableManager::TableManager(std::string account, std::shared_ptr<AccountBook> book,
                           std::function<SharedManagerListener()> listener)
    : RefCounted("IK7RTableManager"), account_(std::move(account)), book_(std::move(book)),
      listener_(std::move(listener)), queues_(std::make_shared<QueueLoans>())
{
    for (int t = 0; t < 7; ++t)
        tables_[static_cast<std::size_t>(t)] = make<Table>(static_cast<K7RTable>(t), queues_);
}

TableManager::~TableManager() = default;

IK7RTable* TableManager::getTable(K7RTable table)
{
    note("IK7RTableManager::getTable", {number(table)});
    if (auto fault = takeFault("IK7RTableManager::getTable"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    return this->table(table);
}

Table* TableManager::table(K7RTable type) const
{
    const int t = static_cast<int>(type);
    return t >= 0 && t < 7 ? tables_[static_cast<std::size_t>(t)].get() : nullptr;
}

// --- update batches ----------------------------------------------------------------------------

void TableManager::lockUpdates()
{
    note("IK7RTableManager::lockUpdates");
    std::lock_guard<std::mutex> lock(mutex_);
    ++lockDepth_;
}

void TableManager::unlockUpdates()
{
    note("IK7RTableManager::unlockUpdates");
    std::lock_guard<std::mutex> lock(mutex_);
    if (lockDepth_ == 0 || --lockDepth_ > 0)
        return;
    // Posted under the lock, so that batches submitted from now on queue behind these.
    for (Pending& batch : pending_)
        post(std::move(batch));
    pending_.clear();
}

void TableManager::post(Pending batch)
{
    Ref<TableManager> self = Ref<TableManager>::retain(this);
    world().dispatcher().post([self, batch = std::move(batch)]() mutable {
        const std::vector<TableChange> changes = batch.build(*self);
        if (!changes.empty() || !batch.skipEmpty)
            self->apply(changes);
        if (batch.applied)
            batch.applied();
    });
}

void TableManager::enqueueLocked(Pending batch)
{
    if (lockDepth_ > 0)
        pending_.push_back(std::move(batch));
    else
        post(std::move(batch));
}

void TableManager::submit(std::vector<TableChange> batch, std::function<void()> applied)
{
    std::lock_guard<std::mutex> lock(mutex_);
    enqueueLocked({[batch = std::move(batch)](TableManager&) mutable { return std::move(batch); }, std::move(applied), false});
}

void TableManager::submitBuilt(BatchBuilder build, std::function<void()> applied)
{
    std::lock_guard<std::mutex> lock(mutex_);
    enqueueLocked({std::move(build), std::move(applied), true});
}

int TableManager::pendingBatches() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(pending_.size());
}

int TableManager::lockDepth() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lockDepth_;
}

bool TableManager::loaded() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return loaded_ && !stopped_;
}

// The manager's all-events queues see the batch whole: a BEGIN marker, each event, an END marker.
// The events' items carry BEGIN_TABLES_UPDATE: the batch is under way.
void TableManager::apply(const std::vector<TableChange>& batch)
{
    constexpr auto Begin = K7RUpdatesProcessStatus::BeginTablesUpdate;
    constexpr auto End = K7RUpdatesProcessStatus::EndTablesUpdate;
    deliverProcessStatus(static_cast<int>(Begin));
    queues_->putMarker(Begin);
    for (const TableChange& change : batch)
    {
        Table* t = table(change.table);
        if (!t)
            continue;
        switch (change.op)
        {
        case K7RTableUpdateType::Insert: t->insert(change.row, Begin); break;
        case K7RTableUpdateType::Update: t->update(change.key, change.values, !change.onlyIfChanged, Begin); break;
        case K7RTableUpdateType::Delete: t->remove(change.key, Begin); break;
        default: break;
        }
    }
    deliverProcessStatus(static_cast<int>(End));
    queues_->putMarker(End);
}

// --- updates-process listeners -----------------------------------------------------------------

void TableManager::subscribeUpdatesProcessStatus(IK7RUpdatesProcessStatusListener* listener)
{
    note("IK7RTableManager::subscribeUpdatesProcessStatus", {flag(listener != nullptr)});
    if (!listener)
        return;
    auto ref = ListenerRef<IK7RUpdatesProcessStatusListener>::retain(listener);
    std::lock_guard<std::mutex> lock(mutex_);
    processListeners_.add(std::move(ref));
    subscribersChanged_.notify_all();
}

void TableManager::unsubscribeUpdatesProcessStatus(IK7RUpdatesProcessStatusListener* listener)
{
    note("IK7RTableManager::unsubscribeUpdatesProcessStatus", {flag(listener != nullptr)});
    ProcessListeners::Entry dropped;  // given back after the lock is let go
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = processListeners_.remove(listener);
    subscribersChanged_.notify_all();
}

template <class Call>
void TableManager::deliverProcess(Call call)
{
    processListeners_.deliver(mutex_, call);
}

void TableManager::deliverProcessStatus(int status)
{
    deliverProcess([status](IK7RUpdatesProcessStatusListener* l) {
        l->onUpdatesProcessStatusChanged(static_cast<K7RUpdatesProcessStatus>(status));
    });
}

void TableManager::deliverProcessFailed(const std::optional<std::string>& reason)
{
    deliverProcess([&](IK7RUpdatesProcessStatusListener* l) { l->onUpdatesProcessFailed(reason ? reason->c_str() : nullptr); });
}

int TableManager::processSubscribers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return processListeners_.size();
}

bool TableManager::waitProcessSubscribers(int n, std::int64_t timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return subscribersChanged_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                                        [&] { return processListeners_.size() == n; });
}

// Each call lends a new queue of every table's events, belonging to no one table.
IK7RAllEventQueue* TableManager::getTablesUpdateEventQueue()
{
    note("IK7RTableManager::getTablesUpdateEventQueue");
    if (auto fault = takeFault("IK7RTableManager::getTablesUpdateEventQueue"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    return queues_->lendAll(K7RTable::TableUnknown, false);
}

void TableManager::returnTablesUpdateEventQueue(IK7RAllEventQueue* queue)
{
    note("IK7RTableManager::returnTablesUpdateEventQueue", {flag(queue != nullptr)});
    queues_->giveBack(queue);
}

// --- status and load ---------------------------------------------------------------------------

void TableManager::reportStatus(int status, bool nullManager)
{
    const auto s = static_cast<K7RTableManagerStatus>(status);
    status_.store(s);
    SessionTables::instance().statusChanged();
    Ref<TableManager> self = Ref<TableManager>::retain(this);  // lent to the listener
    SharedManagerListener l = listener_ ? listener_() : nullptr;
    if (l && l->get())
        l->get()->onStatusChanged(s, nullManager ? nullptr : this);
}

template <class Step>
void TableManager::later(std::int64_t delayMs, Step step)
{
    const std::uint64_t id = simId();
    world().dispatcher().postAfter(delayMs, [id, step] {
        if (Ref<TableManager> self = Ref<TableManager>::adopt(world().registry().acquire<TableManager>(id)))
            step(*self);
    });
}

void TableManager::startLoad()
{
    later(0, [](TableManager& m) { m.beginLoad(); });
}

void TableManager::beginLoad()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_)
            return;
    }
    for (auto& t : tables_)
        t->setStatus(static_cast<int>(K7RTableStatus::Refreshing));
    reportStatus(static_cast<int>(K7RTableManagerStatus::TablesLoading));
    later(market::settings().loadDelayMs, [](TableManager& m) { m.finishLoad(); });
}

void TableManager::finishLoad()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_)
            return;
    }
    const market::Settings settings = market::settings();
    if (settings.loadFails)
    {
        for (auto& t : tables_)
            t->setStatus(static_cast<int>(K7RTableStatus::Failed));
        reportStatus(static_cast<int>(K7RTableManagerStatus::TablesLoadFailed));
        return;
    }
    // The server's rows as they are now; from here on the account's changes come as batches.
    for (int t = 0; t < 7; ++t)
    {
        const auto type = static_cast<K7RTable>(t);
        std::vector<RowHold> rows;
        for (const CellValues& values : serverRows(type, book_.get()))
            rows.push_back(rowOf(type, RowKind::Table, values, textIn(values, keyColumnId(type))));
        tables_[static_cast<std::size_t>(t)]->load(std::move(rows));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loaded_ = true;
    }
    for (auto& t : tables_)
        t->setStatus(static_cast<int>(K7RTableStatus::Refreshed));
    reportStatus(static_cast<int>(K7RTableManagerStatus::TablesLoaded));
}

void TableManager::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    // Nothing reaches its queues any more: a caller waiting on one would wait for good.
    queues_->endAll();
    for (auto& t : tables_)
        t->endQueues();
}

void TableManager::closeTables()
{
    for (auto& t : tables_)
        t->setStatus(static_cast<int>(K7RTableStatus::Initial));
}

// --- the table side of sessions ----------------------------------------------------------------

SessionTables& SessionTables::instance()
{
    static SessionTables* s = new SessionTables;  // outlives every session
    return *s;
}

SessionTables::SessionTables()
{
    world();  // whose parts a fork takes after this one's
    aroundFork([this] { mutex_.lock(); }, [this] { mutex_.unlock(); }, [this] { afterForkInChild(); });
}

// The parent's logins are the parent's: the child's server hears of them no more, as after a
// reset, and its prices and its account changes reach none of their tables, whose locks the
// parent's threads may have held at the fork. Only the sessions logged in in the child share its
// accounts.
void SessionTables::afterForkInChild()
{
    renewAfterFork(mutex_);
    renewAfterFork(changed_);
    for (auto& [id, side] : sides_)
    {
        side.user.reset();
        side.forked = side.manager != nullptr;
    }
}

void SessionTables::use(std::uint64_t session, K7RTableManagerMode mode, IK7RTableManagerListener* listener)
{
    SharedManagerListener replaced;  // given back after the lock is let go
    SharedManagerListener held =
        listener ? std::make_shared<const ManagerListener>(ManagerListener::retain(listener)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    Side& side = sides_[session];
    side.mode = mode;
    replaced = std::exchange(side.listener, std::move(held));
}

void SessionTables::loggedIn(std::uint64_t session, const std::string& user)
{
    std::shared_ptr<AccountBook> book = Accounts::instance().of(user);
    const std::string account = book->accountId();
    Ref<TableManager> made, left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Side& side = sides_[session];
        side.user = user;
        side.forked = false;
        // A manager that a reset left behind belongs to the login it ended.
        left = std::move(side.manager);
        if (side.mode == K7RTableManagerMode::Yes)
        {
            made = make<TableManager>(account, book, [session] { return SessionTables::instance().listener(session); });
            side.manager = made;
        }
        changed_.notify_all();
    }
    if (left)
    {
        left->stop();
        left->closeTables();
    }
    startPriceFeed();
    if (made)
        made->startLoad();
}

void SessionTables::loggedOut(std::uint64_t session)
{
    Ref<TableManager> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = sides_.find(session);
        if (it == sides_.end())
            return;
        it->second.user.reset();
        dropped = std::move(it->second.manager);
        changed_.notify_all();
    }
    if (!dropped)
        return;
    dropped->stop();
    dropped->closeTables();
}

void SessionTables::forget(std::uint64_t session)
{
    Side dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = sides_.find(session);
        if (it == sides_.end())
            return;
        dropped = std::move(it->second);
        sides_.erase(it);
    }
    if (dropped.manager)
        dropped.manager->stop();
}

Ref<TableManager> SessionTables::manager(std::uint64_t session) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sides_.find(session);
    return it == sides_.end() ? Ref<TableManager>() : it->second.manager;
}

Ref<TableManager> SessionTables::managerByAccount(std::uint64_t session, const char* account) const
{
    Ref<TableManager> m = manager(session);
    if (!m || !account || m->account() != account)
        return nullptr;
    return m;
}

std::optional<std::string> SessionTables::user(std::uint64_t session) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sides_.find(session);
    return it == sides_.end() ? std::nullopt : it->second.user;
}

std::vector<std::uint64_t> SessionTables::sessionsOf(const std::string& user) const
{
    std::vector<std::uint64_t> out;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, side] : sides_)
        if (side.user == user)
            out.push_back(id);
    return out;
}

void SessionTables::forgetUsers()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, side] : sides_)
        side.user.reset();
}

SharedManagerListener SessionTables::listener(std::uint64_t session) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sides_.find(session);
    return it == sides_.end() ? nullptr : it->second.listener;
}

std::vector<SessionTables::Held> SessionTables::managers() const
{
    std::vector<Held> out;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, side] : sides_)
        if (side.manager && !side.forked)
            out.push_back({side.manager, side.user});
    return out;
}

bool SessionTables::waitStatus(std::uint64_t session, int status, std::int64_t timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)), [&] {
        auto it = sides_.find(session);
        return it != sides_.end() && it->second.manager &&
               static_cast<int>(it->second.manager->getStatus()) == status;
    });
}

void SessionTables::statusChanged()
{
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}

namespace
{
// A reset opens every account again: the sessions it disconnected hear of none. The table side is
// made as the library loads: a fork during a first use would leave its making unfinished in the
// child, which would wait on it for good.
struct TablesAtReset
{
    TablesAtReset()
    {
        world().onReset([] { SessionTables::instance().forgetUsers(); });
        SessionTables::instance();
    }
} tablesAtReset;
}  // namespace

}  // namespace sim::velvix
