// The seven tables' column sets with their types and key columns. Plain rows carry the first
// group of each table; table rows add the calculated columns after it.
#include "Columns.h"

#include <array>
#include <sstream>

namespace sim::velvix
{

namespace
{

// "Id:T" words: S text, D double, I integer, T date (OLE), B boolean.
struct TableLayout
{
    const char* key;
    const char* plain;
    const char* added;
};

const std::array<TableLayout, 7> Layouts{{
    {"OfferID",
     "OfferID:S Instrument:S QuoteID:S Bid:D Ask:D Low:D High:D Volume:I Time:T BidTradable:B AskTradable:B "
     "SellInterest:D BuyInterest:D ContractCurrency:S Digits:I PointSize:D SubscriptionStatus:S InstrumentType:I "
     "ContractMultiplier:I TradingStatus:S ValueDate:S BidID:S AskID:S BidExpireDate:T AskExpireDate:T "
     "DividendSell:D DividendBuy:D",
     "PipCost:D BidChangeDirection:I AskChangeDirection:I HiChangeDirection:I LowChangeDirection:I "
     "DefaultSortOrder:I FractionalPipSize:I"},
    {"AccountID",
     "AccountID:S AccountName:S AccountKind:S Balance:D NonTradeEquity:D M2MEquity:D MarginCallFlag:S "
     "LastMarginCallDate:T MaintenanceType:S AmountLimit:I BaseUnitSize:I MaintenanceFlag:B ManagerAccountID:S "
     "LeverageProfileID:S HedgeMarginPCT:D ATPID:S ARPID:S",
     "UsedMargin:D UsedMargin3:D Equity:D DayPL:D UsableMargin:D GrossPL:D UsableMarginInPercentage:D "
     "UsableMaintMarginInPercentage:D"},
    {"OrderID",
     "OrderID:S RequestID:S Rate:D ExecutionRate:D RateMin:D RateMax:D TradeID:S AccountID:S AccountName:S "
     "OfferID:S NetQuantity:B BuySell:S Stage:S Type:S Status:S StatusTime:T Amount:I Lifetime:D AtMarket:D "
     "TrailStep:I TrailRate:D TimeInForce:S AccountKind:S RequestTXT:S ContingentOrderID:S ContingencyType:I "
     "PrimaryID:S OriginAmount:I FilledAmount:I WorkingIndicator:B PegType:S PegOffset:D PegOffsetMin:D "
     "PegOffsetMax:D ExpireDate:T ValueDate:S Parties:S Side:I",
     "Stop:D Limit:D StopOrderID:S LimitOrderID:S TypeStop:I TypeLimit:I StopTrailStep:I StopTrailRate:D"},
    {"TradeID",
     "TradeID:S AccountID:S AccountName:S AccountKind:S OfferID:S Amount:I BuySell:S OpenRate:D OpenTime:T "
     "OpenQuoteID:S OpenOrderID:S OpenOrderReqID:S OpenOrderRequestTXT:S Commission:D RolloverInterest:D "
     "TradeIDOrigin:S ValueDate:S Parties:S Dividends:D",
     "UsedMargin:D PL:D GrossPL:D Close:D Stop:D Limit:D StopOrderID:S LimitOrderID:S Instrument:S TrailRate:D "
     "TrailStep:I CloseCommission:D"},
    {"TradeID",
     "TradeID:S AccountID:S AccountName:S AccountKind:S OfferID:S Amount:I BuySell:S GrossPL:D Commission:D "
     "RolloverInterest:D OpenRate:D OpenQuoteID:S OpenTime:T OpenOrderID:S OpenOrderReqID:S "
     "OpenOrderRequestTXT:S OpenOrderParties:S CloseRate:D CloseQuoteID:S CloseTime:T CloseOrderID:S "
     "CloseOrderReqID:S CloseOrderRequestTXT:S CloseOrderParties:S TradeIDOrigin:S TradeIDRemain:S ValueDate:S "
     "Dividends:D",
     "PL:D Instrument:S NetPL:D"},
    {"MsgID", "MsgID:S Time:T From:S Type:S Feature:S Text:S Subject:S HTMLFragmentFlag:B", ""},
    {"OfferID",
     "OfferID:S DefaultSortOrder:I Instrument:S SellNetPL:D SellNetPLPip:D SellAmount:D SellAvgOpen:D BuyClose:D "
     "SellClose:D BuyAvgOpen:D BuyAmount:D BuyNetPL:D BuyNetPLPip:D Amount:D GrossPL:D NetPL:D "
     "RolloverInterestSum:D UsedMargin:D UsedMarginBuy:D UsedMarginSell:D Commission:D CloseCommission:D "
     "Dividends:D",
     ""},
}};

int typeOf(char code)
{
    switch (code)
    {
    case 'D': return IK7RTableColumn::Double;
    case 'I': return IK7RTableColumn::Integer;
    case 'T': return IK7RTableColumn::Date;
    case 'B': return IK7RTableColumn::Boolean;
    default: return IK7RTableColumn::String;
    }
}

void parse(const char* words, const char* key, std::vector<ColumnSpec>& out)
{
    std::istringstream in(words);
    std::string word;
    while (in >> word)
    {
        const auto colon = word.find(':');
        ColumnSpec spec;
        spec.id = word.substr(0, colon);
        spec.type = typeOf(word[colon + 1]);
        spec.key = spec.id == key;
        out.push_back(std::move(spec));
    }
}

struct Sets
{
    std::array<ColumnCollection*, 7> plain{}, table{};
    Sets()
    {
        for (std::size_t t = 0; t < Layouts.size(); ++t)
        {
            std::vector<ColumnSpec> specs;
            parse(Layouts[t].plain, Layouts[t].key, specs);
            plain[t] = new ColumnCollection(specs);  // never released: shared for the process
            parse(Layouts[t].added, Layouts[t].key, specs);
            table[t] = new ColumnCollection(specs);
        }
    }
};

const Sets& sets()
{
    static const Sets* s = new Sets;
    return *s;
}

bool inRange(K7RTable table)
{
    const int t = static_cast<int>(table);
    return t >= 0 && t < static_cast<int>(Layouts.size());
}

}  // namespace

Column::Column(ColumnSpec spec) : RefCounted("IK7RTableColumn"), spec_(std::move(spec)) {}

ColumnCollection::ColumnCollection(const std::vector<ColumnSpec>& specs) : RefCounted("IK7RTableColumnCollection")
{
    columns_.reserve(specs.size());
    for (const ColumnSpec& spec : specs)
    {
        const int index = static_cast<int>(columns_.size());
        columns_.push_back(new Column(spec));
        firstIndex_.emplace(spec.id, index);  // keeps the first of duplicate ids
        if (spec.key && key_ < 0)
            key_ = index;
    }
}

ColumnCollection::~ColumnCollection()
{
    for (Column* c : columns_)
        c->simReleaseQuiet();
}

IK7RTableColumn* ColumnCollection::get(int index)
{
    if (index < 0 || index >= static_cast<int>(columns_.size()))
        return nullptr;
    Column* c = columns_[static_cast<std::size_t>(index)];
    c->simAddRef();
    return c;
}

IK7RTableColumn* ColumnCollection::find(const char* id)
{
    if (!id)
        return nullptr;
    const int index = indexOf(id);
    return index < 0 ? nullptr : get(index);
}

IK7RTableColumn* ColumnCollection::getKeyColumn()
{
    return key_ < 0 ? nullptr : get(key_);
}

int ColumnCollection::indexOf(const std::string& id) const
{
    auto it = firstIndex_.find(id);
    return it == firstIndex_.end() ? -1 : it->second;
}

ColumnCollection* columnSet(K7RTable table, bool tableRow)
{
    if (!inRange(table))
        return nullptr;
    const auto t = static_cast<std::size_t>(table);
    return tableRow ? sets().table[t] : sets().plain[t];
}

const char* keyColumnId(K7RTable table)
{
    return inRange(table) ? Layouts[static_cast<std::size_t>(table)].key : "";
}

}  // namespace sim::velvix
