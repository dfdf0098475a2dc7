// source/K7R/K7RColumnNames.cpp: the column-name tables: each trading table's column identifiers
// mapped to the Python attribute names of its rows, both ways, and the lookups over them.
#include "K7R/K7RColumnNames.h"

#include <initializer_list>
#include <utility>

#include <velvix/Velvix.h>

#include "Registrations.h"

namespace vexa2 { namespace python {

// Created empty at load, before start-up fills them.
ColumnNameTables pythonToColumnNames;
ColumnNameTables columnToPythonNames;

namespace {

using ColumnPair = std::pair<const char*, const char*>;  // identifier, attribute name

// Replaces the table's two maps, so that filling again leaves the same content.
void fillTable(K7RTable table, std::initializer_list<ColumnPair> pairs)
{
    ColumnNameTable toPython;
    ColumnNameTable toColumn;
    for (const ColumnPair& pair : pairs)
    {
        toPython[pair.first] = pair.second;
        toColumn[pair.second] = pair.first;
    }
    const int key = static_cast<int>(table);
    columnToPythonNames[key] = std::move(toPython);
    pythonToColumnNames[key] = std::move(toColumn);
}

// Each table lists the columns of its row first, then those its table row adds. The names are
// the snake case of the identifiers, but for "M2MEquity", whose name is kept as the library
// has always spelt it.
void initAccountsColumnNames()
{
    fillTable(K7RTable::Accounts, {
        {"AccountID", "account_id"},
        {"AccountName", "account_name"},
        {"AccountKind", "account_kind"},
        {"Balance", "balance"},
        {"NonTradeEquity", "non_trade_equity"},
        {"M2MEquity", "m2_mequity"},
        {"MarginCallFlag", "margin_call_flag"},
        {"LastMarginCallDate", "last_margin_call_date"},
        {"MaintenanceType", "maintenance_type"},
        {"AmountLimit", "amount_limit"},
        {"BaseUnitSize", "base_unit_size"},
        {"MaintenanceFlag", "maintenance_flag"},
        {"ManagerAccountID", "manager_account_id"},
        {"LeverageProfileID", "leverage_profile_id"},
        {"HedgeMarginPCT", "hedge_margin_pct"},
        {"ATPID", "atpid"},
        {"ARPID", "arpid"},
        // Added by the table row.
        {"UsedMargin", "used_margin"},
        {"UsedMargin3", "used_margin3"},
        {"Equity", "equity"},
        {"DayPL", "day_pl"},
        {"UsableMargin", "usable_margin"},
        {"GrossPL", "gross_pl"},
        {"UsableMarginInPercentage", "usable_margin_in_percentage"},
        {"UsableMaintMarginInPercentage", "usable_maint_margin_in_percentage"},
    });
}

void initOffersColumnNames()
{
    fillTable(K7RTable::Offers, {
        {"OfferID", "offer_id"},
        {"Instrument", "instrument"},
        {"QuoteID", "quote_id"},
        {"Bid", "bid"},
        {"Ask", "ask"},
        {"Low", "low"},
        {"High", "high"},
        {"Volume", "volume"},
        {"Time", "time"},
        {"BidTradable", "bid_tradable"},
        {"AskTradable", "ask_tradable"},
        {"SellInterest", "sell_interest"},
        {"BuyInterest", "buy_interest"},
        {"ContractCurrency", "contract_currency"},
        {"Digits", "digits"},
        {"PointSize", "point_size"},
        {"SubscriptionStatus", "subscription_status"},
        {"InstrumentType", "instrument_type"},
        {"ContractMultiplier", "contract_multiplier"},
        {"TradingStatus", "trading_status"},
        {"ValueDate", "value_date"},
        {"BidID", "bid_id"},
        {"AskID", "ask_id"},
        {"BidExpireDate", "bid_expire_date"},
        {"AskExpireDate", "ask_expire_date"},
        {"DividendSell", "dividend_sell"},
        {"DividendBuy", "dividend_buy"},
        // Added by the table row.
        {"PipCost", "pip_cost"},
        {"BidChangeDirection", "bid_change_direction"},
        {"AskChangeDirection", "ask_change_direction"},
        {"HiChangeDirection", "hi_change_direction"},
        {"LowChangeDirection", "low_change_direction"},
        {"DefaultSortOrder", "default_sort_order"},
        {"FractionalPipSize", "fractional_pip_size"},
    });
}

void initOrdersColumnNames()
{
    fillTable(K7RTable::Orders, {
        {"OrderID", "order_id"},
        {"RequestID", "request_id"},
        {"Rate", "rate"},
        {"ExecutionRate", "execution_rate"},
        {"RateMin", "rate_min"},
        {"RateMax", "rate_max"},
        {"TradeID", "trade_id"},
        {"AccountID", "account_id"},
        {"AccountName", "account_name"},
        {"OfferID", "offer_id"},
        {"NetQuantity", "net_quantity"},
        {"BuySell", "buy_sell"},
        {"Stage", "stage"},
        {"Type", "type"},
        {"Status", "status"},
        {"StatusTime", "status_time"},
        {"Amount", "amount"},
        {"Lifetime", "lifetime"},
        {"AtMarket", "at_market"},
        {"TrailStep", "trail_step"},
        {"TrailRate", "trail_rate"},
        {"TimeInForce", "time_in_force"},
        {"AccountKind", "account_kind"},
        {"RequestTXT", "request_txt"},
        {"ContingentOrderID", "contingent_order_id"},
        {"ContingencyType", "contingency_type"},
        {"PrimaryID", "primary_id"},
        {"OriginAmount", "origin_amount"},
        {"FilledAmount", "filled_amount"},
        {"WorkingIndicator", "working_indicator"},
        {"PegType", "peg_type"},
        {"PegOffset", "peg_offset"},
        {"PegOffsetMin", "peg_offset_min"},
        {"PegOffsetMax", "peg_offset_max"},
        {"ExpireDate", "expire_date"},
        {"ValueDate", "value_date"},
        {"Parties", "parties"},
        {"Side", "side"},
        // Added by the table row.
        {"Stop", "stop"},
        {"Limit", "limit"},
        {"StopOrderID", "stop_order_id"},
        {"LimitOrderID", "limit_order_id"},
        {"TypeStop", "type_stop"},
        {"TypeLimit", "type_limit"},
        {"StopTrailStep", "stop_trail_step"},
        {"StopTrailRate", "stop_trail_rate"},
    });
}

void initTradesColumnNames()
{
    fillTable(K7RTable::Trades, {
        {"TradeID", "trade_id"},
        {"AccountID", "account_id"},
        {"AccountName", "account_name"},
        {"AccountKind", "account_kind"},
        {"OfferID", "offer_id"},
        {"Amount", "amount"},
        {"BuySell", "buy_sell"},
        {"OpenRate", "open_rate"},
        {"OpenTime", "open_time"},
        {"OpenQuoteID", "open_quote_id"},
        {"OpenOrderID", "open_order_id"},
        {"OpenOrderReqID", "open_order_req_id"},
        {"OpenOrderRequestTXT", "open_order_request_txt"},
        {"Commission", "commission"},
        {"RolloverInterest", "rollover_interest"},
        {"TradeIDOrigin", "trade_id_origin"},
        {"ValueDate", "value_date"},
        {"Parties", "parties"},
        {"Dividends", "dividends"},
        // Added by the table row.
        {"UsedMargin", "used_margin"},
        {"PL", "pl"},
        {"GrossPL", "gross_pl"},
        {"Close", "close"},
        {"Stop", "stop"},
        {"Limit", "limit"},
        {"StopOrderID", "stop_order_id"},
        {"LimitOrderID", "limit_order_id"},
        {"Instrument", "instrument"},
        {"TrailRate", "trail_rate"},
        {"TrailStep", "trail_step"},
        {"CloseCommission", "close_commission"},
    });
}

void initClosedTradesColumnNames()
{
    fillTable(K7RTable::ClosedTrades, {
        {"TradeID", "trade_id"},
        {"AccountID", "account_id"},
        {"AccountName", "account_name"},
        {"AccountKind", "account_kind"},
        {"OfferID", "offer_id"},
        {"Amount", "amount"},
        {"BuySell", "buy_sell"},
        {"GrossPL", "gross_pl"},
        {"Commission", "commission"},
        {"RolloverInterest", "rollover_interest"},
        {"OpenRate", "open_rate"},
        {"OpenQuoteID", "open_quote_id"},
        {"OpenTime", "open_time"},
        {"OpenOrderID", "open_order_id"},
        {"OpenOrderReqID", "open_order_req_id"},
        {"OpenOrderRequestTXT", "open_order_request_txt"},
        {"OpenOrderParties", "open_order_parties"},
        {"CloseRate", "close_rate"},
        {"CloseQuoteID", "close_quote_id"},
        {"CloseTime", "close_time"},
        {"CloseOrderID", "close_order_id"},
        {"CloseOrderReqID", "close_order_req_id"},
        {"CloseOrderRequestTXT", "close_order_request_txt"},
        {"CloseOrderParties", "close_order_parties"},
        {"TradeIDOrigin", "trade_id_origin"},
        {"TradeIDRemain", "trade_id_remain"},
        {"ValueDate", "value_date"},
        {"Dividends", "dividends"},
        // Added by the table row.
        {"PL", "pl"},
        {"Instrument", "instrument"},
        {"NetPL", "net_pl"},
    });
}

void initSummaryColumnNames()
{
    fillTable(K7RTable::Summary, {
        {"OfferID", "offer_id"},
        {"DefaultSortOrder", "default_sort_order"},
        {"Instrument", "instrument"},
        {"SellNetPL", "sell_net_pl"},
        {"SellNetPLPip", "sell_net_pl_pip"},
        {"SellAmount", "sell_amount"},
        {"SellAvgOpen", "sell_avg_open"},
        {"BuyClose", "buy_close"},
        {"SellClose", "sell_close"},
        {"BuyAvgOpen", "buy_avg_open"},
        {"BuyAmount", "buy_amount"},
        {"BuyNetPL", "buy_net_pl"},
        {"BuyNetPLPip", "buy_net_pl_pip"},
        {"Amount", "amount"},
        {"GrossPL", "gross_pl"},
        {"NetPL", "net_pl"},
        {"RolloverInterestSum", "rollover_interest_sum"},
        {"UsedMargin", "used_margin"},
        {"UsedMarginBuy", "used_margin_buy"},
        {"UsedMarginSell", "used_margin_sell"},
        {"Commission", "commission"},
        {"CloseCommission", "close_commission"},
        {"Dividends", "dividends"},
    });
}

void initMessagesColumnNames()
{
    fillTable(K7RTable::Messages, {
        {"MsgID", "msg_id"},
        {"Time", "time"},
        {"From", "from"},
        {"Type", "type"},
        {"Feature", "feature"},
        {"Text", "text"},
        {"Subject", "subject"},
        {"HTMLFragmentFlag", "html_fragment_flag"},
    });
}

const std::string* findIn(const ColumnNameTables& tables, int tableType, std::string_view name)
{
    if (tableType == -1)
    {
        for (const auto& table : tables)
        {
            const auto found = table.second.find(name);
            if (found != table.second.end())
                return &found->second;
        }
        return nullptr;
    }
    const auto table = tables.find(tableType);
    if (table == tables.end())
        return nullptr;
    const auto found = table->second.find(name);
    return found == table->second.end() ? nullptr : &found->second;
}

std::string stringOrEmpty(const std::string* found)
{
    return found ? *found : std::string();
}

}  // namespace

std::string toColumnName(int tableType, std::string name)
{
    return stringOrEmpty(findIn(pythonToColumnNames, tableType, name));
}

std::string toPythonName(int tableType, std::string id)
{
    return stringOrEmpty(findIn(columnToPythonNames, tableType, id));
}

const std::string* findColumnName(int tableType, std::string_view name)
{
    return findIn(pythonToColumnNames, tableType, name);
}

} }  // namespace vexa2::python

void initColumnNames()
{
    using namespace vexa2::python;
    initAccountsColumnNames();
    initOffersColumnNames();
    initOrdersColumnNames();
    initTradesColumnNames();
    initClosedTradesColumnNames();
    initSummaryColumnNames();
    initMessagesColumnNames();
}
