// The simulated table: its reader side, its listeners and the changes the server makes to it.
// Each operation a caller makes on it is journaled as "IK7RTable::<name>", except the readers
// that the module calls per cell or per row.
#include "Tables.h"

#include <algorithm>
#include <chrono>

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

Table::Table(K7RTable type, std::shared_ptr<QueueLoans> managerQueues)
    : RefCounted("IK7RTable"), type_(type), columns_(columnSet(type, true)), managerQueues_(std::move(managerQueues))
{
}

Table::~Table() = default;

int Table::size()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(rows_.size());
}

IK7RTableColumnCollection* Table::getColumns()
{
    if (!columns_)
        return nullptr;
    columns_->simAddRef();
    return columns_;
}

bool Table::isCellValid(int row, int column)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return false;
    return column >= 0 && column < rows_[static_cast<std::size_t>(row)]->count();
}

IK7RRow* Table::getRow(int index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || index >= static_cast<int>(rows_.size()))
        return nullptr;
    return rows_[static_cast<std::size_t>(index)].share();
}

bool Table::isCellChanged(int row, int column)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return false;
    return rows_[static_cast<std::size_t>(row)]->changed(column);
}

// --- listeners ---------------------------------------------------------------------------------

Table::Listeners* Table::updateList(K7RTableUpdateType type)
{
    switch (type)
    {
    case K7RTableUpdateType::Insert: return &inserted_;
    case K7RTableUpdateType::Update: return &updated_;
    case K7RTableUpdateType::Delete: return &deleted_;
    default: return nullptr;
    }
}

void Table::subscribeTo(const char* op, Listeners* list, IK7RTableListener* listener)
{
    if (!list || !listener)
        return;
    ListenerRef<IK7RTableListener> ref = ListenerRef<IK7RTableListener>::retain(listener);
    std::lock_guard<std::mutex> lock(mutex_);
    list->add(std::move(ref));
    subscribersChanged_.notify_all();
    (void)op;
}

void Table::unsubscribeFrom(const char* op, Listeners* list, IK7RTableListener* listener)
{
    (void)op;
    if (!list)
        return;
    Listeners::Entry dropped;  // given back after the lock is let go
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = list->remove(listener);
    subscribersChanged_.notify_all();
}

void Table::subscribeUpdate(K7RTableUpdateType updateType, IK7RTableListener* listener)
{
    note("IK7RTable::subscribeUpdate", {number(type_), number(updateType), flag(listener != nullptr)});
    subscribeTo("subscribeUpdate", updateList(updateType), listener);
}

void Table::unsubscribeUpdate(K7RTableUpdateType updateType, IK7RTableListener* listener)
{
    note("IK7RTable::unsubscribeUpdate", {number(type_), number(updateType), flag(listener != nullptr)});
    unsubscribeFrom("unsubscribeUpdate", updateList(updateType), listener);
}

void Table::subscribeStatus(IK7RTableListener* listener)
{
    note("IK7RTable::subscribeStatus", {number(type_), flag(listener != nullptr)});
    subscribeTo("subscribeStatus", &statusListeners_, listener);
}

void Table::unsubscribeStatus(IK7RTableListener* listener)
{
    note("IK7RTable::unsubscribeStatus", {number(type_), flag(listener != nullptr)});
    unsubscribeFrom("unsubscribeStatus", &statusListeners_, listener);
}

template <class Call>
void Table::deliver(Listeners Table::*list, Call call)
{
    (this->*list).deliver(mutex_, call);
}

int Table::countLocked(TablePoint point) const
{
    switch (point)
    {
    case TablePoint::Insert: return inserted_.size();
    case TablePoint::Update: return updated_.size();
    case TablePoint::Delete: return deleted_.size();
    case TablePoint::Status: return statusListeners_.size();
    }
    return 0;
}

int Table::subscribers(TablePoint point) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return countLocked(point);
}

bool Table::waitSubscribers(TablePoint point, int n, std::int64_t timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return subscribersChanged_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(timeoutMs, 0)),
                                        [&] { return countLocked(point) == n; });
}

// forEachRow calls back on the caller's thread, over the rows as they were when it began. Under a
// "null" fault each call has its row id and a null row.
void Table::forEachRow(IK7REachRowListener* listener)
{
    note("IK7RTable::forEachRow", {number(type_), flag(listener != nullptr)});
    if (!listener)
        return;
    const auto fault = takeFault("IK7RTable::forEachRow");
    const bool nullRows = fault && fault->kind == FaultKind::Null;
    const std::vector<RowHold> held = rows();
    for (const RowHold& r : held)
        listener->onEachRow(r->keyText(), nullRows ? nullptr : r->row());
}

// --- event queues and the events filter ----------------------------------------------------------

// Each call lends a new queue; the flag is recorded with it and changes nothing.
IK7RUpdateEventQueue* Table::getUpdateEventQueue(K7RTableUpdateType updateType, bool flag_)
{
    note("IK7RTable::getUpdateEventQueue", {number(type_), number(updateType), flag(flag_)});
    if (auto fault = takeFault("IK7RTable::getUpdateEventQueue"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    return queues_.lendUpdate(type_, updateType, flag_);
}

void Table::returnUpdateEventQueue(IK7RUpdateEventQueue* queue)
{
    note("IK7RTable::returnUpdateEventQueue", {number(type_), flag(queue != nullptr)});
    queues_.giveBack(queue);
}

IK7RAllEventQueue* Table::getAllEventQueue(bool flag_)
{
    note("IK7RTable::getAllEventQueue", {number(type_), flag(flag_)});
    if (auto fault = takeFault("IK7RTable::getAllEventQueue"); fault && fault->kind == FaultKind::Null)
        return nullptr;
    return queues_.lendAll(type_, flag_);
}

void Table::returnAllEventQueue(IK7RAllEventQueue* queue)
{
    note("IK7RTable::returnAllEventQueue", {number(type_), flag(queue != nullptr)});
    queues_.giveBack(queue);
}

void Table::queueEvent(K7RTableUpdateType op, const RowHold& row, K7RUpdatesProcessStatus process)
{
    EventRow queued(row);
    queues_.put(op, queued, process);
    if (managerQueues_)
        managerQueues_->put(op, queued, process);
}

void Table::setTableEventsFilter(K7RTableEventsFilter filter)
{
    note("IK7RTable::setTableEventsFilter", {number(type_), number(filter)});
    filter_.store(filter);
}

// --- the server's changes ----------------------------------------------------------------------

int Table::indexOfKeyLocked(const std::string& key) const
{
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i]->key() == key)
            return static_cast<int>(i);
    return -1;
}

void Table::load(std::vector<RowHold> rows)
{
    std::vector<RowHold> old;
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(rows_);
    rows_ = std::move(rows);
    keyCount_.clear();
    for (const RowHold& r : rows_)
        ++keyCount_[r->key()];
}

void Table::insert(RowHold row, K7RUpdatesProcessStatus process)
{
    if (!row)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rows_.push_back(row);
        ++keyCount_[row->key()];
    }
    deliver(&Table::inserted_, [&](IK7RTableListener* l) { l->onAdded(row->keyText(), row->row()); });
    queueEvent(K7RTableUpdateType::Insert, row, process);
}

bool Table::update(const std::string& key, const CellValues& values, bool always, K7RUpdatesProcessStatus process)
{
    RowHold row = find(key);
    if (!row)
        return false;
    const bool changed = row->apply(values);
    if (changed || always)
    {
        deliver(&Table::updated_, [&](IK7RTableListener* l) { l->onChanged(row->keyText(), row->row()); });
        queueEvent(K7RTableUpdateType::Update, row, process);
    }
    return true;
}

bool Table::remove(const std::string& key, K7RUpdatesProcessStatus process)
{
    RowHold row;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int index = indexOfKeyLocked(key);
        if (index < 0)
            return false;
        row = std::move(rows_[static_cast<std::size_t>(index)]);
        rows_.erase(rows_.begin() + index);
        if (--keyCount_[key] == 0)
            keyCount_.erase(key);
    }
    deliver(&Table::deleted_, [&](IK7RTableListener* l) { l->onDeleted(row->keyText(), row->row()); });
    queueEvent(K7RTableUpdateType::Delete, row, process);
    return true;
}

void Table::setStatus(int status)
{
    const auto s = static_cast<K7RTableStatus>(status);
    status_.store(s);
    deliver(&Table::statusListeners_, [s](IK7RTableListener* l) { l->onStatusChanged(s); });
}

void Table::fire(K7RTableUpdateType op, const Text& rowId, const RowHold& row)
{
    Listeners* list = updateList(op);
    if (!list)
        return;
    const char* id = rowId ? rowId->c_str() : nullptr;
    IK7RRow* lent = row ? row->row() : nullptr;
    auto call = [&](IK7RTableListener* l) {
        switch (op)
        {
        case K7RTableUpdateType::Insert: l->onAdded(id, lent); break;
        case K7RTableUpdateType::Update: l->onChanged(id, lent); break;
        default: l->onDeleted(id, lent); break;
        }
    };
    switch (op)
    {
    case K7RTableUpdateType::Insert: deliver(&Table::inserted_, call); break;
    case K7RTableUpdateType::Update: deliver(&Table::updated_, call); break;
    default: deliver(&Table::deleted_, call); break;
    }
}

RowHold Table::find(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!keyCount_.count(key))
        return RowHold();
    return rows_[static_cast<std::size_t>(indexOfKeyLocked(key))];
}

std::vector<RowHold> Table::rows() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_;
}

std::string Table::freshKey()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;)
    {
        std::string key = std::to_string(nextKey_++);
        if (!keyCount_.count(key))
            return key;
    }
}

}  // namespace sim::velvix
