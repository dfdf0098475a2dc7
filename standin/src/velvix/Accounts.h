// The accounts the server keeps: one per user of the login server, held by the world rather than
// by a session, so that a new login loads what is open, every logged-in session of the user shows
// the same rows, and each change the desk makes reaches all of them (their tables, listeners and
// queues, and the TABLES_UPDATES responses of their response listeners). Books change on the
// dispatcher thread only; any thread may read them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "velvix/Velvix.h"

#include "Columns.h"
#include "Rows.h"

namespace sim::velvix
{

// One change of a table row: INSERT gives every cell, UPDATE the cells that move, DELETE the key.
struct Change
{
    K7RTable table = K7RTable::TableUnknown;
    K7RTableUpdateType op = K7RTableUpdateType::Insert;
    std::string key;
    CellValues values;
};

// A row of a table made from cells, every cell unchanged, with that key.
RowHold rowOf(K7RTable table, RowKind kind, const CellValues& cells, const std::string& key);

// A cell of a row's cells by column identifier; null when it has none.
const Value* cellIn(const CellValues& cells, const char* id);
std::string textIn(const CellValues& cells, const char* id);
double doubleIn(const CellValues& cells, const char* id);
std::int64_t intIn(const CellValues& cells, const char* id);
// Sets the cell, or appends it.
void setCell(CellValues& cells, const char* id, Value value);

// The rows of one user's account: its account row, orders, trades, closed trades and summary
// rows, each table in the order its rows came in.
class AccountBook
{
public:
    AccountBook(std::string user, std::int64_t nowMs);

    const std::string& user() const { return user_; }
    std::string accountId() const;
    // The tables an account holds (not the offers nor the messages).
    static bool holds(K7RTable table);

    // Applies the changes in order (an INSERT appends, an UPDATE sets its cells, a DELETE takes the
    // row out; a change of a row it does not hold changes nothing) and gives, per change, the
    // row's cells as the change left them (a deleted row's as they were).
    std::vector<CellValues> apply(const std::vector<Change>& changes);
    std::optional<CellValues> find(K7RTable table, const std::string& key) const;
    std::vector<CellValues> rows(K7RTable table) const;

private:
    friend class Accounts;  // which keeps the books whole across a fork
    struct Row
    {
        std::string key;
        CellValues cells;
    };
    const std::string user_;
    mutable std::mutex mutex_;  // taken with nothing else
    std::array<std::vector<Row>, 7> tables_;
};

class Accounts
{
public:
    static Accounts& instance();

    // The user's account, opened with the demo account's content on first use.
    std::shared_ptr<AccountBook> of(const std::string& user);
    // Whether the server still keeps that book (a reset opens every account again).
    bool current(const std::shared_ptr<AccountBook>& book) const;
    std::vector<std::shared_ptr<AccountBook>> all() const;

private:
    Accounts();
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<AccountBook>> books_;
};

// The server's rows of a table for an account: the offers at their published prices, the welcome
// message, and the account's own rows from its book (the opening content without one).
std::vector<CellValues> serverRows(K7RTable table, const AccountBook* book);

// Sends a batch to one session, on the dispatcher thread: through its table manager when it has
// one with its tables loaded (its table listeners first, held back while its updates are locked),
// then as one TABLES_UPDATES response to its response listeners; otherwise as the response only,
// with rows made from `rows` (the cells each change left its row with).
void sendToSession(std::uint64_t session, const std::string& requestId, const std::vector<Change>& changes,
                   const std::vector<CellValues>& rows);
// Applies a batch to the account and sends it to every session logged in as its user.
void publishToAccount(AccountBook& book, const std::string& requestId, const std::vector<Change>& changes);

}  // namespace sim::velvix
