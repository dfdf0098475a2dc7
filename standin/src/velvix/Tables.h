// A simulated trading table: the rows of one table type of one table manager, the table
// listeners, the event queues it lends, and the four row searches. Rows change only on the
// dispatcher thread (through the manager's update batches); callers read from any thread.
// Listeners are called with no lock held, each re-checked just before its call, and hold the
// library's own reference meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "velvix/Velvix.h"

#include "EventQueues.h"
#include "Listeners.h"
#include "Rows.h"
#include "core/Registry.h"
#include "core/Scenario.h"

// The library's own reading of a search position: the index of the last row returned (-1 before
// the first) and the table it belongs to (0 for a fresh iterator).
class K7RTableIteratorAccess
{
public:
    static std::int64_t position(const IK7RTableIterator& it) { return it.m_position; }
    static std::uint64_t stamp(const IK7RTableIterator& it) { return it.m_stamp; }
    static void set(IK7RTableIterator& it, std::int64_t position, std::uint64_t stamp)
    {
        it.m_position = position;
        it.m_stamp = stamp;
    }
};

namespace sim::velvix
{

// Subscription points of a table, for the control face.
enum class TablePoint
{
    Insert,
    Update,
    Delete,
    Status
};

class Table final : public RefCounted<IK7RTable>
{
public:
    // `managerQueues` are the queues of the table's manager, which hear of its events too.
    explicit Table(K7RTable type, std::shared_ptr<QueueLoans> managerQueues = nullptr);

    // Reader side.
    int size() override;
    IK7RTableColumnCollection* getColumns() override;
    bool isCellValid(int row, int column) override;
    K7RTable getType() override { return type_; }
    IK7RRow* getRow(int index) override;

    void subscribeUpdate(K7RTableUpdateType updateType, IK7RTableListener* listener) override;
    void unsubscribeUpdate(K7RTableUpdateType updateType, IK7RTableListener* listener) override;
    void subscribeStatus(IK7RTableListener* listener) override;
    void unsubscribeStatus(IK7RTableListener* listener) override;
    K7RTableStatus getStatus() override { return status_.load(); }
    void forEachRow(IK7REachRowListener* listener) override;
    bool isCellChanged(int row, int column) override;
    bool getNextGenericRowByColumnValue(const char* columnID, const void* value, IK7RTableIterator& iterator,
                                        IK7RRow*& row) override;
    bool getNextGenericRowByMultiColumnValues(int count, const char** columnIDs, const K7RRelationalOperators* operators,
                                              const void** values, K7RLogicOperators logic,
                                              IK7RTableIterator& iterator, IK7RRow*& row) override;
    bool getNextGenericRowByColumnValues(const char* columnID, K7RRelationalOperators op, int count,
                                         const void** values, IK7RTableIterator& iterator, IK7RRow*& row) override;
    bool getNextGenericRowByCondition(const char* columnID, K7RRelationalOperators op, const void** values,
                                      IK7RTableIterator& iterator, IK7RRow*& row) override;
    IK7RUpdateEventQueue* getUpdateEventQueue(K7RTableUpdateType updateType, bool flag) override;
    void returnUpdateEventQueue(IK7RUpdateEventQueue* queue) override;
    IK7RAllEventQueue* getAllEventQueue(bool flag) override;
    void returnAllEventQueue(IK7RAllEventQueue* queue) override;
    K7RTableEventsFilter getTableEventsFilter() override { return filter_.load(); }
    void setTableEventsFilter(K7RTableEventsFilter filter) override;

    // --- the server's face (dispatcher thread for everything that delivers) ------------------

    // Fills the table without events (the initial load).
    void load(std::vector<RowHold> rows);
    // Each event goes to the listeners of its update type (the live row), then into the table's
    // queues, then into its manager's (one frozen copy, see EventRow); queue items carry `process`.
    // Appends the row and reports INSERT.
    void insert(RowHold row, K7RUpdatesProcessStatus process = K7RUpdatesProcessStatus::UnknownProcessStatus);
    // Applies the values to the row with that key and reports UPDATE when a cell changed (or
    // always, with `always`). False when no row has that key.
    bool update(const std::string& key, const CellValues& values, bool always = true,
                K7RUpdatesProcessStatus process = K7RUpdatesProcessStatus::UnknownProcessStatus);
    // Takes the row out and reports DELETE. False when no row has that key.
    bool remove(const std::string& key,
                K7RUpdatesProcessStatus process = K7RUpdatesProcessStatus::UnknownProcessStatus);
    // Sets the status and reports it; any integer is delivered.
    void setStatus(int status);
    // A bare callback of one update type to its listeners, with any row id and row (null ones
    // too); the table and its queues stay as they are.
    void fire(K7RTableUpdateType op, const Text& rowId, const RowHold& row);
    // The session ended: the waits of the table's queues end (see QueueLoans::endAll).
    void endQueues() { queues_.endAll(); }

    RowHold find(const std::string& key) const;
    std::vector<RowHold> rows() const;
    // A key no row has yet, for rows inserted without one.
    std::string freshKey();

    int subscribers(TablePoint point) const;
    bool waitSubscribers(TablePoint point, int n, std::int64_t timeoutMs) const;

private:
    ~Table() override;

    using Listeners = ListenerList<IK7RTableListener>;
    template <class Call>
    void deliver(Listeners Table::*list, Call call);
    Listeners* updateList(K7RTableUpdateType type);
    int countLocked(TablePoint point) const;
    void queueEvent(K7RTableUpdateType op, const RowHold& row, K7RUpdatesProcessStatus process);
    void subscribeTo(const char* op, Listeners* list, IK7RTableListener* listener);
    void unsubscribeFrom(const char* op, Listeners* list, IK7RTableListener* listener);

    // Searches: the first row after the iterator's position that `match` accepts.
    template <class Match>
    bool next(IK7RTableIterator& iterator, IK7RRow*& row, Match match);
    int indexOfKeyLocked(const std::string& key) const;

    const K7RTable type_;
    ColumnCollection* const columns_;  // the table-row set (borrowed, lives for the process)
    mutable std::mutex mutex_;
    mutable std::condition_variable subscribersChanged_;
    std::vector<RowHold> rows_;
    std::unordered_map<std::string, int> keyCount_;  // how many rows hold each key
    std::uint64_t nextKey_ = 1;
    Listeners inserted_, updated_, deleted_, statusListeners_;
    std::atomic<K7RTableStatus> status_{K7RTableStatus::Initial};
    std::atomic<K7RTableEventsFilter> filter_{K7RTableEventsFilter::AllEvents};
    QueueLoans queues_;
    const std::shared_ptr<QueueLoans> managerQueues_;
};

// --- search control (Searches.cpp) -------------------------------------------------------------

struct SearchRecord
{
    std::string operation;             // "getNextGenericRowByColumnValue", ...
    std::vector<std::optional<std::string>> columns;        // one id, or one per term of a multi-column search
    Values values;                     // decoded by the column's type; null when it has none
    std::vector<int> operators;        // none for the by-value search
    int logic = -1;                    // multi-column searches only
};

// The searches made since the last reset (the newest 10000).
std::vector<SearchRecord> searchJournal();
// The search call number `after` + 1 from now finds nothing, once.
void missSearch(int after);

}  // namespace sim::velvix
