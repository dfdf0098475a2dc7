// The dealing desk. A market order is answered at once (CREATE_ORDER_RESPONSE), its order row
// goes in with the next batch, and one fill delay later the trade comes in, the order leaves and
// the account and summary move, in one batch. Entry orders wait in the desk's book, checked
// against the offers' live prices every EntryCheckMs, and fill the same way. A close order ("CM")
// moves its trade into the closed trades the same way. A fill or close is worked out when its
// batch's turn comes, from the tables the batches before it left, and the account and summary are
// summed from the open trades, so that no interleaving of orders leaves margin behind. Each batch
// reaches the table listeners through the manager and then the response listeners as one
// TABLES_UPDATES response. Sessions without a table manager get the TABLES_UPDATES responses
// only, with rows made for them. Steps find their session again by id and do nothing once it is
// gone. The desk also answers an order's last update, from its ledger of every order it made, and
// subscriptions to an offer's market data.
#include "OrderEngine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>

#include "LoginRules.h"
#include "Market.h"
#include "MarketData.h"
#include "Providers.h"
#include "RequestServer.h"
#include "Rows.h"
#include "Session.h"
#include "TableManager.h"
#include "core/OleDate.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{

constexpr std::int64_t FillDelayMs = 100;
constexpr std::int64_t EntryCheckMs = 250;
constexpr double MarginPerThousand = 25.0;  // flat used margin per 1000 units

using P = K7RRequestParamsEnum;

std::atomic<std::uint64_t> orderCounter{0}, tradeCounter{0};

std::string nextOrderId()
{
    return std::to_string(50000000 + orderCounter.fetch_add(1) + 1);
}

std::string nextTradeId()
{
    return std::to_string(70000000 + tradeCounter.fetch_add(1) + 1);
}

const Value* param(const MapContents& c, P p)
{
    auto it = c.params.find(static_cast<int>(p));
    return it == c.params.end() ? nullptr : &it->second;
}

std::optional<std::string> textParam(const MapContents& c, P p)
{
    if (const Value* v = param(c, p))
        if (const auto* s = std::get_if<std::string>(v))
            return *s;
    return std::nullopt;
}

std::optional<double> numberParam(const MapContents& c, P p)
{
    const Value* v = param(c, p);
    if (!v)
        return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(v))
        return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(v))
        return *d;
    return std::nullopt;
}

std::string textCell(const RowState& row, const char* id)
{
    const char* t = row.textOf(id);
    return t ? t : "";
}

Ref<Session> sessionById(std::uint64_t id)
{
    return Ref<Session>::adopt(world().registry().acquire<Session>(id));
}

// --- what the desk reads of the market and the account ----------------------------------------

struct Offer
{
    std::string offerId, instrument;
    double bid = 0.0, ask = 0.0, pointSize = 0.0001, pipCost = 0.1;
};

struct Account
{
    std::string id, name, kind;
    double balance = 0.0;
};

std::optional<Offer> findOffer(const Ref<TableManager>& manager, const std::string& offerId)
{
    Offer o;
    o.offerId = offerId;
    if (manager)
    {
        RowHold row = manager->table(K7RTable::Offers)->find(offerId);
        if (!row)
            return std::nullopt;
        const char* instrument = row->textOf("Instrument");
        o.instrument = instrument ? instrument : "";
        o.bid = row->doubleOf("Bid");
        o.ask = row->doubleOf("Ask");
        o.pointSize = row->doubleOf("PointSize");
        o.pipCost = row->doubleOf("PipCost");
        return o;
    }
    const int i = market::findInstrument(offerId);
    if (i < 0)
        return std::nullopt;
    const market::Instrument& in = market::instruments()[static_cast<std::size_t>(i)];
    const market::Quote q = market::quote(market::settings().seed, i, world().clock().nowMs());
    o.instrument = in.symbol;
    o.bid = q.bid;
    o.ask = q.ask;
    o.pointSize = in.pointSize;
    o.pipCost = in.pipCost;
    return o;
}

std::optional<Account> findAccount(const Ref<TableManager>& manager, const std::string& accountId)
{
    Account a;
    a.id = accountId;
    if (manager)
    {
        RowHold row = manager->table(K7RTable::Accounts)->find(accountId);
        if (!row)
            return std::nullopt;
        const char* name = row->textOf("AccountName");
        const char* kind = row->textOf("AccountKind");
        a.name = name ? name : "";
        a.kind = kind ? kind : "";
        a.balance = row->doubleOf("Balance");
        return a;
    }
    if (accountId != market::DemoAccountId)
        return std::nullopt;
    a.name = market::DemoAccountName;
    a.kind = "32";
    a.balance = market::DemoBalance;
    return a;
}

// --- publishing table changes -------------------------------------------------------------------

struct Change
{
    K7RTable table;
    K7RTableUpdateType op;
    std::string key;
    CellValues values;  // INSERT: every cell given; UPDATE: the cells that move
};

RowHold rowOf(K7RTable table, RowKind kind, const CellValues& values, const std::string& key)
{
    RowHold row = makeRow(table, kind);
    row->apply(values);
    for (int i = 0; i < row->count(); ++i)
        row->setChanged(i, false);
    row->setKey(key);
    return row;
}

ResponseContent updatesContent(std::vector<TableUpdate> updates)
{
    ResponseContent content;
    content.serverTime = world().clock().nowOle();
    content.updates = std::move(updates);
    return content;
}

void deliverUpdates(std::uint64_t sessionId, const std::string& requestId, std::vector<TableUpdate> updates)
{
    Ref<Session> session = sessionById(sessionId);
    if (!session)
        return;
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::TablesUpdates), Text(requestId),
                                            updatesContent(std::move(updates)));
    session->deliverTablesUpdates(response.get());
}

// The desk's record of every order it made: its last update and its cells as they last were, kept
// after the order left the table, so that GetLastOrderUpdate can still answer for it.
struct Ledger
{
    struct Entry
    {
        K7RTableUpdateType last = K7RTableUpdateType::Insert;
        CellValues cells;
    };
    std::mutex mutex;
    std::map<std::string, Entry> orders;  // by order id

    Ledger()
    {
        world().onReset([this] {
            std::lock_guard<std::mutex> lock(mutex);
            orders.clear();
        });
    }

    void record(const std::vector<Change>& changes)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Change& c : changes)
        {
            if (c.table != K7RTable::Orders)
                continue;
            Entry& e = orders[c.key];
            e.last = c.op;
            for (const auto& [id, value] : c.values)
            {
                auto cell = std::find_if(e.cells.begin(), e.cells.end(), [&](const auto& v) { return v.first == id; });
                if (cell == e.cells.end())
                    e.cells.emplace_back(id, value);
                else
                    cell->second = value;
            }
        }
    }

    std::optional<Entry> find(const std::string& orderId)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = orders.find(orderId);
        return it == orders.end() ? std::nullopt : std::optional<Entry>(it->second);
    }
};

Ledger& ledger()
{
    static Ledger* l = new Ledger;
    return *l;
}

// Makes a batch's changes when the batch's turn comes, from the tables as the batches before it
// left them (the manager is null for a session without one).
using Build = std::function<std::vector<Change>(const Ref<TableManager>& manager)>;

// Applies the changes `build` makes through the session's manager (table listeners first), then
// reports them as one TABLES_UPDATES response; `then` runs after that, on the dispatcher. A batch
// built empty is neither applied nor reported. `record`: the ledger takes the changes when built.
void publishBuilt(std::uint64_t sessionId, const std::string& requestId, Build build, std::function<void()> then,
                  bool record = true)
{
    Ref<TableManager> manager = SessionTables::instance().manager(sessionId);
    if (!manager)
    {
        const std::vector<Change> changes = build(nullptr);
        if (record)
            ledger().record(changes);
        std::vector<TableUpdate> updates;
        for (const Change& c : changes)
            updates.push_back({c.op, c.table, Ref<IK7RRow>::adopt(rowOf(c.table, RowKind::Table, c.values, c.key).share())});
        world().dispatcher().post([sessionId, requestId, updates = std::move(updates), then]() mutable {
            if (!updates.empty())
                deliverUpdates(sessionId, requestId, std::move(updates));
            if (then)
                then();
        });
        return;
    }
    auto rows = std::make_shared<std::vector<std::pair<Change, RowHold>>>();
    manager->submitBuilt(
        [build = std::move(build), rows, record](TableManager& m) {
            std::vector<Change> changes = build(Ref<TableManager>::retain(&m));
            if (record)
                ledger().record(changes);
            std::vector<TableChange> batch;
            for (Change& c : changes)
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
                rows->emplace_back(std::move(c), std::move(row));
            }
            return batch;
        },
        [sessionId, requestId, rows, manager, then] {
            std::vector<TableUpdate> updates;
            for (auto& [c, row] : *rows)
            {
                if (!row)
                    row = manager->table(c.table)->find(c.key);  // an update: the row as it is now
                if (row)
                    updates.push_back({c.op, c.table, Ref<IK7RRow>::adopt(row.share())});
            }
            if (!rows->empty())
                deliverUpdates(sessionId, requestId, std::move(updates));
            if (then)
                then();
        });
}

// A batch whose changes are known now; the ledger has them at once.
void publish(std::uint64_t sessionId, const std::string& requestId, std::vector<Change> changes,
             std::function<void()> then = {})
{
    ledger().record(changes);
    publishBuilt(
        sessionId, requestId, [changes = std::move(changes)](const Ref<TableManager>&) { return changes; },
        std::move(then), false);
}

// --- positions ----------------------------------------------------------------------------------

struct OpenTrade
{
    std::string account, offer;
    bool buy = true;
    double amount = 0.0, openRate = 0.0, usedMargin = 0.0, grossPL = 0.0;
};

// The open trades of the session's tables, but `closing`. Positions are summed afresh from them
// at each fill and close, so that nothing is left behind once nothing is open.
std::vector<OpenTrade> openTrades(const Ref<TableManager>& manager, const std::string& closing)
{
    std::vector<OpenTrade> out;
    if (!manager)
        return out;
    for (const RowHold& row : manager->table(K7RTable::Trades)->rows())
        if (row->key() != closing)
            out.push_back({textCell(*row, "AccountID"), textCell(*row, "OfferID"), textCell(*row, "BuySell") == "B",
                           static_cast<double>(row->intOf("Amount")), row->doubleOf("OpenRate"),
                           row->doubleOf("UsedMargin"), row->doubleOf("GrossPL")});
    return out;
}

// The account's row once `open` are its trades: margin and open P/L are theirs, equity the
// balance plus that P/L.
Change accountChange(const std::string& accountId, double balance, const std::vector<OpenTrade>& open)
{
    double used = 0.0, gross = 0.0;
    for (const OpenTrade& o : open)
        if (o.account == accountId)
        {
            used += o.usedMargin;
            gross += o.grossPL;
        }
    const double equity = balance + gross;
    return {K7RTable::Accounts, K7RTableUpdateType::Update, accountId,
            {{"Balance", balance},
             {"UsedMargin", used},
             {"UsedMargin3", used},
             {"GrossPL", gross},
             {"Equity", equity},
             {"M2MEquity", equity},
             {"UsableMargin", equity - used},
             {"UsableMarginInPercentage", equity > 0 ? (equity - used) / equity * 100.0 : 0.0}}};
}

// The offer's summary row once `open` are the trades: inserted with its first trade, updated while
// it has any, deleted with its last; nothing when it had none and has none.
std::optional<Change> summaryChange(const Ref<TableManager>& manager, const Offer& offer,
                                    const std::vector<OpenTrade>& open)
{
    double buy = 0.0, sell = 0.0, buyCost = 0.0, sellCost = 0.0, gross = 0.0, margin = 0.0;
    for (const OpenTrade& o : open)
    {
        if (o.offer != offer.offerId)
            continue;
        (o.buy ? buy : sell) += o.amount;
        (o.buy ? buyCost : sellCost) += o.amount * o.openRate;
        gross += o.grossPL;
        margin += o.usedMargin;
    }
    const bool shown = manager && manager->table(K7RTable::Summary)->find(offer.offerId);
    if (buy == 0.0 && sell == 0.0)
    {
        if (!shown)
            return std::nullopt;
        return Change{K7RTable::Summary, K7RTableUpdateType::Delete, offer.offerId, {}};
    }
    return Change{K7RTable::Summary, shown ? K7RTableUpdateType::Update : K7RTableUpdateType::Insert, offer.offerId,
                  {{"OfferID", offer.offerId},
                   {"Instrument", offer.instrument},
                   {"BuyAmount", buy},
                   {"SellAmount", sell},
                   {"Amount", buy - sell},
                   {"BuyAvgOpen", buy > 0 ? buyCost / buy : 0.0},
                   {"SellAvgOpen", sell > 0 ? sellCost / sell : 0.0},
                   {"BuyClose", offer.bid},
                   {"SellClose", offer.ask},
                   {"GrossPL", gross},
                   {"NetPL", gross},
                   {"UsedMargin", margin}}};
}

// --- orders -------------------------------------------------------------------------------------

struct Ticket
{
    std::uint64_t session = 0;
    std::string requestId, orderId, offerId, accountId, type;
    bool buy = true;
    int amount = 0;
    double rate = 0.0;
};

CellValues orderCells(const Ticket& t, const Account& account, double rate, const char* status)
{
    return {{"OrderID", t.orderId},           {"RequestID", t.requestId},
            {"Rate", rate},                   {"TradeID", std::string()},
            {"AccountID", t.accountId},       {"AccountName", account.name},
            {"OfferID", t.offerId},           {"NetQuantity", false},
            {"BuySell", std::string(t.buy ? "B" : "S")},
            {"Stage", std::string("O")},      {"Type", t.type},
            {"Status", std::string(status)},  {"StatusTime", world().clock().nowOle()},
            {"Amount", std::int64_t{t.amount}}, {"TimeInForce", std::string(t.type == "OM" ? "IOC" : "GTC")},
            {"AccountKind", account.kind},    {"OriginAmount", std::int64_t{t.amount}},
            {"FilledAmount", std::int64_t{0}}, {"WorkingIndicator", t.type != "OM"},
            {"Side", std::int64_t{t.buy ? 1 : -1}}};
}

// The desk's book of entry orders waiting for their rate, and of the sessions being watched.
struct Book
{
    std::mutex mutex;
    std::map<std::string, Ticket> entries;  // by order id
    std::map<std::uint64_t, bool> watching;

    Book()
    {
        world().onReset([this] {
            std::lock_guard<std::mutex> lock(mutex);
            entries.clear();
            watching.clear();
        });
    }
};

Book& book()
{
    static Book* b = new Book;
    return *b;
}

// A fill of a ticket at the market: trade in, order out, account and summary moved. Built when
// its batch's turn comes, at the prices and positions the batches before it left.
std::vector<Change> fillChanges(const Ticket& t, const Ref<TableManager>& manager)
{
    const std::optional<Offer> offer = findOffer(manager, t.offerId);
    const std::optional<Account> account = findAccount(manager, t.accountId);
    if (!offer || !account)
        return {};  // the offer or account went away meanwhile: the order stays unfilled

    const double open = t.buy ? offer->ask : offer->bid;
    const double close = t.buy ? offer->bid : offer->ask;
    const double pips = (t.buy ? close - open : open - close) / (offer->pointSize > 0 ? offer->pointSize : 1.0);
    const double grossPL = std::round(pips * t.amount / 1000.0 * offer->pipCost * 100.0) / 100.0;
    const double margin = t.amount / 1000.0 * MarginPerThousand;
    const double now = world().clock().nowOle();
    const std::string tradeId = nextTradeId();

    // The trade comes in before its order leaves, so the position is never missing from both.
    std::vector<Change> changes;
    changes.push_back({K7RTable::Trades, K7RTableUpdateType::Insert, tradeId,
                       {{"TradeID", tradeId},
                        {"AccountID", t.accountId},
                        {"AccountName", account->name},
                        {"AccountKind", account->kind},
                        {"OfferID", t.offerId},
                        {"Amount", std::int64_t{t.amount}},
                        {"BuySell", std::string(t.buy ? "B" : "S")},
                        {"OpenRate", open},
                        {"OpenTime", now},
                        {"OpenQuoteID", std::string("Q") + t.offerId},
                        {"OpenOrderID", t.orderId},
                        {"OpenOrderReqID", t.requestId},
                        {"Commission", 0.0},
                        {"RolloverInterest", 0.0},
                        {"UsedMargin", margin},
                        {"PL", std::round(pips * 10.0) / 10.0},
                        {"GrossPL", grossPL},
                        {"Close", close},
                        {"Instrument", offer->instrument}}});
    changes.push_back({K7RTable::Orders, K7RTableUpdateType::Delete, t.orderId, {}});
    std::vector<OpenTrade> positions = openTrades(manager, std::string());
    positions.push_back({t.accountId, t.offerId, t.buy, static_cast<double>(t.amount), open, margin, grossPL});
    changes.push_back(accountChange(t.accountId, account->balance, positions));
    if (std::optional<Change> summary = summaryChange(manager, *offer, positions))
        changes.push_back(std::move(*summary));
    return changes;
}

void fill(const Ticket& t)
{
    if (!sessionById(t.session))
        return;
    publishBuilt(t.session, t.requestId, [t](const Ref<TableManager>& manager) { return fillChanges(t, manager); }, {});
}

bool triggered(const Ticket& t, const Offer& o)
{
    if (t.type == "SE")
        return t.buy ? o.ask >= t.rate : o.bid <= t.rate;
    return t.buy ? o.ask <= t.rate : o.bid >= t.rate;  // LE
}

void watch(std::uint64_t sessionId);

void checkEntries(std::uint64_t sessionId)
{
    std::vector<Ticket> due;
    bool more = false;
    Ref<Session> session = sessionById(sessionId);
    Ref<TableManager> manager = SessionTables::instance().manager(sessionId);
    {
        std::lock_guard<std::mutex> lock(book().mutex);
        for (auto it = book().entries.begin(); it != book().entries.end();)
        {
            if (it->second.session != sessionId)
            {
                ++it;
                continue;
            }
            if (!session)
            {
                it = book().entries.erase(it);
                continue;
            }
            const std::optional<Offer> offer = findOffer(manager, it->second.offerId);
            if (offer && triggered(it->second, *offer))
            {
                due.push_back(it->second);
                it = book().entries.erase(it);
                continue;
            }
            more = true;
            ++it;
        }
        book().watching[sessionId] = more;
    }
    for (const Ticket& t : due)
        fill(t);
    if (more)
        world().dispatcher().postAfter(EntryCheckMs, [sessionId] { checkEntries(sessionId); });
}

void watch(std::uint64_t sessionId)
{
    {
        std::lock_guard<std::mutex> lock(book().mutex);
        if (book().watching[sessionId])
            return;
        book().watching[sessionId] = true;
    }
    world().dispatcher().postAfter(EntryCheckMs, [sessionId] { checkEntries(sessionId); });
}

// An amount in units the instrument's trading settings allow on the account: whole lots from the
// minimum to the maximum. The reason for a refusal names the amount as the server reads it
// (rounded to units); an instrument without settings takes any amount.
std::optional<std::string> checkQuantity(const Ref<TableManager>& manager, const std::string& offerId,
                                         const std::string& accountId, double amount)
{
    const std::optional<Offer> offer = findOffer(manager, offerId);
    RowHold account = manager ? manager->table(K7RTable::Accounts)->find(accountId) : RowHold();
    const std::optional<Quantities> q =
        offer ? quantities(offer->instrument.c_str(), account ? account->intOf("BaseUnitSize") : 0,
                           account ? account->intOf("AmountLimit") : 0)
              : std::nullopt;
    if (!q)
        return std::nullopt;
    const bool huge = amount > 2e9;  // beyond any maximum, and beyond an int
    const long long units = huge ? 0 : std::llround(amount);
    char named[32];
    if (huge)
        std::snprintf(named, sizeof named, "%.17g", amount);
    else
        std::snprintf(named, sizeof named, "%lld", units);
    const std::string the = std::string("The amount ") + named;
    if (!huge && units < q->minimum)
        return the + " is below the minimum of " + std::to_string(q->minimum) + " (AMOUNT)";
    if (huge || units > q->maximum)
        return the + " is above the maximum of " + std::to_string(q->maximum) + " (AMOUNT)";
    if (units % q->lot != 0)
        return the + " is not a whole number of lots of " + std::to_string(q->lot) + " (AMOUNT)";
    return std::nullopt;
}

// The server's checks of a CreateOrder; the reason for a refusal, or nothing.
std::optional<std::string> validate(const MapContents& p, const Ref<TableManager>& manager, Ticket& t)
{
    const std::optional<std::string> type = textParam(p, P::OrderType);
    if (!type || type->empty())
        return std::string("The order type is not specified (ORDER_TYPE)");
    if (*type != "OM" && *type != "SE" && *type != "LE")
        return "The order type '" + *type + "' is not supported by the server";
    t.type = *type;
    const std::optional<std::string> offer = textParam(p, P::OfferId);
    if (!offer || offer->empty())
        return std::string("The offer is not specified (OFFER_ID)");
    if (!findOffer(manager, *offer))
        return "Unknown offer '" + *offer + "'";
    t.offerId = *offer;
    const std::optional<std::string> account = textParam(p, P::AccountId);
    if (!account || account->empty())
        return std::string("The account is not specified (ACCOUNT_ID)");
    if (!findAccount(manager, *account))
        return "Unknown account '" + *account + "'";
    t.accountId = *account;
    const std::optional<std::string> side = textParam(p, P::BuySell);
    if (!side || (*side != "B" && *side != "S"))
        return "The side must be \"B\" or \"S\" (BUY_SELL), not '" + side.value_or("") + "'";
    t.buy = *side == "B";
    const std::optional<double> amount = numberParam(p, P::Amount);
    if (!amount || !std::isfinite(*amount) || *amount < 0.5)  // rounds to no unit
        return std::string("The amount must be a positive number of units (AMOUNT)");
    if (std::optional<std::string> refusal = checkQuantity(manager, *offer, *account, *amount))
        return refusal;
    t.amount = static_cast<int>(std::llround(*amount));
    if (t.type != "OM")
    {
        const std::optional<double> rate = numberParam(p, P::Rate);
        if (!rate || !(*rate > 0.0))
            return "An entry order needs a positive rate (RATE)";
        t.rate = *rate;
    }
    return std::nullopt;
}

// --- closing trades ------------------------------------------------------------------------------

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

// A close at the market: the close order out, the trade out, the closed trade in, the account's
// balance taking the realised P/L, and the offer's summary row moved (or gone with its last
// trade), in one batch. Built when its batch's turn comes: a trade closed by a batch before it
// leaves only the order to take out.
std::vector<Change> closeChanges(const Ticket& t, const std::string& tradeId, const Ref<TableManager>& manager)
{
    if (!manager)
        return {};
    RowHold trade = manager->table(K7RTable::Trades)->find(tradeId);
    const std::optional<Offer> offer = findOffer(manager, t.offerId);
    const std::optional<Account> account = findAccount(manager, t.accountId);
    std::vector<Change> changes{{K7RTable::Orders, K7RTableUpdateType::Delete, t.orderId, {}}};
    if (!trade || !offer || !account)
        return changes;
    const auto text = [&](const char* id) { return textCell(*trade, id); };
    const bool buy = text("BuySell") == "B";
    const int amount = trade->intOf("Amount");
    const double open = trade->doubleOf("OpenRate");
    const double close = buy ? offer->bid : offer->ask;
    const double pips = (buy ? close - open : open - close) / (offer->pointSize > 0 ? offer->pointSize : 1.0);
    const double realised = std::round(pips * amount / 1000.0 * offer->pipCost * 100.0) / 100.0;
    const double now = world().clock().nowOle();

    changes.push_back({K7RTable::Trades, K7RTableUpdateType::Delete, tradeId, {}});
    changes.push_back({K7RTable::ClosedTrades, K7RTableUpdateType::Insert, tradeId,
                       {{"TradeID", tradeId},
                        {"AccountID", t.accountId},
                        {"AccountName", account->name},
                        {"AccountKind", account->kind},
                        {"OfferID", t.offerId},
                        {"Amount", std::int64_t{amount}},
                        {"BuySell", text("BuySell")},
                        {"GrossPL", realised},
                        {"Commission", 0.0},
                        {"RolloverInterest", 0.0},
                        {"OpenRate", open},
                        {"OpenQuoteID", text("OpenQuoteID")},
                        {"OpenTime", trade->doubleOf("OpenTime")},
                        {"OpenOrderID", text("OpenOrderID")},
                        {"OpenOrderReqID", text("OpenOrderReqID")},
                        {"CloseRate", close},
                        {"CloseQuoteID", std::string("Q") + t.offerId},
                        {"CloseTime", now},
                        {"CloseOrderID", t.orderId},
                        {"CloseOrderReqID", t.requestId},
                        {"PL", std::round(pips * 10.0) / 10.0},
                        {"Instrument", offer->instrument},
                        {"NetPL", realised}}});
    const std::vector<OpenTrade> positions = openTrades(manager, tradeId);
    changes.push_back(accountChange(t.accountId, account->balance + realised, positions));
    if (std::optional<Change> summary = summaryChange(manager, *offer, positions))
        changes.push_back(std::move(*summary));
    return changes;
}

void closeTrade(const Ticket& t, const std::string& tradeId)
{
    if (!sessionById(t.session))
        return;
    publishBuilt(
        t.session, t.requestId,
        [t, tradeId](const Ref<TableManager>& manager) { return closeChanges(t, tradeId, manager); }, {});
}

// A close order: ORDER_TYPE "CM" and the TRADE_ID of an open trade of the session. BUY_SELL and
// AMOUNT, when given, must be the trade's opposite side and its whole amount (no partial closes).
void closeOrder(Session& session, const Request& request)
{
    Ref<TableManager> manager = SessionTables::instance().manager(session.simId());
    const std::optional<std::string> tradeId = textParam(request.params, P::TradeId);
    if (!tradeId || tradeId->empty())
    {
        session.deliverRequestFailed(request.id(), std::string("The trade is not specified (TRADE_ID)"));
        return;
    }
    RowHold trade = manager ? manager->table(K7RTable::Trades)->find(*tradeId) : RowHold();
    if (!trade)
    {
        session.deliverRequestFailed(request.id(), "Unknown trade '" + *tradeId + "'");
        return;
    }
    Ticket t;
    t.session = session.simId();
    t.requestId = request.id();
    t.type = "CM";
    t.offerId = textCell(*trade, "OfferID");
    t.accountId = textCell(*trade, "AccountID");
    t.buy = textCell(*trade, "BuySell") != "B";
    t.amount = trade->intOf("Amount");
    if (const std::optional<std::string> side = textParam(request.params, P::BuySell); side && *side != (t.buy ? "B" : "S"))
    {
        session.deliverRequestFailed(request.id(), "A close order takes the side opposite to the trade's (BUY_SELL)");
        return;
    }
    if (const std::optional<double> amount = numberParam(request.params, P::Amount);
        amount && std::llround(*amount) != t.amount)
    {
        session.deliverRequestFailed(request.id(), std::string("Partial closes are not supported by the server (AMOUNT)"));
        return;
    }
    const std::optional<Offer> offer = findOffer(manager, t.offerId);
    const std::optional<Account> account = findAccount(manager, t.accountId);
    if (!offer || !account)
    {
        session.deliverRequestFailed(request.id(), "Unknown trade '" + *tradeId + "'");
        return;
    }
    t.orderId = nextOrderId();

    ResponseContent content;
    content.orderId = t.orderId;
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::CreateOrderResponse),
                                            Text(request.id()), std::move(content));
    session.deliverRequestCompleted(request.id(), response.get());

    CellValues cells = orderCells(t, *account, t.buy ? offer->ask : offer->bid, "E");
    setCell(cells, "TradeID", *tradeId);
    setCell(cells, "Stage", std::string("C"));
    setCell(cells, "TimeInForce", std::string("IOC"));
    setCell(cells, "WorkingIndicator", false);
    publish(t.session, t.requestId, {{K7RTable::Orders, K7RTableUpdateType::Insert, t.orderId, std::move(cells)}},
            [t, id = *tradeId] { world().dispatcher().postAfter(FillDelayMs, [t, id] { closeTrade(t, id); }); });
}

void createOrder(Session& session, const Request& request)
{
    if (textParam(request.params, P::OrderType) == std::optional<std::string>("CM"))
        return closeOrder(session, request);
    Ref<TableManager> manager = SessionTables::instance().manager(session.simId());
    Ticket t;
    t.session = session.simId();
    t.requestId = request.id();
    if (std::optional<std::string> refusal = validate(request.params, manager, t))
    {
        session.deliverRequestFailed(request.id(), *refusal);
        return;
    }
    t.orderId = nextOrderId();
    const std::optional<Offer> offer = findOffer(manager, t.offerId);
    const std::optional<Account> account = findAccount(manager, t.accountId);

    ResponseContent content;
    content.orderId = t.orderId;
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::CreateOrderResponse),
                                            Text(request.id()), std::move(content));
    session.deliverRequestCompleted(request.id(), response.get());

    const double rate = t.type == "OM" ? (t.buy ? offer->ask : offer->bid) : t.rate;
    std::vector<Change> changes{{K7RTable::Orders, K7RTableUpdateType::Insert, t.orderId,
                                 orderCells(t, *account, rate, t.type == "OM" ? "E" : "W")}};
    if (t.type == "OM")
    {
        publish(t.session, t.requestId, std::move(changes),
                [t] { world().dispatcher().postAfter(FillDelayMs, [t] { fill(t); }); });
        return;
    }
    {
        std::lock_guard<std::mutex> lock(book().mutex);
        book().entries[t.orderId] = t;
    }
    publish(t.session, t.requestId, std::move(changes), [id = t.session] { watch(id); });
}

void deleteOrder(Session& session, const Request& request)
{
    const std::optional<std::string> orderId = textParam(request.params, P::OrderId);
    if (!orderId || orderId->empty())
    {
        session.deliverRequestFailed(request.id(), std::string("The order is not specified (ORDER_ID)"));
        return;
    }
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(book().mutex);
        auto it = book().entries.find(*orderId);
        if (it != book().entries.end() && it->second.session == session.simId())
        {
            book().entries.erase(it);
            found = true;
        }
    }
    if (!found)
    {
        session.deliverRequestFailed(request.id(), "Unknown order '" + *orderId + "'");
        return;
    }
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::CommandResponse), Text(request.id()));
    session.deliverRequestCompleted(request.id(), response.get());
    publish(session.simId(), request.id(), {{K7RTable::Orders, K7RTableUpdateType::Delete, *orderId, {}}});
}

// The order's last update and its row as it last was, also after it left the table.
void lastOrderUpdate(Session& session, const Request& request)
{
    const std::optional<std::string> orderId = textParam(request.params, P::OrderId);
    if (!orderId || orderId->empty())
    {
        session.deliverRequestFailed(request.id(), std::string("The order is not specified (ORDER_ID)"));
        return;
    }
    const std::optional<Ledger::Entry> entry = ledger().find(*orderId);
    if (!entry)
    {
        session.deliverRequestFailed(request.id(), "Unknown order '" + *orderId + "'");
        return;
    }
    ResponseContent content;
    content.lastOrderUpdate = {entry->last, K7RTable::Orders,
                               Ref<IK7RRow>::adopt(rowOf(K7RTable::Orders, RowKind::Table, entry->cells, *orderId).share())};
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::GetLastOrderUpdate), Text(request.id()),
                                            std::move(content));
    session.deliverRequestCompleted(request.id(), response.get());
}

// A subscription to an offer's prices: tradable ("T") or view only ("V") sends the offer's market
// data and level-2 book of the moment; disabled ("D") sends none. The offer's SubscriptionStatus
// follows.
void setSubscription(Session& session, const Request& request)
{
    const std::optional<std::string> offerId = textParam(request.params, P::OfferId);
    if (!offerId || offerId->empty())
    {
        session.deliverRequestFailed(request.id(), std::string("The offer is not specified (OFFER_ID)"));
        return;
    }
    const std::optional<std::string> status = textParam(request.params, P::SubscriptionStatus);
    if (!status || (*status != "T" && *status != "V" && *status != "D"))
    {
        session.deliverRequestFailed(request.id(), "The subscription status must be \"T\", \"V\" or \"D\" "
                                                   "(SUBSCRIPTION_STATUS), not '" + status.value_or("") + "'");
        return;
    }
    Ref<TableManager> manager = SessionTables::instance().manager(session.simId());
    LiveQuote quote;
    if (!liveQuote(manager, *offerId, world().clock().nowMs(), quote))
    {
        session.deliverRequestFailed(request.id(), "Unknown offer '" + *offerId + "'");
        return;
    }
    Ref<Response> done = make<Response>(static_cast<int>(K7RResponseType::CommandResponse), Text(request.id()));
    session.deliverRequestCompleted(request.id(), done.get());
    if (*status != "D")
    {
        ResponseContent data;
        data.marketData = std::make_shared<const MarketDataMessage>(marketDataMessage(quote, request.id()));
        Ref<Response> r = make<Response>(static_cast<int>(K7RResponseType::MarketData), Text(request.id()), std::move(data));
        session.deliverRequestCompleted(request.id(), r.get());
        ResponseContent book;
        book.level2 = std::make_shared<const std::vector<Level2Quote>>(1, level2Update(quote));
        r = make<Response>(static_cast<int>(K7RResponseType::Level2MarketData), Text(request.id()), std::move(book));
        session.deliverRequestCompleted(request.id(), r.get());
    }
    if (!manager)
        return;
    RowHold offer = manager->table(K7RTable::Offers)->find(*offerId);
    const char* current = offer ? offer->textOf("SubscriptionStatus") : nullptr;
    if (offer && (!current || *status != current))
        publish(session.simId(), request.id(), {{K7RTable::Offers, K7RTableUpdateType::Update, *offerId,
                                                 {{"SubscriptionStatus", *status}}}});
}

}  // namespace

void answerOrder(Session& session, const Ref<Request>& request)
{
    const Value* command = param(request->params, P::Command);
    const auto* name = command ? std::get_if<std::string>(command) : nullptr;
    if (!name || name->empty())
    {
        session.deliverRequestFailed(request->id(), std::string("The command is empty (COMMAND)"));
        return;
    }
    if (*name == "CreateOrder")
        return createOrder(session, *request);
    if (*name == "DeleteOrder")
        return deleteOrder(session, *request);
    if (*name == "GetLastOrderUpdate")
        return lastOrderUpdate(session, *request);
    if (*name == "SetSubscriptionStatus")
        return setSubscription(session, *request);
    if (*name == "UpdateCommissions")
        return answerUpdateCommissions(session, *request);
    static const char* const Known[] = {"CreateOCO", "CreateOTO", "CreateOTOCO", "JoinToNewContingencyGroup",
                                        "JoinToExistingContingencyGroup", "RemoveFromContingencyGroup", "EditOrder",
                                        "UpdateMarginRequirements", "AcceptOrder", "ChangePassword", "SendMail",
                                        "UpdateRollover"};
    for (const char* known : Known)
        if (*name == known)
        {
            session.deliverRequestFailed(request->id(), "The command '" + *name + "' is not supported by the server");
            return;
        }
    session.deliverRequestFailed(request->id(), "Unknown command '" + *name + "'");
}

// --- refreshes ----------------------------------------------------------------------------------

bool tableRows(Session& session, K7RTable table, const Text& account, TableRows& out, std::string& error)
{
    ColumnCollection* plain = columnSet(table, false);
    if (!plain)
    {
        error = "Unknown table " + std::to_string(static_cast<int>(table));
        return false;
    }
    Ref<TableManager> manager = SessionTables::instance().manager(session.simId());
    if (account && !findAccount(manager, *account))
    {
        error = "Unknown account '" + *account + "'";
        return false;
    }
    // The cells of every row, as the server holds them.
    std::vector<CellValues> source;
    if (manager)
    {
        for (const RowHold& row : manager->table(table)->rows())
        {
            CellValues cells;
            const ColumnCollection& set = row->columnSet();
            for (int i = 0; i < set.count(); ++i)
                cells.emplace_back(set.idAt(i), row->read(i));
            source.push_back(std::move(cells));
        }
    }
    else
    {
        source = market::initialRows(table, market::settings().seed, world().clock().nowMs());
    }
    out.type = table;
    out.columns = Ref<IK7RTableColumnCollection>::retain(plain);
    const char* key = keyColumnId(table);
    for (const CellValues& cells : source)
    {
        std::string rowKey;
        bool mine = !account;
        for (const auto& [id, value] : cells)
        {
            const auto* s = std::get_if<std::string>(&value);
            if (id == key && s)
                rowKey = *s;
            if (account && id == "AccountID" && s && *s == *account)
                mine = true;
        }
        if (account && plain->indexOf("AccountID") < 0)
            mine = true;  // offers and messages belong to every account
        if (mine)
            out.rows.push_back(Ref<IK7RRow>::adopt(rowOf(table, RowKind::Plain, cells, rowKey).share()));
    }
    return true;
}

}  // namespace sim::velvix
