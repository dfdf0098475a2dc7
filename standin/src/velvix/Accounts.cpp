// The accounts of the simulated server and the way their changes travel: a book per user, kept
// until reset(), and the delivery of a batch to each logged-in session of the user, through its
// table manager first, then to its response listeners.
#include "Accounts.h"

#include <algorithm>

#include "Market.h"
#include "Responses.h"
#include "Session.h"
#include "TableManager.h"
#include "core/Fork.h"
#include "core/World.h"

namespace sim::velvix
{

RowHold rowOf(K7RTable table, RowKind kind, const CellValues& cells, const std::string& key)
{
    RowHold row = makeRow(table, kind);
    row->apply(cells);
    for (int i = 0; i < row->count(); ++i)
        row->setChanged(i, false);
    row->setKey(key);
    return row;
}

const Value* cellIn(const CellValues& cells, const char* id)
{
    for (const auto& [name, value] : cells)
        if (name == id)
            return &value;
    return nullptr;
}

std::string textIn(const CellValues& cells, const char* id)
{
    const Value* v = cellIn(cells, id);
    const auto* s = v ? std::get_if<std::string>(v) : nullptr;
    return s ? *s : std::string();
}

double doubleIn(const CellValues& cells, const char* id)
{
    const Value* v = cellIn(cells, id);
    if (const auto* d = v ? std::get_if<double>(v) : nullptr)
        return *d;
    if (const auto* i = v ? std::get_if<std::int64_t>(v) : nullptr)
        return static_cast<double>(*i);
    return 0.0;
}

std::int64_t intIn(const CellValues& cells, const char* id)
{
    const Value* v = cellIn(cells, id);
    const auto* i = v ? std::get_if<std::int64_t>(v) : nullptr;
    return i ? *i : 0;
}

void setCell(CellValues& cells, const char* id, Value value)
{
    for (auto& [name, v] : cells)
        if (name == id)
        {
            v = std::move(value);
            return;
        }
    cells.emplace_back(id, std::move(value));
}

// --- books ---------------------------------------------------------------------------------------

AccountBook::AccountBook(std::string user, std::int64_t nowMs) : user_(std::move(user))
{
    for (int t = 0; t < 7; ++t)
        if (holds(static_cast<K7RTable>(t)))
            for (CellValues& cells : market::initialRows(static_cast<K7RTable>(t), nowMs))
            {
                std::string key = textIn(cells, keyColumnId(static_cast<K7RTable>(t)));
                tables_[static_cast<std::size_t>(t)].push_back({std::move(key), std::move(cells)});
            }
}

bool AccountBook::holds(K7RTable table)
{
    return table == K7RTable::Accounts || table == K7RTable::Orders || table == K7RTable::Trades ||
           table == K7RTable::ClosedTrades || table == K7RTable::Summary;
}

std::string AccountBook::accountId() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& accounts = tables_[static_cast<std::size_t>(K7RTable::Accounts)];
    return accounts.empty() ? std::string() : accounts.front().key;
}

std::vector<CellValues> AccountBook::apply(const std::vector<Change>& changes)
{
    std::vector<CellValues> left;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Change& c : changes)
    {
        const int t = static_cast<int>(c.table);
        if (t < 0 || t >= 7 || !holds(c.table))
        {
            left.push_back(c.values);
            continue;
        }
        auto& rows = tables_[static_cast<std::size_t>(t)];
        auto row = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.key == c.key; });
        switch (c.op)
        {
        case K7RTableUpdateType::Insert:
            rows.push_back({c.key, c.values});
            left.push_back(c.values);
            break;
        case K7RTableUpdateType::Update:
            if (row != rows.end())
            {
                for (const auto& [id, value] : c.values)
                    setCell(row->cells, id.c_str(), value);
                left.push_back(row->cells);
            }
            else
            {
                left.push_back(c.values);
            }
            break;
        default:
            if (row != rows.end())
            {
                left.push_back(std::move(row->cells));
                rows.erase(row);
            }
            else
            {
                left.push_back(c.values);
            }
            break;
        }
    }
    return left;
}

std::optional<CellValues> AccountBook::find(K7RTable table, const std::string& key) const
{
    const int t = static_cast<int>(table);
    if (t < 0 || t >= 7)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Row& r : tables_[static_cast<std::size_t>(t)])
        if (r.key == key)
            return r.cells;
    return std::nullopt;
}

std::vector<CellValues> AccountBook::rows(K7RTable table) const
{
    std::vector<CellValues> out;
    const int t = static_cast<int>(table);
    if (t < 0 || t >= 7)
        return out;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Row& r : tables_[static_cast<std::size_t>(t)])
        out.push_back(r.cells);
    return out;
}

Accounts& Accounts::instance()
{
    static Accounts* a = new Accounts;  // outlives every session
    return *a;
}

Accounts::Accounts()
{
    world().onReset([this] {
        std::map<std::string, std::shared_ptr<AccountBook>> dropped;  // let go after the lock
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(books_);
    });
    // A child's new login reaches the same books as the parent's sessions did: the map's lock first,
    // so that no book comes or goes meanwhile, then each book's. No book is ever locked while the
    // map is taken, nor the map while a book is.
    aroundFork(
        [this] {
            mutex_.lock();
            for (const auto& [user, book] : books_)
                book->mutex_.lock();
        },
        [this] {
            for (const auto& [user, book] : books_)
                book->mutex_.unlock();
            mutex_.unlock();
        },
        [this] {
            renewAfterFork(mutex_);
            for (const auto& [user, book] : books_)
                renewAfterFork(book->mutex_);
        });
}

namespace
{
// The reset hook is in place before any test scripts the world.
struct AccountsAtReset
{
    AccountsAtReset() { Accounts::instance(); }
} accountsAtReset;
}  // namespace

std::shared_ptr<AccountBook> Accounts::of(const std::string& user)
{
    const std::int64_t now = world().clock().nowMs();
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<AccountBook>& book = books_[user];
    if (!book)
        book = std::make_shared<AccountBook>(user, now);
    return book;
}

bool Accounts::current(const std::shared_ptr<AccountBook>& book) const
{
    if (!book)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = books_.find(book->user());
    return it != books_.end() && it->second == book;
}

std::vector<std::shared_ptr<AccountBook>> Accounts::all() const
{
    std::vector<std::shared_ptr<AccountBook>> out;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [user, book] : books_)
        out.push_back(book);
    return out;
}

std::vector<CellValues> serverRows(K7RTable table, const AccountBook* book)
{
    if (book && AccountBook::holds(table))
        return book->rows(table);
    return market::initialRows(table, world().clock().nowMs());
}

// --- deliveries ----------------------------------------------------------------------------------

namespace
{

void deliverUpdates(std::uint64_t sessionId, const std::string& requestId, std::vector<TableUpdate> updates)
{
    Ref<Session> session = Ref<Session>::adopt(world().registry().acquire<Session>(sessionId));
    if (!session)
        return;
    ResponseContent content;
    content.serverTime = world().clock().nowOle();
    content.updates = std::move(updates);
    Ref<Response> response =
        make<Response>(static_cast<int>(K7RResponseType::TablesUpdates), Text(requestId), std::move(content));
    session->deliverTablesUpdates(response.get());
}

}  // namespace

void sendToSession(std::uint64_t session, const std::string& requestId, const std::vector<Change>& changes,
                   const std::vector<CellValues>& rows)
{
    Ref<TableManager> manager = SessionTables::instance().manager(session);
    if (!manager || !manager->loaded())
    {
        std::vector<TableUpdate> updates;
        for (std::size_t i = 0; i < changes.size(); ++i)
        {
            const Change& c = changes[i];
            const CellValues& cells = i < rows.size() ? rows[i] : c.values;
            updates.push_back({c.op, c.table, Ref<IK7RRow>::adopt(rowOf(c.table, RowKind::Table, cells, c.key).share())});
        }
        world().dispatcher().post([session, requestId, updates = std::move(updates)]() mutable {
            deliverUpdates(session, requestId, std::move(updates));
        });
        return;
    }
    // The rows the response carries: an inserted row as it went in, a deleted one as it left, an
    // updated one as the batch left it.
    auto held = std::make_shared<std::vector<std::pair<Change, RowHold>>>();
    manager->submitBuilt(
        [changes, held](TableManager& m) {
            std::vector<TableChange> batch;
            for (const Change& c : changes)
            {
                TableChange tc;
                tc.table = c.table;
                tc.op = c.op;
                tc.key = c.key;
                RowHold row;
                if (c.op == K7RTableUpdateType::Insert)
                    tc.row = row = rowOf(c.table, RowKind::Table, c.values, c.key);
                else if (c.op == K7RTableUpdateType::Delete)
                    row = m.table(c.table)->find(c.key);
                else
                    tc.values = c.values;
                batch.push_back(std::move(tc));
                held->emplace_back(c, std::move(row));
            }
            return batch;
        },
        [session, requestId, held, manager] {
            std::vector<TableUpdate> updates;
            for (auto& [c, row] : *held)
            {
                if (!row)
                    row = manager->table(c.table)->find(c.key);
                if (row)
                    updates.push_back({c.op, c.table, Ref<IK7RRow>::adopt(row.share())});
            }
            if (!held->empty())
                deliverUpdates(session, requestId, std::move(updates));
        });
}

void publishToAccount(AccountBook& book, const std::string& requestId, const std::vector<Change>& changes)
{
    if (changes.empty())
        return;
    const std::vector<CellValues> rows = book.apply(changes);
    for (std::uint64_t session : SessionTables::instance().sessionsOf(book.user()))
        sendToSession(session, requestId, changes, rows);
}

}  // namespace sim::velvix
