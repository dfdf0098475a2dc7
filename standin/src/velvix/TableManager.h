// The table manager of a session: its seven tables, its status and load, and the batches of table
// updates (bracketed BEGIN/END to the updates-process listeners and in its all-events queues,
// held back while updates are locked). SessionTables keeps the table side of each session: the
// listener given to useTableManager, the manager made at login, and the user it logged in as.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "velvix/Velvix.h"

#include "Listeners.h"
#include "Tables.h"
#include "core/Registry.h"

namespace sim::velvix
{

class AccountBook;

using ManagerListener = ListenerRef<IK7RTableManagerListener>;
// The manager listener as a session side holds it: shared, so that a report can keep it without an
// addRef under the side's lock; its reference goes back with the last holder.
using SharedManagerListener = std::shared_ptr<const ManagerListener>;

// One change of a batch.
struct TableChange
{
    K7RTable table = K7RTable::Offers;
    K7RTableUpdateType op = K7RTableUpdateType::Insert;
    RowHold row;          // INSERT
    std::string key;      // UPDATE, DELETE
    CellValues values;    // UPDATE
    bool onlyIfChanged = false;  // UPDATE: no event when no cell changed
};

class TableManager final : public RefCounted<IK7RTableManager>
{
public:
    // `listener` gives the listener to report statuses to at the moment of each report; the
    // account's tables load from `book` (the opening content without one).
    TableManager(std::string account, std::shared_ptr<AccountBook> book,
                 std::function<SharedManagerListener()> listener);

    IK7RTable* getTable(K7RTable table) override;
    K7RTableManagerStatus getStatus() override { return status_.load(); }
    void lockUpdates() override;
    void unlockUpdates() override;
    void subscribeUpdatesProcessStatus(IK7RUpdatesProcessStatusListener* listener) override;
    void unsubscribeUpdatesProcessStatus(IK7RUpdatesProcessStatusListener* listener) override;
    IK7RAllEventQueue* getTablesUpdateEventQueue() override;
    void returnTablesUpdateEventQueue(IK7RAllEventQueue* queue) override;

    // --- the server's face ---------------------------------------------------------------------

    const std::string& account() const { return account_; }
    Table* table(K7RTable type) const;  // borrowed; null outside 0..6

    // Applies a batch on the dispatcher thread (later, when updates are locked): BEGIN, each
    // change with its table events, END, then `applied`.
    void submit(std::vector<TableChange> batch, std::function<void()> applied = {});
    // The same for a batch that `build` makes only when its turn comes, from the tables as the
    // batches before it left them; a batch built empty is not applied (`applied` still runs).
    using BatchBuilder = std::function<std::vector<TableChange>(TableManager&)>;
    void submitBuilt(BatchBuilder build, std::function<void()> applied = {});
    int pendingBatches() const;
    int lockDepth() const;
    // The tables hold their rows and hear of the account's changes (dispatcher thread).
    bool loaded() const;

    // On the dispatcher thread: sets the status (any integer) and reports it, with this manager
    // or with a null one.
    void reportStatus(int status, bool nullManager = false);
    // TABLES_LOADING now, the demo content and TABLES_LOADED after the load delay (or FAILED).
    void startLoad();
    // No more loads: the session logged out or went away. The waits of its queues end.
    void stop();
    // On the dispatcher, after stop() at a logout: the tables go back to INITIAL, reported to
    // their status listeners.
    void closeTables();

    // Updates-process deliveries, on the dispatcher thread.
    void deliverProcessStatus(int status);
    void deliverProcessFailed(const std::optional<std::string>& reason);
    int processSubscribers() const;
    bool waitProcessSubscribers(int n, std::int64_t timeoutMs) const;

private:
    ~TableManager() override;

    using ProcessListeners = ListenerList<IK7RUpdatesProcessStatusListener>;
    template <class Call>
    void deliverProcess(Call call);
    void apply(const std::vector<TableChange>& batch);
    void beginLoad();
    void finishLoad();
    template <class Step>
    void later(std::int64_t delayMs, Step step);

    const std::string account_;
    const std::shared_ptr<AccountBook> book_;
    const std::function<SharedManagerListener()> listener_;
    const std::shared_ptr<QueueLoans> queues_;  // shared with the tables, which put into them
    std::array<Ref<Table>, 7> tables_;
    std::atomic<K7RTableManagerStatus> status_{K7RTableManagerStatus::TablesLoading};

    mutable std::mutex mutex_;
    mutable std::condition_variable subscribersChanged_;
    ProcessListeners processListeners_;
    int lockDepth_ = 0;
    struct Pending
    {
        BatchBuilder build;
        std::function<void()> applied;
        bool skipEmpty = false;
    };
    // Under mutex_: queues the batch behind the pending ones, or posts it when not locked.
    void enqueueLocked(Pending batch);
    void post(Pending batch);
    std::vector<Pending> pending_;
    bool stopped_ = false;
    bool loaded_ = false;
};

// The table side of every session, by session id.
class SessionTables
{
public:
    static SessionTables& instance();

    // useTableManager: keeps the mode and the listener (replacing, and giving back, the one
    // before).
    void use(std::uint64_t session, K7RTableManagerMode mode, IK7RTableManagerListener* listener);
    // The session connected as `user`: it hears of the user's account from now on, and with mode
    // YES a manager is made and its load begins.
    void loggedIn(std::uint64_t session, const std::string& user);
    // The session disconnected or was lost: it hears of no account any more, and its manager
    // stops and is let go.
    void loggedOut(std::uint64_t session);
    // The session is gone.
    void forget(std::uint64_t session);

    Ref<TableManager> manager(std::uint64_t session) const;
    Ref<TableManager> managerByAccount(std::uint64_t session, const char* account) const;
    // The user the session logged in as, while it hears of that user's account.
    std::optional<std::string> user(std::uint64_t session) const;
    // The sessions logged in as the user, oldest first.
    std::vector<std::uint64_t> sessionsOf(const std::string& user) const;
    // reset() opened every account again: no session hears of one until it logs in again.
    void forgetUsers();
    // Shared, not add-referenced: no listener code runs under the lock.
    SharedManagerListener listener(std::uint64_t session) const;
    // Every session's manager, with the user whose account it shows (none after a reset), but
    // those made before a fork, in its child.
    struct Held
    {
        Ref<TableManager> manager;
        std::optional<std::string> user;
    };
    std::vector<Held> managers() const;
    // Waits until the session has a manager in that status; false when the time ran out.
    bool waitStatus(std::uint64_t session, int status, std::int64_t timeoutMs) const;
    void statusChanged();

private:
    SessionTables();
    // In a fork's child: the logins made before the fork stay the parent's.
    void afterForkInChild();

    struct Side
    {
        K7RTableManagerMode mode = K7RTableManagerMode::No;
        SharedManagerListener listener;
        Ref<TableManager> manager;
        std::optional<std::string> user;
        bool forked = false;  // its manager was made before a fork: the child's prices pass it by
    };
    mutable std::mutex mutex_;  // taken with nothing else but the registry's
    mutable std::condition_variable changed_;
    std::map<std::uint64_t, Side> sides_;
};

}  // namespace sim::velvix
