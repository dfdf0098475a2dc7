// tests/native/test_column_names.cpp: the column-name tables against the list of each table's
// columns and the naming rule (so a mistyped pair cannot hide), and the lookups' corner cases:
// the cross-table search order, unknown tables, exact comparison.
#include "K7R/K7RColumnNames.h"
#include "Registrations.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

using vexa2::python::columnToPythonNames;
using vexa2::python::pythonToColumnNames;
using vexa2::python::toColumnName;
using vexa2::python::toPythonName;

namespace {

struct TableColumns
{
    int type;
    std::vector<std::string> rowColumns;    // the table's row
    std::vector<std::string> addedColumns;  // what its table row adds
};

// Each table's columns, as the library's table content lists them.
const std::vector<TableColumns> kTables = {
    {0,
        {"OfferID", "Instrument", "QuoteID", "Bid", "Ask", "Low", "High", "Volume", "Time",
         "BidTradable", "AskTradable", "SellInterest", "BuyInterest", "ContractCurrency",
         "Digits", "PointSize", "SubscriptionStatus", "InstrumentType", "ContractMultiplier",
         "TradingStatus", "ValueDate", "BidID", "AskID", "BidExpireDate", "AskExpireDate",
         "DividendSell", "DividendBuy"},
        {"PipCost", "BidChangeDirection", "AskChangeDirection", "HiChangeDirection",
         "LowChangeDirection", "DefaultSortOrder", "FractionalPipSize"}},
    {1,
        {"AccountID", "AccountName", "AccountKind", "Balance", "NonTradeEquity", "M2MEquity",
         "MarginCallFlag", "LastMarginCallDate", "MaintenanceType", "AmountLimit",
         "BaseUnitSize", "MaintenanceFlag", "ManagerAccountID", "LeverageProfileID",
         "HedgeMarginPCT", "ATPID", "ARPID"},
        {"UsedMargin", "UsedMargin3", "Equity", "DayPL", "UsableMargin", "GrossPL",
         "UsableMarginInPercentage", "UsableMaintMarginInPercentage"}},
    {2,
        {"OrderID", "RequestID", "Rate", "ExecutionRate", "RateMin", "RateMax", "TradeID",
         "AccountID", "AccountName", "OfferID", "NetQuantity", "BuySell", "Stage", "Type",
         "Status", "StatusTime", "Amount", "Lifetime", "AtMarket", "TrailStep", "TrailRate",
         "TimeInForce", "AccountKind", "RequestTXT", "ContingentOrderID", "ContingencyType",
         "PrimaryID", "OriginAmount", "FilledAmount", "WorkingIndicator", "PegType",
         "PegOffset", "PegOffsetMin", "PegOffsetMax", "ExpireDate", "ValueDate", "Parties",
         "Side"},
        {"Stop", "Limit", "StopOrderID", "LimitOrderID", "TypeStop", "TypeLimit",
         "StopTrailStep", "StopTrailRate"}},
    {3,
        {"TradeID", "AccountID", "AccountName", "AccountKind", "OfferID", "Amount", "BuySell",
         "OpenRate", "OpenTime", "OpenQuoteID", "OpenOrderID", "OpenOrderReqID",
         "OpenOrderRequestTXT", "Commission", "RolloverInterest", "TradeIDOrigin", "ValueDate",
         "Parties", "Dividends"},
        {"UsedMargin", "PL", "GrossPL", "Close", "Stop", "Limit", "StopOrderID", "LimitOrderID",
         "Instrument", "TrailRate", "TrailStep", "CloseCommission"}},
    {4,
        {"TradeID", "AccountID", "AccountName", "AccountKind", "OfferID", "Amount", "BuySell",
         "GrossPL", "Commission", "RolloverInterest", "OpenRate", "OpenQuoteID", "OpenTime",
         "OpenOrderID", "OpenOrderReqID", "OpenOrderRequestTXT", "OpenOrderParties",
         "CloseRate", "CloseQuoteID", "CloseTime", "CloseOrderID", "CloseOrderReqID",
         "CloseOrderRequestTXT", "CloseOrderParties", "TradeIDOrigin", "TradeIDRemain",
         "ValueDate", "Dividends"},
        {"PL", "Instrument", "NetPL"}},
    {5,
        {"MsgID", "Time", "From", "Type", "Feature", "Text", "Subject", "HTMLFragmentFlag"},
        {}},
    {6,
        {"OfferID", "DefaultSortOrder", "Instrument", "SellNetPL", "SellNetPLPip", "SellAmount",
         "SellAvgOpen", "BuyClose", "SellClose", "BuyAvgOpen", "BuyAmount", "BuyNetPL",
         "BuyNetPLPip", "Amount", "GrossPL", "NetPL", "RolloverInterestSum", "UsedMargin",
         "UsedMarginBuy", "UsedMarginSell", "Commission", "CloseCommission", "Dividends"},
        {}},
};

// The naming rule: "_" after a lower-case letter or digit before a capital, and between a run of
// capitals and a capital that starts a lower-case word; then everything lower-cased.
std::string snakeCase(const std::string& id)
{
    std::string out;
    for (std::size_t i = 0; i < id.size(); ++i)
    {
        const unsigned char c = id[i];
        if (i > 0 && std::isupper(c))
        {
            const unsigned char before = id[i - 1];
            const bool afterLowerOrDigit = std::islower(before) || std::isdigit(before);
            const bool endsCapitalRun = std::isupper(before) && i + 1 < id.size() &&
                                        std::islower(static_cast<unsigned char>(id[i + 1]));
            if (afterLowerOrDigit || endsCapitalRun)
                out += '_';
        }
        out += static_cast<char>(std::tolower(c));
    }
    return out;
}

std::string expectedName(const std::string& id)
{
    // The one pair the rule does not give ("m2_m_equity").
    return id == "M2MEquity" ? "m2_mequity" : snakeCase(id);
}

class ColumnNames : public testing::Test
{
protected:
    static void SetUpTestSuite() { initColumnNames(); }
};

TEST_F(ColumnNames, RuleGivesTheDocumentedExamples)
{
    const std::vector<std::pair<std::string, std::string>> examples = {
        {"SellNetPLPip", "sell_net_pl_pip"}, {"ATPID", "atpid"},
        {"HedgeMarginPCT", "hedge_margin_pct"}, {"UsedMargin3", "used_margin3"},
        {"OpenOrderRequestTXT", "open_order_request_txt"}, {"HTMLFragmentFlag", "html_fragment_flag"},
        {"TradeIDOrigin", "trade_id_origin"}, {"DayPL", "day_pl"}, {"M2MEquity", "m2_m_equity"}};
    for (const auto& [id, name] : examples)
        EXPECT_EQ(snakeCase(id), name) << id;
}

TEST_F(ColumnNames, EveryTableHoldsExactlyItsColumnsUnderTheRuleBothWays)
{
    ASSERT_EQ(columnToPythonNames.size(), kTables.size());
    ASSERT_EQ(pythonToColumnNames.size(), kTables.size());
    std::size_t pairs = 0;
    std::set<std::string> ids;
    std::set<std::string> names;
    for (const TableColumns& table : kTables)
    {
        SCOPED_TRACE("table " + std::to_string(table.type));
        vexa2::python::ColumnNameTable expectedToPython;
        vexa2::python::ColumnNameTable expectedToColumn;
        for (const auto* list : {&table.rowColumns, &table.addedColumns})
            for (const std::string& id : *list)
            {
                expectedToPython[id] = expectedName(id);
                expectedToColumn[expectedName(id)] = id;
                ids.insert(id);
                names.insert(expectedName(id));
                ++pairs;
            }
        EXPECT_EQ(columnToPythonNames.at(table.type), expectedToPython);
        EXPECT_EQ(pythonToColumnNames.at(table.type), expectedToColumn);
    }
    EXPECT_EQ(pairs, 198u);
    EXPECT_EQ(ids.size(), 142u);
    EXPECT_EQ(names.size(), 142u);
}

TEST_F(ColumnNames, FillingAgainLeavesTheSameContent)
{
    const auto toPython = columnToPythonNames;
    const auto toColumn = pythonToColumnNames;
    initColumnNames();
    EXPECT_EQ(columnToPythonNames, toPython);
    EXPECT_EQ(pythonToColumnNames, toColumn);
}

struct Lookup
{
    enum Direction { ToColumn, ToPython } direction;
    int table;
    std::string name;
    std::string expected;
};

class ColumnNameLookup : public ColumnNames, public testing::WithParamInterface<Lookup>
{
};

TEST_P(ColumnNameLookup, Gives)
{
    const Lookup& c = GetParam();
    const std::string result =
        c.direction == Lookup::ToColumn ? toColumnName(c.table, c.name) : toPythonName(c.table, c.name);
    EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ColumnNameLookup, testing::Values(
    Lookup{Lookup::ToColumn, 0, "offer_id", "OfferID"},
    Lookup{Lookup::ToColumn, 1, "offer_id", ""},
    Lookup{Lookup::ToColumn, 1, "m2_mequity", "M2MEquity"},
    // Identifiers and names live in separate maps.
    Lookup{Lookup::ToColumn, 0, "OfferID", ""},
    Lookup{Lookup::ToPython, 0, "offer_id", ""},
    // -1 asks every table: names of the offers (0) to the summary (6).
    Lookup{Lookup::ToColumn, -1, "instrument", "Instrument"},
    Lookup{Lookup::ToPython, -1, "PipCost", "pip_cost"},
    Lookup{Lookup::ToPython, -1, "M2MEquity", "m2_mequity"},
    Lookup{Lookup::ToColumn, -1, "m2_m_equity", ""},
    Lookup{Lookup::ToColumn, -1, "net_pl", "NetPL"},
    Lookup{Lookup::ToColumn, -1, "rollover_interest_sum", "RolloverInterestSum"},
    Lookup{Lookup::ToColumn, -1, "no_such_column", ""},
    // Only -1 searches across tables.
    Lookup{Lookup::ToColumn, 7, "offer_id", ""},
    Lookup{Lookup::ToColumn, -2, "offer_id", ""},
    Lookup{Lookup::ToPython, 7, "OfferID", ""},
    Lookup{Lookup::ToPython, -2, "OfferID", ""},
    // Exact, case-sensitive comparison.
    Lookup{Lookup::ToColumn, 5, "html_fragment_flag", "HTMLFragmentFlag"},
    Lookup{Lookup::ToColumn, 5, "Html_fragment_flag", ""},
    Lookup{Lookup::ToColumn, 5, "html_fragment_flaG", ""},
    Lookup{Lookup::ToColumn, 5, " html_fragment_flag", ""},
    Lookup{Lookup::ToPython, 0, "offerid", ""},
    Lookup{Lookup::ToColumn, 0, std::string("offer_id\0x", 10), ""},
    // An empty name is no name.
    Lookup{Lookup::ToColumn, 0, "", ""},
    Lookup{Lookup::ToColumn, -1, "", ""},
    Lookup{Lookup::ToPython, -1, "", ""},
    // "Close" is a trades column; closed trades have "CloseRate" but no "Close".
    Lookup{Lookup::ToPython, 3, "Close", "close"},
    Lookup{Lookup::ToPython, 4, "Close", ""},
    Lookup{Lookup::ToPython, 4, "CloseRate", "close_rate"}));

TEST_F(ColumnNames, FindColumnNameAgreesWithToColumnName)
{
    for (int table = -2; table <= 7; ++table)
        for (const char* name : {"offer_id", "instrument", "close", "m2_mequity", "", "nope"})
        {
            const std::string* found = vexa2::python::findColumnName(table, name);
            EXPECT_EQ(found ? *found : std::string(), toColumnName(table, name)) << table << " " << name;
        }
}

}  // namespace
