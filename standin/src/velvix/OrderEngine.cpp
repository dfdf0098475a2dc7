// The dealing desk. Orders work on the account the server keeps for the session's user: a market
// order is answered at once (CREATE_ORDER_RESPONSE), its order row goes in with the next batch, and
// one fill delay later the trade comes in, the order leaves and the account and summary move, in
// one batch. Entry orders wait for their rate, checked at each price change of their offer, and
// fill the same way. A close order ("CM") moves its trade into the closed trades the same way. A
// trade's stop ("S") and limit ("L"), placed on it or asked for with the market order that opens
// it, wait with the entry orders and close it at the market once reached, the other going with
// it. Waiting orders take a new rate (EditOrder) or are taken out (DeleteOrder); what the desk does
// not do (net quantity, trailing, contingent orders) is refused, never ignored.
// Every batch is worked out on the dispatcher from the account as the batches before it left it,
// and the account and summary are summed afresh from the open trades, so that no interleaving of
// orders leaves margin behind; it reaches every session logged in to the account. Fills and closes
// belong to the account, not to the session that sent the order. The desk deals at the prices the
// server publishes, which its price feed moves along the market's path and sends to every table
// manager. It also answers an order's last update, from its ledger of every order it made, and
// subscriptions to an offer's market data. Everything here runs on the dispatcher thread.
#include "OrderEngine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "Accounts.h"
#include "LoginRules.h"
#include "Market.h"
#include "MarketData.h"
#include "Providers.h"
#include "RequestServer.h"
#include "Rows.h"
#include "Session.h"
#include "TableManager.h"
#include "core/Fork.h"
#include "core/OleDate.h"
#include "core/World.h"

namespace sim::velvix
{

namespace
{

constexpr std::int64_t FillDelayMs = 100;
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

// A number above 0 (not an infinity); nothing for anything else.
std::optional<double> positiveNumber(const MapContents& c, P p)
{
    const std::optional<double> v = numberParam(c, p);
    return v && std::isfinite(*v) && *v > 0.0 ? v : std::nullopt;
}

// A number as it was given: the shortest text that reads back as the same double.
std::string shortest(double v)
{
    char text[32];
    for (int digits = 1; digits <= 17; ++digits)
    {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v)
            break;
    }
    return text;
}

// The AMOUNT of an order as the server takes it: a positive whole number of units, given as an int
// or a double; the refusal otherwise.
std::optional<std::string> amountRefusal(const MapContents& c, std::optional<double>& amount)
{
    if (const Value* v = param(c, P::Amount); v && std::holds_alternative<std::string>(*v))
        return std::string("The amount must be a number, not a text (AMOUNT)");
    amount = numberParam(c, P::Amount);
    if (!amount || !std::isfinite(*amount) || !(*amount > 0.0))
        return std::string("The amount must be a positive number of units (AMOUNT)");
    if (*amount != std::floor(*amount))
        return "The amount " + shortest(*amount) + " is not a whole number of units (AMOUNT)";
    return std::nullopt;
}

// The account of the user the session logged in as; null when it is not logged in.
std::shared_ptr<AccountBook> accountOf(const Session& session)
{
    const std::optional<std::string> user = SessionTables::instance().user(session.simId());
    return user ? Accounts::instance().of(*user) : nullptr;
}

// --- what the desk reads of the market ----------------------------------------------------------

// An offer the server quotes, at its published price.
struct Offer
{
    std::string offerId, instrument;
    double bid = 0.0, ask = 0.0, pointSize = 0.0001, pipCost = 0.1;
};

std::optional<Offer> findOffer(const std::string& offerId)
{
    const int i = market::findInstrument(offerId);
    if (i < 0)
        return std::nullopt;
    const market::Instrument& in = market::instruments()[static_cast<std::size_t>(i)];
    const market::Price p = market::published(i);
    return Offer{offerId, in.symbol, p.bid, p.ask, in.pointSize, in.pipCost};
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
    std::mutex mutex;  // taken with nothing else
    std::map<std::string, Entry> orders;  // by order id

    Ledger()
    {
        world().onReset([this] {
            std::lock_guard<std::mutex> lock(mutex);
            orders.clear();
        });
        lockAcrossFork(mutex);
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

// A batch of the desk: the ledger takes its orders' changes, the account takes them all, and every
// session of the account hears of them.
void publish(AccountBook& book, const std::string& requestId, const std::vector<Change>& changes)
{
    ledger().record(changes);
    publishToAccount(book, requestId, changes);
}

// --- positions ----------------------------------------------------------------------------------

// An amount of money in the account's currency, to the cent.
double cents(double v)
{
    return std::round(v * 100.0) / 100.0;
}

// A trade's mark at the offer's price: the rate it would close at (the bid for a buy, the ask for
// a sell), its P/L in pips to a tenth, and the same P/L in the account's currency, to the cent,
// from those pips (a pip of 1000 units costs the instrument's pip cost).
struct Mark
{
    double close = 0.0, pips = 0.0, gross = 0.0;
};

Mark markAt(bool buy, double amount, double openRate, const Offer& offer)
{
    Mark m;
    m.close = buy ? offer.bid : offer.ask;
    const double pip = offer.pointSize > 0 ? offer.pointSize : 1.0;
    m.pips = std::round((buy ? m.close - openRate : openRate - m.close) / pip * 10.0) / 10.0;
    m.gross = cents(m.pips * amount / 1000.0 * offer.pipCost);
    return m;
}

struct OpenTrade
{
    std::string tradeId, offer;
    bool buy = true;
    double amount = 0.0, openRate = 0.0, usedMargin = 0.0, grossPL = 0.0;
    double commission = 0.0, closeCommission = 0.0;  // paid at the open; closing now would cost
};

// The account's open trades, but `closing`. Positions are summed afresh from them at each fill and
// close, so that nothing is left behind once nothing is open.
std::vector<OpenTrade> openTrades(const AccountBook& book, const std::string& closing)
{
    std::vector<OpenTrade> out;
    for (const CellValues& row : book.rows(K7RTable::Trades))
    {
        OpenTrade t{textIn(row, "TradeID"),          textIn(row, "OfferID"),
                    textIn(row, "BuySell") == "B",   static_cast<double>(intIn(row, "Amount")),
                    doubleIn(row, "OpenRate"),       doubleIn(row, "UsedMargin"),
                    doubleIn(row, "GrossPL"),        doubleIn(row, "Commission"),
                    doubleIn(row, "CloseCommission")};
        if (t.tradeId != closing)
            out.push_back(std::move(t));
    }
    return out;
}

// The account's row once `open` are its trades: margin and open P/L are theirs, equity the
// balance plus that P/L, and what the margin leaves of it usable.
Change accountChange(const std::string& accountId, double balance, const std::vector<OpenTrade>& open)
{
    double used = 0.0, gross = 0.0;
    for (const OpenTrade& o : open)
    {
        used += o.usedMargin;
        gross += o.grossPL;
    }
    gross = cents(gross);
    const double equity = cents(balance + gross);
    const double usable = cents(equity - used);
    const double usablePercent = equity > 0 ? usable / equity * 100.0 : 0.0;
    return {K7RTable::Accounts, K7RTableUpdateType::Update, accountId,
            {{"Balance", balance},
             {"UsedMargin", used},
             {"UsedMargin3", used},
             {"GrossPL", gross},
             {"Equity", equity},
             {"M2MEquity", equity},
             {"UsableMargin", usable},
             {"UsableMarginInPercentage", usablePercent},
             {"UsableMaintMarginInPercentage", usablePercent}}};
}

// The offer's summary row once `open` are the trades: inserted with its first trade, updated while
// it has any, deleted with its last; nothing when it had none and has none.
std::optional<Change> summaryChange(const AccountBook& book, const Offer& offer, const std::vector<OpenTrade>& open)
{
    double buy = 0.0, sell = 0.0, buyCost = 0.0, sellCost = 0.0, gross = 0.0, margin = 0.0;
    double commission = 0.0, closeCommission = 0.0;
    for (const OpenTrade& o : open)
    {
        if (o.offer != offer.offerId)
            continue;
        (o.buy ? buy : sell) += o.amount;
        (o.buy ? buyCost : sellCost) += o.amount * o.openRate;
        gross += o.grossPL;
        margin += o.usedMargin;
        commission += o.commission;
        closeCommission += o.closeCommission;
    }
    gross = cents(gross);
    const bool shown = book.find(K7RTable::Summary, offer.offerId).has_value();
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
                   {"Commission", cents(commission)},
                   {"CloseCommission", cents(closeCommission)},
                   {"NetPL", cents(gross - commission - closeCommission)},
                   {"UsedMargin", margin}}};
}

// --- orders -------------------------------------------------------------------------------------

struct Ticket
{
    std::shared_ptr<AccountBook> book;  // the account the order works on
    std::string requestId, orderId, offerId, accountId, type;
    std::string tradeId;  // the trade a close, a stop or a limit works on
    bool buy = true;      // the order's side: a close's, a stop's and a limit's oppose their trade's
    int amount = 0;
    double rate = 0.0;
    double stopRate = 0.0, limitRate = 0.0;  // a market order's stop and limit for its trade (0: none)
};

// Orders that work on a trade: a close ("CM"), a stop ("S"), a limit ("L").
bool onTrade(const std::string& type)
{
    return type == "CM" || type == "S" || type == "L";
}

// Market orders ("OM", "CM") execute at once (immediate or cancel); the rest wait, good till
// cancelled.
bool atMarket(const std::string& type)
{
    return type == "OM" || type == "CM";
}

CellValues orderCells(const Ticket& t, const CellValues& account, double rate, const char* status)
{
    return {{"OrderID", t.orderId},           {"RequestID", t.requestId},
            {"Rate", rate},                   {"TradeID", t.tradeId},
            {"AccountID", t.accountId},       {"AccountName", textIn(account, "AccountName")},
            {"OfferID", t.offerId},           {"NetQuantity", false},
            {"BuySell", std::string(t.buy ? "B" : "S")},
            {"Stage", std::string(onTrade(t.type) ? "C" : "O")}, {"Type", t.type},
            {"Status", std::string(status)},  {"StatusTime", world().clock().nowOle()},
            {"Amount", std::int64_t{t.amount}}, {"TimeInForce", std::string(atMarket(t.type) ? "IOC" : "GTC")},
            {"AccountKind", textIn(account, "AccountKind")}, {"OriginAmount", std::int64_t{t.amount}},
            {"FilledAmount", std::int64_t{0}}, {"WorkingIndicator", !atMarket(t.type)},
            {"Side", std::int64_t{t.buy ? 1 : -1}}};
}

// The orders that wait for their rate, of every account. A fork's child has them too: they are the
// server's, and fill there once the child's prices reach them.
struct Waiting
{
    std::mutex mutex;  // taken with nothing else
    std::map<std::string, Ticket> orders;  // by order id

    Waiting()
    {
        world().onReset([this] {
            std::map<std::string, Ticket> dropped;  // let go after the lock
            std::lock_guard<std::mutex> lock(mutex);
            dropped.swap(orders);
        });
        lockAcrossFork(mutex);
    }
};

Waiting& waiting()
{
    static Waiting* w = new Waiting;
    return *w;
}

void holdWaiting(const Ticket& t)
{
    std::lock_guard<std::mutex> lock(waiting().mutex);
    waiting().orders[t.orderId] = t;
}

// The waiting order of the account, if there is one by that id.
std::optional<Ticket> waitingOrder(const std::shared_ptr<AccountBook>& book, const std::string& orderId)
{
    std::lock_guard<std::mutex> lock(waiting().mutex);
    auto it = waiting().orders.find(orderId);
    if (it == waiting().orders.end() || it->second.book != book)
        return std::nullopt;
    return it->second;
}

// The answer to an order the server takes: the new order's id.
void answerCreated(Session& session, const Request& request, const std::string& orderId)
{
    ResponseContent content;
    content.orderId = orderId;
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::CreateOrderResponse),
                                            Text(request.id()), std::move(content));
    session.deliverRequestCompleted(request.id(), response.get());
}

void answerDone(Session& session, const Request& request)
{
    Ref<Response> response = make<Response>(static_cast<int>(K7RResponseType::CommandResponse), Text(request.id()));
    session.deliverRequestCompleted(request.id(), response.get());
}

// --- stops and limits ---------------------------------------------------------------------------

// The trade's cells that name its stop or its limit.
const char* rateColumn(bool stop)
{
    return stop ? "Stop" : "Limit";
}

const char* orderColumn(bool stop)
{
    return stop ? "StopOrderID" : "LimitOrderID";
}

std::string pipsText(double pips)
{
    const double shown = std::round(pips * 100.0) / 100.0;
    return shortest(shown) + (shown == 1.0 ? " pip" : " pips");
}

// A stop or a limit of a trade at `rate`, held against the rate the trade closes at now (the bid
// for a buy, the ask for a sell): a buy's stop goes below it and its limit above, a sell's the
// other way round, each at least as many pips from it as the trading settings report. The refusal
// names `field`.
std::optional<std::string> protectionRefusal(bool stop, bool tradeBuy, double rate, const Offer& offer,
                                             const std::string& field)
{
    const std::string kind = stop ? "stop" : "limit", market = tradeBuy ? "the bid" : "the ask";
    const double close = tradeBuy ? offer.bid : offer.ask;
    const bool below = stop == tradeBuy;  // a buy's stop, a sell's limit
    const double away = below ? close - rate : rate - close;
    if (!(away > 0.0))
        return "The " + kind + " of a " + (tradeBuy ? "buy" : "sell") + " trade must be " +
               (below ? "below " : "above ") + market + ", " + shortest(close) + " (" + field + ")";
    const std::optional<Distances> least = distances(offer.instrument.c_str());
    const int pips = least ? (stop ? least->stopForTrade : least->limitForTrade) : 0;
    // Exactly at the distance is far enough, whatever the rounding of the difference.
    if (away < pips * offer.pointSize * (1.0 - 1e-9))
        return "The " + kind + " " + shortest(rate) + " is " + pipsText(away / offer.pointSize) + " from " + market +
               ", " + shortest(close) + ", nearer than the " + pipsText(pips) + " the trading settings allow (" +
               field + ")";
    return std::nullopt;
}

// A stop or a limit for the trade that a market order opened, from that order.
Ticket protectionOf(const Ticket& opening, const std::string& tradeId, bool stop)
{
    Ticket p = opening;
    p.orderId = nextOrderId();
    p.type = stop ? "S" : "L";
    p.tradeId = tradeId;
    p.buy = !opening.buy;
    p.rate = stop ? opening.stopRate : opening.limitRate;
    p.stopRate = p.limitRate = 0.0;
    return p;
}

// --- closing trades ------------------------------------------------------------------------------

// A close at the market: the closing order out (a close order, or the trade's stop or limit), the
// trade's other stop and limit out, the trade out, the closed trade in, the account's balance
// taking the realised P/L, and the offer's summary row moved (or gone with its last trade), in
// one batch. A trade closed by a batch before it leaves only the order to take out.
std::vector<Change> closeChanges(const Ticket& t)
{
    const std::optional<CellValues> trade = t.book->find(K7RTable::Trades, t.tradeId);
    const std::optional<Offer> offer = findOffer(t.offerId);
    const std::optional<CellValues> account = t.book->find(K7RTable::Accounts, t.accountId);
    std::vector<Change> changes{{K7RTable::Orders, K7RTableUpdateType::Delete, t.orderId, {}}};
    if (!trade || !offer || !account)
        return changes;
    for (const bool stop : {true, false})
        if (const std::string other = textIn(*trade, orderColumn(stop)); !other.empty() && other != t.orderId)
            changes.push_back({K7RTable::Orders, K7RTableUpdateType::Delete, other, {}});
    const auto text = [&](const char* id) { return textIn(*trade, id); };
    const bool buy = text("BuySell") == "B";
    const std::int64_t amount = intIn(*trade, "Amount");
    const double open = doubleIn(*trade, "OpenRate");
    const Mark realised = markAt(buy, static_cast<double>(amount), open, *offer);  // the trade's mark, now
    // The commission of both ways: paid at the open, and charged now.
    const double commission =
        doubleIn(*trade, "Commission") + planCommission(t.offerId.c_str(), static_cast<int>(amount));
    const double netPL = cents(realised.gross - commission);
    const double now = world().clock().nowOle();

    changes.push_back({K7RTable::Trades, K7RTableUpdateType::Delete, t.tradeId, {}});
    changes.push_back({K7RTable::ClosedTrades, K7RTableUpdateType::Insert, t.tradeId,
                       {{"TradeID", t.tradeId},
                        {"AccountID", t.accountId},
                        {"AccountName", textIn(*account, "AccountName")},
                        {"AccountKind", textIn(*account, "AccountKind")},
                        {"OfferID", t.offerId},
                        {"Amount", amount},
                        {"BuySell", text("BuySell")},
                        {"GrossPL", realised.gross},
                        {"Commission", commission},
                        {"RolloverInterest", 0.0},
                        {"OpenRate", open},
                        {"OpenQuoteID", text("OpenQuoteID")},
                        {"OpenTime", doubleIn(*trade, "OpenTime")},
                        {"OpenOrderID", text("OpenOrderID")},
                        {"OpenOrderReqID", text("OpenOrderReqID")},
                        {"CloseRate", realised.close},
                        {"CloseQuoteID", std::string("Q") + t.offerId},
                        {"CloseTime", now},
                        {"CloseOrderID", t.orderId},
                        {"CloseOrderReqID", t.requestId},
                        {"PL", realised.pips},
                        {"Instrument", offer->instrument},
                        {"NetPL", netPL}}});
    const std::vector<OpenTrade> positions = openTrades(*t.book, t.tradeId);
    changes.push_back(accountChange(t.accountId, cents(doubleIn(*account, "Balance") + netPL), positions));
    if (std::optional<Change> summary = summaryChange(*t.book, *offer, positions))
        changes.push_back(std::move(*summary));
    return changes;
}

// The orders the close takes out wait no more.
void closeTrade(const Ticket& t)
{
    if (!Accounts::instance().current(t.book))
        return;
    const std::vector<Change> changes = closeChanges(t);
    {
        std::lock_guard<std::mutex> lock(waiting().mutex);
        for (const Change& c : changes)
            if (c.table == K7RTable::Orders && c.op == K7RTableUpdateType::Delete)
                waiting().orders.erase(c.key);
    }
    publish(*t.book, t.requestId, changes);
}

// --- fills ---------------------------------------------------------------------------------------

// A fill of a ticket at the market: trade in, order out, the stop and limit the order asked for in
// (`attached` gets them), account and summary moved, at the prices and positions the batches
// before it left.
std::vector<Change> fillChanges(const Ticket& t, std::vector<Ticket>& attached)
{
    const std::optional<Offer> offer = findOffer(t.offerId);
    const std::optional<CellValues> account = t.book->find(K7RTable::Accounts, t.accountId);
    if (!offer || !account)
        return {};

    const double open = t.buy ? offer->ask : offer->bid;
    const Mark mark = markAt(t.buy, t.amount, open, *offer);
    const double margin = t.amount / 1000.0 * MarginPerThousand;
    // The commission of the open, and what closing now would cost, as the provider computes them.
    const double commission = planCommission(t.offerId.c_str(), t.amount);
    const double closeCommission = planCommission(t.offerId.c_str(), t.amount);
    const double now = world().clock().nowOle();
    const std::string tradeId = nextTradeId();

    // The trade comes in before its order leaves, so the position is never missing from both.
    std::vector<Change> changes;
    changes.push_back({K7RTable::Trades, K7RTableUpdateType::Insert, tradeId,
                       {{"TradeID", tradeId},
                        {"AccountID", t.accountId},
                        {"AccountName", textIn(*account, "AccountName")},
                        {"AccountKind", textIn(*account, "AccountKind")},
                        {"OfferID", t.offerId},
                        {"Amount", std::int64_t{t.amount}},
                        {"BuySell", std::string(t.buy ? "B" : "S")},
                        {"OpenRate", open},
                        {"OpenTime", now},
                        {"OpenQuoteID", std::string("Q") + t.offerId},
                        {"OpenOrderID", t.orderId},
                        {"OpenOrderReqID", t.requestId},
                        {"Commission", commission},
                        {"RolloverInterest", 0.0},
                        {"UsedMargin", margin},
                        {"PL", mark.pips},
                        {"GrossPL", mark.gross},
                        {"Close", mark.close},
                        {"Instrument", offer->instrument},
                        {"CloseCommission", closeCommission}}});
    changes.push_back({K7RTable::Orders, K7RTableUpdateType::Delete, t.orderId, {}});
    for (const bool stop : {true, false})
    {
        if ((stop ? t.stopRate : t.limitRate) <= 0.0)
            continue;
        attached.push_back(protectionOf(t, tradeId, stop));
        const Ticket& p = attached.back();
        setCell(changes.front().values, rateColumn(stop), p.rate);
        setCell(changes.front().values, orderColumn(stop), p.orderId);
        changes.push_back(
            {K7RTable::Orders, K7RTableUpdateType::Insert, p.orderId, orderCells(p, *account, p.rate, "W")});
    }
    std::vector<OpenTrade> positions = openTrades(*t.book, std::string());
    positions.push_back({tradeId, t.offerId, t.buy, static_cast<double>(t.amount), open, margin, mark.gross,
                         commission, closeCommission});
    changes.push_back(accountChange(t.accountId, doubleIn(*account, "Balance"), positions));
    if (std::optional<Change> summary = summaryChange(*t.book, *offer, positions))
        changes.push_back(std::move(*summary));
    return changes;
}

// An entry stop, or a trade's stop, fills once the market goes through its rate; an entry limit,
// or a trade's limit, once the market is at its rate or better. A buy deals at the ask and a sell
// at the bid, so a buy trade's stop and limit (sells) watch the bid, a sell trade's the ask.
bool triggered(const Ticket& t, const Offer& o)
{
    if (t.type == "SE" || t.type == "S")
        return t.buy ? o.ask >= t.rate : o.bid <= t.rate;
    return t.buy ? o.ask <= t.rate : o.bid >= t.rate;  // LE, L
}

// A reset opened the account again: what was due for the old one is dropped. The stop and limit a
// market order asked for wait from its fill on; one the market went through since the order was
// taken closes the trade at once.
void fill(const Ticket& t)
{
    if (!Accounts::instance().current(t.book))
        return;
    std::vector<Ticket> attached;
    publish(*t.book, t.requestId, fillChanges(t, attached));
    const std::optional<Offer> offer = findOffer(t.offerId);
    std::optional<Ticket> due;
    for (const Ticket& p : attached)
    {
        if (!due && offer && triggered(p, *offer))
            due = p;
        else
            holdWaiting(p);
    }
    if (due)
        closeTrade(*due);
}

// The waiting orders on these offers that their prices reached fill now: an entry opens its trade,
// a stop or a limit closes its own (one per trade, should both be reached at once).
void checkWaiting(const std::vector<Offer>& offers)
{
    std::vector<Ticket> due;
    {
        std::set<std::string> closing;  // trades
        std::lock_guard<std::mutex> lock(waiting().mutex);
        for (auto it = waiting().orders.begin(); it != waiting().orders.end();)
        {
            const Ticket& t = it->second;
            auto offer = std::find_if(offers.begin(), offers.end(), [&](const Offer& o) { return o.offerId == t.offerId; });
            if (offer != offers.end() && triggered(t, *offer) &&
                (t.tradeId.empty() || closing.insert(t.tradeId).second))
            {
                due.push_back(t);
                it = waiting().orders.erase(it);
                continue;
            }
            ++it;
        }
    }
    for (const Ticket& t : due)
    {
        if (onTrade(t.type))
            closeTrade(t);
        else
            fill(t);
    }
}

// A whole amount of units the instrument's trading settings allow on the account: whole lots from
// the minimum to the maximum. The account's lot size and amount limit are those of the account row
// the session holds, as the trading settings provider reads them from the row it is given (the
// server's row without tables). The reason for a refusal names the amount.
std::optional<std::string> checkQuantity(const Offer& offer, const Ref<TableManager>& manager,
                                         const CellValues& account, double amount)
{
    std::int64_t lotSize = intIn(account, "BaseUnitSize"), limit = intIn(account, "AmountLimit");
    if (RowHold row = manager ? manager->table(K7RTable::Accounts)->find(textIn(account, "AccountID")) : RowHold())
    {
        lotSize = row->intOf("BaseUnitSize");
        limit = row->intOf("AmountLimit");
    }
    const std::optional<Quantities> q = quantities(offer.instrument.c_str(), lotSize, limit);
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

// Whether an order parameter asks for something: a flag set, a number other than 0, a text other
// than "" and "N".
bool asks(const Value* v)
{
    if (!v)
        return false;
    if (const auto* b = std::get_if<bool>(v))
        return *b;
    if (const auto* i = std::get_if<std::int64_t>(v))
        return *i != 0;
    if (const auto* d = std::get_if<double>(v))
        return *d != 0.0;
    if (const auto* s = std::get_if<std::string>(v))
        return !s->empty() && *s != "N";
    return false;
}

// What the server does not do is refused rather than ignored: net quantity, trailing, pegged,
// range and contingent orders, a time in force other than the one the server gives the order,
// and a stop or a limit asked for with anything but a market open order.
std::optional<std::string> unsupported(const MapContents& p, const std::string& type)
{
    if (asks(param(p, P::NetQuantity)))
        return std::string("Net quantity orders are not supported by the server (NET_QUANTITY)");
    using Field = std::pair<P, const char*>;
    const auto refused = [&p](std::initializer_list<Field> fields, const char* what) -> std::optional<std::string> {
        for (const auto& [which, field] : fields)
            if (asks(param(p, which)))
                return std::string(what) + " are not supported by the server (" + field + ")";
        return std::nullopt;
    };
    if (auto r = refused({{P::TrailStep, "TRAIL_STEP"}, {P::TrailStepStop, "TRAIL_STEP_STOP"}}, "Trailing orders"))
        return r;
    if (auto r = refused({{P::PegType, "PEG_TYPE"}, {P::PegOffset, "PEG_OFFSET"}, {P::PegTypeStop, "PEG_TYPE_STOP"},
                          {P::PegOffsetStop, "PEG_OFFSET_STOP"}, {P::PegTypeLimit, "PEG_TYPE_LIMIT"},
                          {P::PegOffsetLimit, "PEG_OFFSET_LIMIT"}},
                         "Pegged orders"))
        return r;
    if (auto r = refused({{P::RateMin, "RATE_MIN"}, {P::RateMax, "RATE_MAX"}}, "Range orders"))
        return r;
    if (auto r = refused({{P::ContingencyId, "CONTINGENCY_ID"}, {P::ContingencyGroupType, "CONTINGENCY_GROUP_TYPE"}},
                         "Contingency groups"))
        return r;
    if (const std::optional<std::string> tif = textParam(p, P::TimeInForce); tif && !tif->empty())
    {
        const char* given = type == "OM" || type == "CM" ? "IOC" : "GTC";
        if (*tif != given)
            return "The server gives these orders the time in force \"" + std::string(given) + "\", not '" + *tif +
                   "' (TIME_IN_FORCE)";
    }
    if (type != "OM")
        for (const auto& [which, field] : {std::pair{P::RateStop, "RATE_STOP"}, std::pair{P::RateLimit, "RATE_LIMIT"}})
            if (param(p, which))
                return "The server takes RATE_STOP and RATE_LIMIT with market open orders only (" +
                       std::string(field) + ")";
    return std::nullopt;
}

// The stop and the limit a market open order asks for its trade (RATE_STOP, RATE_LIMIT), held
// against the market now as that trade's stop and limit would be.
std::optional<std::string> attachedRates(const MapContents& p, const Offer& offer, Ticket& t)
{
    for (const bool stop : {true, false})
    {
        const P which = stop ? P::RateStop : P::RateLimit;
        const std::string field = stop ? "RATE_STOP" : "RATE_LIMIT";
        if (!param(p, which))
            continue;
        const std::optional<double> rate = positiveNumber(p, which);
        if (!rate)
            return std::string("The ") + (stop ? "stop" : "limit") + " rate must be a positive number (" + field + ")";
        if (std::optional<std::string> refusal = protectionRefusal(stop, t.buy, *rate, offer, field))
            return refusal;
        (stop ? t.stopRate : t.limitRate) = *rate;
    }
    return std::nullopt;
}

// The server's checks of a CreateOrder on the account; the reason for a refusal, or nothing.
std::optional<std::string> validate(const MapContents& p, const Ref<TableManager>& manager, Ticket& t)
{
    const std::optional<std::string> type = textParam(p, P::OrderType);
    if (!type || type->empty())
        return std::string("The order type is not specified (ORDER_TYPE)");
    if (*type != "OM" && *type != "SE" && *type != "LE")
        return "The order type '" + *type + "' is not supported by the server";
    t.type = *type;
    const std::optional<std::string> offerId = textParam(p, P::OfferId);
    if (!offerId || offerId->empty())
        return std::string("The offer is not specified (OFFER_ID)");
    const std::optional<Offer> offer = findOffer(*offerId);
    if (!offer)
        return "Unknown offer '" + *offerId + "'";
    t.offerId = *offerId;
    const std::optional<std::string> accountId = textParam(p, P::AccountId);
    if (!accountId || accountId->empty())
        return std::string("The account is not specified (ACCOUNT_ID)");
    const std::optional<CellValues> account = t.book->find(K7RTable::Accounts, *accountId);
    if (!account)
        return "Unknown account '" + *accountId + "'";
    t.accountId = *accountId;
    const std::optional<std::string> side = textParam(p, P::BuySell);
    if (!side || (*side != "B" && *side != "S"))
        return "The side must be \"B\" or \"S\" (BUY_SELL), not '" + side.value_or("") + "'";
    t.buy = *side == "B";
    std::optional<double> amount;
    if (std::optional<std::string> refusal = amountRefusal(p, amount))
        return refusal;
    if (std::optional<std::string> refusal = checkQuantity(*offer, manager, *account, *amount))
        return refusal;
    t.amount = static_cast<int>(std::llround(*amount));
    if (t.type == "OM")
        return attachedRates(p, *offer, t);
    const std::optional<double> rate = positiveNumber(p, P::Rate);
    if (!rate)
        return std::string("An entry order needs a positive rate (RATE)");
    t.rate = *rate;
    return std::nullopt;
}

// An order on an open trade of the account (a close, a stop or a limit; `what` names it), into
// `t`: the trade's offer, account and amount, and the side opposite to the trade's. OFFER_ID,
// ACCOUNT_ID, BUY_SELL and AMOUNT, when given, must be the trade's (no partial closes).
std::optional<std::string> tradeOrder(const MapContents& p, const std::string& what, Ticket& t)
{
    const std::optional<std::string> tradeId = textParam(p, P::TradeId);
    if (!tradeId || tradeId->empty())
        return std::string("The trade is not specified (TRADE_ID)");
    const std::optional<CellValues> trade = t.book->find(K7RTable::Trades, *tradeId);
    if (!trade || !findOffer(textIn(*trade, "OfferID")) ||
        !t.book->find(K7RTable::Accounts, textIn(*trade, "AccountID")))
        return "Unknown trade '" + *tradeId + "'";
    t.tradeId = *tradeId;
    t.offerId = textIn(*trade, "OfferID");
    t.accountId = textIn(*trade, "AccountID");
    t.buy = textIn(*trade, "BuySell") != "B";
    t.amount = static_cast<int>(intIn(*trade, "Amount"));
    if (const std::optional<std::string> offer = textParam(p, P::OfferId); offer && *offer != t.offerId)
        return "The trade '" + t.tradeId + "' is of offer '" + t.offerId + "' (OFFER_ID)";
    if (const std::optional<std::string> account = textParam(p, P::AccountId); account && *account != t.accountId)
        return "The trade '" + t.tradeId + "' is of account '" + t.accountId + "' (ACCOUNT_ID)";
    if (const std::optional<std::string> side = textParam(p, P::BuySell); side && *side != (t.buy ? "B" : "S"))
        return what + " takes the side opposite to the trade's (BUY_SELL)";
    if (param(p, P::Amount))
    {
        std::optional<double> amount;
        if (std::optional<std::string> refusal = amountRefusal(p, amount))
            return refusal;
        if (*amount != t.amount)
            return std::string("Partial closes are not supported by the server (AMOUNT)");
    }
    return std::nullopt;
}

// A close order: ORDER_TYPE "CM" and the TRADE_ID of an open trade of the account. Its row goes
// in, and one fill delay later it closes the trade at the market.
void closeOrder(Session& session, const Request& request, const std::shared_ptr<AccountBook>& book)
{
    Ticket t;
    t.book = book;
    t.requestId = request.id();
    t.type = "CM";
    if (std::optional<std::string> refusal = tradeOrder(request.params, "A close order", t))
    {
        session.deliverRequestFailed(request.id(), *refusal);
        return;
    }
    const Offer offer = *findOffer(t.offerId);
    const CellValues account = *book->find(K7RTable::Accounts, t.accountId);
    t.orderId = nextOrderId();
    answerCreated(session, request, t.orderId);
    publish(*book, t.requestId,
            {{K7RTable::Orders, K7RTableUpdateType::Insert, t.orderId,
              orderCells(t, account, t.buy ? offer.ask : offer.bid, "E")}});
    world().dispatcher().postAfter(FillDelayMs, [t] { closeTrade(t); });
}

// A stop ("S") or a limit ("L") on an open trade of the account, at RATE: on its side of the
// market and far enough from it, one of each per trade. Its row goes in and the trade's Stop or
// Limit and StopOrderID or LimitOrderID take it, in one batch; it waits for its rate as the entry
// orders do.
void protectiveOrder(Session& session, const Request& request, const std::shared_ptr<AccountBook>& book, bool stop)
{
    const std::string kind = stop ? "stop" : "limit";
    Ticket t;
    t.book = book;
    t.requestId = request.id();
    t.type = stop ? "S" : "L";
    std::optional<std::string> refusal = tradeOrder(request.params, "A " + kind + " order", t);
    const std::optional<double> rate = positiveNumber(request.params, P::Rate);
    if (!refusal && !rate)
        refusal = "A " + kind + " order needs a positive rate (RATE)";
    if (!refusal)
        if (const std::string held = textIn(*book->find(K7RTable::Trades, t.tradeId), orderColumn(stop)); !held.empty())
            refusal = "The trade '" + t.tradeId + "' has a " + kind + " already, order '" + held +
                      "': change its rate with EditOrder (TRADE_ID)";
    if (!refusal)
        refusal = protectionRefusal(stop, !t.buy, *rate, *findOffer(t.offerId), "RATE");
    if (refusal)
    {
        session.deliverRequestFailed(request.id(), *refusal);
        return;
    }
    t.rate = *rate;
    t.orderId = nextOrderId();
    const CellValues account = *book->find(K7RTable::Accounts, t.accountId);
    answerCreated(session, request, t.orderId);
    publish(*book, t.requestId,
            {{K7RTable::Orders, K7RTableUpdateType::Insert, t.orderId, orderCells(t, account, t.rate, "W")},
             {K7RTable::Trades, K7RTableUpdateType::Update, t.tradeId,
              {{rateColumn(stop), t.rate}, {orderColumn(stop), t.orderId}}}});
    holdWaiting(t);
}

// An entry order waits for its rate; one already through it fills one fill delay later, as a
// market order would.
void checkLater(const std::string& offerId)
{
    world().dispatcher().postAfter(FillDelayMs, [offerId] {
        if (const std::optional<Offer> o = findOffer(offerId))
            checkWaiting({*o});
    });
}

void createOrder(Session& session, const Request& request, const std::shared_ptr<AccountBook>& book)
{
    const std::string type = textParam(request.params, P::OrderType).value_or("");
    if (std::optional<std::string> refusal = unsupported(request.params, type))
    {
        session.deliverRequestFailed(request.id(), *refusal);
        return;
    }
    if (type == "CM")
        return closeOrder(session, request, book);
    if (type == "S" || type == "L")
        return protectiveOrder(session, request, book, type == "S");
    Ticket t;
    t.book = book;
    t.requestId = request.id();
    if (std::optional<std::string> refusal = validate(request.params, SessionTables::instance().manager(session.simId()), t))
    {
        session.deliverRequestFailed(request.id(), *refusal);
        return;
    }
    t.orderId = nextOrderId();
    const std::optional<Offer> offer = findOffer(t.offerId);
    const std::optional<CellValues> account = book->find(K7RTable::Accounts, t.accountId);
    answerCreated(session, request, t.orderId);

    const double rate = t.type == "OM" ? (t.buy ? offer->ask : offer->bid) : t.rate;
    publish(*book, t.requestId,
            {{K7RTable::Orders, K7RTableUpdateType::Insert, t.orderId,
              orderCells(t, *account, rate, t.type == "OM" ? "E" : "W")}});
    if (t.type == "OM")
    {
        world().dispatcher().postAfter(FillDelayMs, [t] { fill(t); });
        return;
    }
    holdWaiting(t);
    checkLater(t.offerId);
}

// The waiting order of the account that ORDER_ID names, for a DeleteOrder or an EditOrder
// (`verb`: "delete", "change"). A market order executes at once: the server does neither to it.
std::optional<std::string> waitingRefusal(const MapContents& p, const std::shared_ptr<AccountBook>& book,
                                          const char* verb, std::optional<Ticket>& t)
{
    const std::optional<std::string> orderId = textParam(p, P::OrderId);
    if (!orderId || orderId->empty())
        return std::string("The order is not specified (ORDER_ID)");
    if ((t = waitingOrder(book, *orderId)))
        return std::nullopt;
    const std::optional<CellValues> row = book->find(K7RTable::Orders, *orderId);
    if (row && atMarket(textIn(*row, "Type")))
        return "The order '" + *orderId + "' is a market order: the server does not " + verb + " it (ORDER_ID)";
    return "Unknown order '" + *orderId + "'";
}

// Takes a waiting order out; a stop's or a limit's trade forgets it.
void deleteOrder(Session& session, const Request& request, const std::shared_ptr<AccountBook>& book)
{
    std::optional<Ticket> t;
    if (std::optional<std::string> refusal = waitingRefusal(request.params, book, "delete", t))
    {
        session.deliverRequestFailed(request.id(), *refusal);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(waiting().mutex);
        waiting().orders.erase(t->orderId);
    }
    answerDone(session, request);
    std::vector<Change> changes{{K7RTable::Orders, K7RTableUpdateType::Delete, t->orderId, {}}};
    if (onTrade(t->type))
        changes.push_back({K7RTable::Trades, K7RTableUpdateType::Update, t->tradeId,
                           {{rateColumn(t->type == "S"), 0.0}, {orderColumn(t->type == "S"), std::string()}}});
    publish(*book, request.id(), changes);
}

// A new RATE for a waiting order of the account, under the checks of its placing: an entry's rate
// positive, a stop's or a limit's on its side of the market and far enough from it. Only the rate
// changes. The order's row and, for a stop or a limit, its trade's Stop or Limit take it in one
// batch; an entry is checked against the market one fill delay later, as when it was placed.
void editOrder(Session& session, const Request& request, const std::shared_ptr<AccountBook>& book)
{
    std::optional<Ticket> t;
    std::optional<std::string> refusal = waitingRefusal(request.params, book, "change", t);
    if (!refusal)
        refusal = unsupported(request.params, t->type);
    if (!refusal && param(request.params, P::Amount))
    {
        std::optional<double> amount;
        refusal = amountRefusal(request.params, amount);
        if (!refusal && *amount != t->amount)
            refusal = "Changing the amount is not supported by the server (AMOUNT)";
    }
    const std::optional<double> rate = positiveNumber(request.params, P::Rate);
    if (!refusal && !rate)
        refusal = "The new rate must be a positive number (RATE)";
    const bool stop = t && t->type == "S";
    if (!refusal && onTrade(t->type))
        refusal = protectionRefusal(stop, !t->buy, *rate, *findOffer(t->offerId), "RATE");
    if (refusal)
    {
        session.deliverRequestFailed(request.id(), *refusal);
        return;
    }
    t->rate = *rate;
    holdWaiting(*t);
    answerDone(session, request);
    std::vector<Change> changes{{K7RTable::Orders, K7RTableUpdateType::Update, t->orderId,
                                 {{"Rate", t->rate}, {"StatusTime", world().clock().nowOle()}}}};
    if (onTrade(t->type))
        changes.push_back({K7RTable::Trades, K7RTableUpdateType::Update, t->tradeId, {{rateColumn(stop), t->rate}}});
    publish(*book, request.id(), changes);
    if (!onTrade(t->type))
        checkLater(t->offerId);
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
// data and level-2 book of the moment; disabled ("D") sends none. The session's offer row's
// SubscriptionStatus follows: offers are each session's own.
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
    {
        const std::vector<Change> changes{{K7RTable::Offers, K7RTableUpdateType::Update, *offerId,
                                           {{"SubscriptionStatus", *status}}}};
        sendToSession(session.simId(), request.id(), changes, {});
    }
}

// --- the price feed -----------------------------------------------------------------------------

// Runs while ticks are on, from the first login (or a change of the tick settings) until reset().
// A fork's child has none of the parent's timers: its feed starts again as the parent's did.
struct Feed
{
    std::mutex mutex;  // taken with nothing else
    bool running = false;
    std::uint64_t generation = 0;  // a restart makes older tick chains end

    Feed()
    {
        world();  // whose parts a fork takes after this one's
        aroundFork([this] { mutex.lock(); }, [this] { mutex.unlock(); },
                   [this] {
                       renewAfterFork(mutex);
                       running = false;
                   });
    }
};

Feed& feed()
{
    static Feed* f = new Feed;
    return *f;
}

// The desk's parts are made as the library loads: a fork during a first use would leave its making
// unfinished in the child, which would wait on it for good.
const bool deskReady = (ledger(), waiting(), feed(), true);

// The marks of an account's open trades on the offers whose price moved, applied to the account:
// per offer, its trades' Close, PL and GrossPL; then the account's row and those offers' summary
// rows, which follow them.
struct Marks
{
    std::map<std::string, std::vector<Change>> trades;  // by offer id
    std::vector<Change> rest;
};

Marks markToMarket(AccountBook& book, const std::vector<Offer>& moved)
{
    Marks out;
    std::vector<OpenTrade> open = openTrades(book, std::string());
    for (OpenTrade& t : open)
    {
        auto offer = std::find_if(moved.begin(), moved.end(), [&](const Offer& o) { return o.offerId == t.offer; });
        if (offer == moved.end())
            continue;
        const Mark m = markAt(t.buy, t.amount, t.openRate, *offer);
        t.grossPL = m.gross;
        t.closeCommission = planCommission(t.offer.c_str(), static_cast<int>(t.amount));
        out.trades[t.offer].push_back({K7RTable::Trades, K7RTableUpdateType::Update, t.tradeId,
                                       {{"Close", m.close},
                                        {"PL", m.pips},
                                        {"GrossPL", m.gross},
                                        {"CloseCommission", t.closeCommission}}});
    }
    const std::string accountId = book.accountId();
    const std::optional<CellValues> account = book.find(K7RTable::Accounts, accountId);
    if (out.trades.empty() || !account)
        return {};
    out.rest.push_back(accountChange(accountId, doubleIn(*account, "Balance"), open));
    for (const Offer& o : moved)
        if (out.trades.count(o.offerId))
            if (std::optional<Change> summary = summaryChange(book, o, open))
                out.rest.push_back(std::move(*summary));
    std::vector<Change> all;
    for (const auto& [offer, changes] : out.trades)
        all.insert(all.end(), changes.begin(), changes.end());
    all.insert(all.end(), out.rest.begin(), out.rest.end());
    book.apply(all);
    return out;
}

TableChange tableChange(const Change& c)
{
    TableChange tc;
    tc.table = c.table;
    tc.op = c.op;
    tc.key = c.key;
    tc.values = c.values;
    tc.onlyIfChanged = true;
    return tc;
}

// The offers whose published price changed (instrument indices; none when only the rows of some
// manager may still differ from the prices). Every account marks its trades on them; every loaded
// table manager gets one batch: an UPDATE of each offer row whose Bid or Ask is not the published
// price, each followed by the marks of its account's trades on that offer, then its account's row
// and summary rows; then the orders waiting on those offers are checked.
void pricesMoved(const std::vector<int>& moved)
{
    const std::vector<market::Instrument>& instruments = market::instruments();
    std::vector<Offer> offers;
    for (int i : moved)
        if (std::optional<Offer> o = findOffer(instruments[static_cast<std::size_t>(i)].offerId))
            offers.push_back(std::move(*o));
    std::map<std::string, std::shared_ptr<const Marks>> marks;  // by user
    if (!offers.empty())
        for (const std::shared_ptr<AccountBook>& book : Accounts::instance().all())
            if (Marks m = markToMarket(*book, offers); !m.trades.empty())
                marks[book->user()] = std::make_shared<const Marks>(std::move(m));
    std::vector<market::Price> prices;
    for (int i = 0; i < static_cast<int>(instruments.size()); ++i)
        prices.push_back(market::published(i));
    for (const SessionTables::Held& held : SessionTables::instance().managers())
    {
        if (!held.manager->loaded())
            continue;
        auto own = held.user && marks.count(*held.user) ? marks[*held.user] : nullptr;
        held.manager->submitBuilt([prices, own](TableManager& m) {
            std::vector<TableChange> batch;
            Table* offers = m.table(K7RTable::Offers);
            for (std::size_t i = 0; i < prices.size(); ++i)
            {
                const std::string offerId = market::instruments()[i].offerId;
                RowHold row = offers->find(offerId);
                if (row && (row->doubleOf("Bid") != prices[i].bid || row->doubleOf("Ask") != prices[i].ask))
                    batch.push_back(tableChange({K7RTable::Offers, K7RTableUpdateType::Update, offerId,
                                                 market::priceCells(prices[i])}));
                if (!own)
                    continue;
                if (auto trades = own->trades.find(offerId); trades != own->trades.end())
                    for (const Change& c : trades->second)
                        batch.push_back(tableChange(c));
            }
            if (own)
                for (const Change& c : own->rest)
                    batch.push_back(tableChange(c));
            return batch;
        });
    }
    if (!offers.empty())
        checkWaiting(offers);
}

void scheduleTick(std::uint64_t generation);

// One tick: each instrument's price from the path at the clock's time, published where it moved.
void tick(std::uint64_t generation)
{
    const market::Settings settings = market::settings();
    {
        std::lock_guard<std::mutex> lock(feed().mutex);
        if (generation != feed().generation)
            return;
        if (!settings.ticks)
        {
            feed().running = false;
            return;
        }
    }
    const std::int64_t now = world().clock().nowMs();
    std::vector<int> moved;
    for (int i = 0; i < static_cast<int>(market::instruments().size()); ++i)
    {
        const market::Price before = market::published(i);
        const market::Price after = market::tick(settings.seed, i, now, before);
        if (after.bid == before.bid && after.ask == before.ask)
            continue;
        market::publish(i, after);
        moved.push_back(i);
    }
    pricesMoved(moved);
    scheduleTick(generation);
}

void scheduleTick(std::uint64_t generation)
{
    world().dispatcher().postAfter(std::max<std::int64_t>(market::settings().tickMs, 1),
                                   [generation] { tick(generation); });
}

// A reset cancelled every timer: the feed starts again for managers still live.
struct FeedAtReset
{
    FeedAtReset()
    {
        world().onReset([] {
            {
                std::lock_guard<std::mutex> lock(feed().mutex);
                feed().running = false;
                ++feed().generation;
            }
            // Posted, so that it reads the settings every reset hook has restored.
            world().dispatcher().post([] {
                if (!SessionTables::instance().managers().empty())
                    startPriceFeed();
            });
        });
    }
} feedAtReset;

}  // namespace

void startPriceFeed()
{
    if (!market::settings().ticks)
        return;
    std::uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(feed().mutex);
        if (feed().running)
            return;
        feed().running = true;
        generation = ++feed().generation;
    }
    scheduleTick(generation);
}

void restartPriceFeed()
{
    const bool ticks = market::settings().ticks;
    std::uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(feed().mutex);
        generation = ++feed().generation;
        feed().running = ticks;
    }
    if (ticks)
        scheduleTick(generation);
}

bool movePrice(const std::string& offerId, double bid, double ask)
{
    const int i = market::findInstrument(offerId);
    if (i < 0)
        return false;
    const market::Price before = market::published(i);
    if (before.bid == bid && before.ask == ask)
        return true;
    market::publish(i, {bid, ask, std::max(before.high, bid), std::min(before.low, bid), world().clock().nowOle()});
    pricesMoved({i});
    return true;
}

void answerOrder(Session& session, const Ref<Request>& request)
{
    const Value* command = param(request->params, P::Command);
    const auto* name = command ? std::get_if<std::string>(command) : nullptr;
    if (!name || name->empty())
    {
        session.deliverRequestFailed(request->id(), std::string("The command is empty (COMMAND)"));
        return;
    }
    const std::shared_ptr<AccountBook> book = accountOf(session);
    if (!book)
    {
        session.deliverRequestFailed(request->id(), std::string("The session is not connected to the trading server"));
        return;
    }
    if (*name == "CreateOrder")
        return createOrder(session, *request, book);
    if (*name == "DeleteOrder")
        return deleteOrder(session, *request, book);
    if (*name == "EditOrder")
        return editOrder(session, *request, book);
    if (*name == "GetLastOrderUpdate")
        return lastOrderUpdate(session, *request);
    if (*name == "SetSubscriptionStatus")
        return setSubscription(session, *request);
    if (*name == "UpdateCommissions")
        return answerUpdateCommissions(session, *request);
    static const char* const Known[] = {"CreateOCO", "CreateOTO", "CreateOTOCO", "JoinToNewContingencyGroup",
                                        "JoinToExistingContingencyGroup", "RemoveFromContingencyGroup",
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
    // The session's tables when it has them, else the server's rows of its account.
    Ref<TableManager> manager = SessionTables::instance().manager(session.simId());
    const std::shared_ptr<AccountBook> book = accountOf(session);
    const bool known = !account ? true
                       : manager ? bool(manager->table(K7RTable::Accounts)->find(*account))
                                 : (book ? book->accountId() : std::string(market::DemoAccountId)) == *account;
    if (!known)
    {
        error = "Unknown account '" + *account + "'";
        return false;
    }
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
        source = serverRows(table, book.get());
    }
    out.type = table;
    out.columns = Ref<IK7RTableColumnCollection>::retain(plain);
    const char* key = keyColumnId(table);
    for (const CellValues& cells : source)
    {
        // Offers and messages belong to every account.
        const bool mine = !account || plain->indexOf("AccountID") < 0 || textIn(cells, "AccountID") == *account;
        if (mine)
            out.rows.push_back(Ref<IK7RRow>::adopt(rowOf(table, RowKind::Plain, cells, textIn(cells, key)).share()));
    }
    return true;
}

}  // namespace sim::velvix
