// The row classes and their shared cell store. Each typed row implements its interface's typed
// getters over the cells by column identifier; only the offer rows' validity flags have state of
// their own.
#include "Rows.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

#include "core/World.h"

namespace sim::velvix
{

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "cell words are read through narrower pointers");

namespace
{

std::uint64_t bitsOf(double d)
{
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

double doubleOfBits(std::uint64_t u)
{
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

std::optional<double> asReal(const Value& v)
{
    if (auto d = std::get_if<double>(&v))
        return *d;
    if (auto i = std::get_if<std::int64_t>(&v))
        return static_cast<double>(*i);
    if (auto b = std::get_if<bool>(&v))
        return *b ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<std::int64_t> asInteger(const Value& v)
{
    if (auto i = std::get_if<std::int64_t>(&v))
        return *i;
    if (auto b = std::get_if<bool>(&v))
        return *b ? 1 : 0;
    if (auto d = std::get_if<double>(&v))
        return static_cast<std::int64_t>(*d);
    return std::nullopt;
}

const char* const ValidityNames[RowState::ValidityFlags] = {
    "OfferId", "Instrument", "QuoteId", "Bid", "Ask", "Low", "High", "Volume", "Time", "BidTradable",
    "AskTradable", "SellInterest", "BuyInterest", "ContractCurrency", "Digits", "PointSize",
    "SubscriptionStatus", "InstrumentType", "ContractMultiplier", "TradingStatus", "ValueDate", "BidId", "AskId",
    "BidExpireDate", "AskExpireDate", "DividendSell", "DividendBuy", "BidChangeDirection", "AskChangeDirection",
    "HiChangeDirection", "LowChangeDirection", "DefaultSortOrder", "FractionalPipSize"};

std::string snake(const std::string& camel)
{
    std::string out;
    for (std::size_t i = 0; i < camel.size(); ++i)
    {
        const char c = camel[i];
        if (std::isupper(static_cast<unsigned char>(c)) && i > 0)
            out += '_';
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace

// --- the cell store ----------------------------------------------------------------------------

RowState::RowState(K7RTable type, RowKind kind, ColumnCollection* columns, bool hideColumns, IK7RRow* self,
                   Registered* registered, const RowState* from)
    : type_(type), kind_(kind), columns_(columns), hideColumns_(hideColumns), count_(columns->count()),
      cells_(new Cell[static_cast<std::size_t>(columns->count())]), self_(self), registered_(registered)
{
    columns_->simAddRef();
    if (from)
    {
        copyOf(*from);
        return;
    }
    for (auto& v : validity_)
        v.store(true, std::memory_order_relaxed);
    const double now = world().clock().nowOle();
    std::lock_guard<std::mutex> lock(writeMutex_);
    for (int i = 0; i < count_; ++i)
    {
        Cell& c = cells_[static_cast<std::size_t>(i)];
        c.type = columns_->typeAt(i);
        if (c.type == IK7RTableColumn::String)
            store(c, std::string());
        else if (c.type == IK7RTableColumn::Date)
            store(c, now);
    }
}

// No one sees this row before it is handed out, so its own stores need neither its lock nor
// ordering. Its texts are its own, since it may outlive `from`: one block, as they never change.
void RowState::copyOf(const RowState& from)
{
    {
        std::lock_guard<std::mutex> lock(from.writeMutex_);
        std::size_t size = 0;
        for (int i = 0; i < count_; ++i)
        {
            const Cell& source = from.cells_[static_cast<std::size_t>(i)];
            const std::uint64_t word = source.word.load(std::memory_order_relaxed);
            if (source.type == IK7RTableColumn::String && word != 0)
                size += std::strlen(reinterpret_cast<const char*>(word)) + 1;
        }
        ownTexts_.reset(size ? new char[size] : nullptr);
        char* next = ownTexts_.get();
        for (int i = 0; i < count_; ++i)
        {
            const Cell& source = from.cells_[static_cast<std::size_t>(i)];
            Cell& c = cells_[static_cast<std::size_t>(i)];
            c.type = source.type;
            std::uint64_t word = source.word.load(std::memory_order_relaxed);
            if (c.type == IK7RTableColumn::String && word != 0)
            {
                const char* text = reinterpret_cast<const char*>(word);
                const std::size_t length = std::strlen(text) + 1;
                std::memcpy(next, text, length);
                word = reinterpret_cast<std::uintptr_t>(next);
                next += length;
            }
            c.word.store(word, std::memory_order_relaxed);
            c.changed.store(source.changed.load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
    }
    for (std::size_t f = 0; f < validity_.size(); ++f)
        validity_[f].store(from.validity_[f].load(std::memory_order_relaxed), std::memory_order_relaxed);
    key_ = from.key_;
}

RowState::~RowState()
{
    columns_->simReleaseQuiet();
}

const void* RowState::cell(int index) const
{
    if (index < 0 || index >= count_)
        return nullptr;
    const Cell& c = cells_[static_cast<std::size_t>(index)];
    if (c.type == IK7RTableColumn::String)
        return reinterpret_cast<const char*>(c.word.load(std::memory_order_acquire));
    return &c.word;
}

bool RowState::changed(int index) const
{
    return index >= 0 && index < count_ && cells_[static_cast<std::size_t>(index)].changed.load(std::memory_order_relaxed);
}

IK7RTableColumnCollection* RowState::columns() const
{
    if (hideColumns_)
        return nullptr;
    columns_->simAddRef();
    return columns_;
}

bool RowState::store(Cell& c, const Value& value)
{
    std::uint64_t word = 0;
    switch (c.type)
    {
    case IK7RTableColumn::String:
        if (auto s = std::get_if<std::string>(&value))
            word = reinterpret_cast<std::uintptr_t>(texts_.insert(*s).first->c_str());
        break;  // anything else is no text
    case IK7RTableColumn::Double:
    case IK7RTableColumn::Date:
        word = bitsOf(asReal(value).value_or(0.0));
        break;
    case IK7RTableColumn::Integer:
        word = static_cast<std::uint32_t>(static_cast<std::int32_t>(asInteger(value).value_or(0)));
        break;
    case IK7RTableColumn::Boolean:
        word = asInteger(value).value_or(0) != 0 ? 1 : 0;
        break;
    default:  // never read by callers: keep the raw integer for the control face
        word = static_cast<std::uint64_t>(asInteger(value).value_or(0));
        break;
    }
    return c.word.exchange(word, std::memory_order_acq_rel) != word;
}

bool RowState::apply(const CellValues& values)
{
    std::vector<char> touched(static_cast<std::size_t>(count_), 0);
    bool any = false;
    {
        std::lock_guard<std::mutex> lock(writeMutex_);
        for (const auto& [id, value] : values)
        {
            const int index = columns_->indexOf(id);
            if (index < 0)
                continue;
            if (store(cells_[static_cast<std::size_t>(index)], value))
                touched[static_cast<std::size_t>(index)] = 1;
        }
    }
    for (int i = 0; i < count_; ++i)
    {
        cells_[static_cast<std::size_t>(i)].changed.store(touched[static_cast<std::size_t>(i)] != 0);
        any = any || touched[static_cast<std::size_t>(i)];
    }
    return any;
}

void RowState::set(int index, const Value& value)
{
    if (index < 0 || index >= count_)
        return;
    std::lock_guard<std::mutex> lock(writeMutex_);
    store(cells_[static_cast<std::size_t>(index)], value);
}

void RowState::setChanged(int index, bool flag)
{
    if (index >= 0 && index < count_)
        cells_[static_cast<std::size_t>(index)].changed.store(flag);
}

Value RowState::read(int index) const
{
    if (index < 0 || index >= count_)
        return {};
    const Cell& c = cells_[static_cast<std::size_t>(index)];
    const std::uint64_t word = c.word.load(std::memory_order_acquire);
    switch (c.type)
    {
    case IK7RTableColumn::String: return text(reinterpret_cast<const char*>(word));
    case IK7RTableColumn::Double:
    case IK7RTableColumn::Date: return doubleOfBits(word);
    case IK7RTableColumn::Integer: return static_cast<std::int64_t>(static_cast<std::int32_t>(word));
    case IK7RTableColumn::Boolean: return (word & 0xff) != 0;
    default: return static_cast<std::int64_t>(word);
    }
}

const char* RowState::textOf(const char* id) const
{
    const int index = columns_->indexOf(id);
    if (index < 0 || columns_->typeAt(index) != IK7RTableColumn::String)
        return nullptr;
    return static_cast<const char*>(cell(index));
}

double RowState::doubleOf(const char* id) const
{
    const int index = columns_->indexOf(id);
    if (index < 0)
        return 0.0;
    return asReal(read(index)).value_or(0.0);
}

int RowState::intOf(const char* id) const
{
    const int index = columns_->indexOf(id);
    if (index < 0)
        return 0;
    return static_cast<int>(asInteger(read(index)).value_or(0));
}

int validityFlag(const std::string& name)
{
    for (int i = 0; i < RowState::ValidityFlags; ++i)
    {
        const std::string stem = ValidityNames[i];
        if (name == "getIs" + stem + "Valid" || name == "is_" + snake(stem) + "_valid")
            return i;
    }
    return -1;
}

// --- the row classes ---------------------------------------------------------------------------

namespace
{

template <class I>
class RowImpl : public RefCounted<I>
{
public:
    RowImpl(const char* name, RowKind kind, K7RTable type, ColumnCollection* columns, bool hide, const RowState* from)
        : RefCounted<I>(name), state_(type, kind, columns, hide, this, this, from)
    {
    }
    RowState* state() { return &state_; }

    const void* getCell(int column) override { return state_.cell(column); }
    bool isCellChanged(int column) override { return state_.changed(column); }
    IK7RTableColumnCollection* getColumns() override { return state_.columns(); }
    K7RTable getTableType() override { return state_.tableType(); }

protected:
    ~RowImpl() override = default;
    RowState state_;
};

class GenericRow final : public RowImpl<IK7RRow>
{
public:
    using RowImpl::RowImpl;
};

template <class I>
class OfferOps : public RowImpl<I>
{
public:
    using RowImpl<I>::RowImpl;
    const char* getOfferID() override { return this->state_.textOf("OfferID"); }
    const char* getInstrument() override { return this->state_.textOf("Instrument"); }
    double getBid() override { return this->state_.doubleOf("Bid"); }
    double getAsk() override { return this->state_.doubleOf("Ask"); }
    int getDigits() override { return this->state_.intOf("Digits"); }
    double getPointSize() override { return this->state_.doubleOf("PointSize"); }
    bool getIsOfferIdValid() override { return this->state_.valid(0); }
    bool getIsInstrumentValid() override { return this->state_.valid(1); }
    bool getIsQuoteIdValid() override { return this->state_.valid(2); }
    bool getIsBidValid() override { return this->state_.valid(3); }
    bool getIsAskValid() override { return this->state_.valid(4); }
    bool getIsLowValid() override { return this->state_.valid(5); }
    bool getIsHighValid() override { return this->state_.valid(6); }
    bool getIsVolumeValid() override { return this->state_.valid(7); }
    bool getIsTimeValid() override { return this->state_.valid(8); }
    bool getIsBidTradableValid() override { return this->state_.valid(9); }
    bool getIsAskTradableValid() override { return this->state_.valid(10); }
    bool getIsSellInterestValid() override { return this->state_.valid(11); }
    bool getIsBuyInterestValid() override { return this->state_.valid(12); }
    bool getIsContractCurrencyValid() override { return this->state_.valid(13); }
    bool getIsDigitsValid() override { return this->state_.valid(14); }
    bool getIsPointSizeValid() override { return this->state_.valid(15); }
    bool getIsSubscriptionStatusValid() override { return this->state_.valid(16); }
    bool getIsInstrumentTypeValid() override { return this->state_.valid(17); }
    bool getIsContractMultiplierValid() override { return this->state_.valid(18); }
    bool getIsTradingStatusValid() override { return this->state_.valid(19); }
    bool getIsValueDateValid() override { return this->state_.valid(20); }
    bool getIsBidIdValid() override { return this->state_.valid(21); }
    bool getIsAskIdValid() override { return this->state_.valid(22); }
    bool getIsBidExpireDateValid() override { return this->state_.valid(23); }
    bool getIsAskExpireDateValid() override { return this->state_.valid(24); }
    bool getIsDividendSellValid() override { return this->state_.valid(25); }
    bool getIsDividendBuyValid() override { return this->state_.valid(26); }
};

class OfferRow final : public OfferOps<IK7ROfferRow>
{
public:
    using OfferOps::OfferOps;
};

class OfferTableRow final : public OfferOps<IK7ROfferTableRow>
{
public:
    using OfferOps::OfferOps;
    double getPipCost() override { return state_.doubleOf("PipCost"); }
    bool getIsBidChangeDirectionValid() override { return state_.valid(27); }
    bool getIsAskChangeDirectionValid() override { return state_.valid(28); }
    bool getIsHiChangeDirectionValid() override { return state_.valid(29); }
    bool getIsLowChangeDirectionValid() override { return state_.valid(30); }
    bool getIsDefaultSortOrderValid() override { return state_.valid(31); }
    bool getIsFractionalPipSizeValid() override { return state_.valid(32); }
};

template <class I>
class AccountOps : public RowImpl<I>
{
public:
    using RowImpl<I>::RowImpl;
    const char* getAccountID() override { return this->state_.textOf("AccountID"); }
    double getBalance() override { return this->state_.doubleOf("Balance"); }
};
class AccountRow final : public AccountOps<IK7RAccountRow>
{
public:
    using AccountOps::AccountOps;
};
class AccountTableRow final : public AccountOps<IK7RAccountTableRow>
{
public:
    using AccountOps::AccountOps;
    double getEquity() override { return state_.doubleOf("Equity"); }
    double getUsedMargin() override { return state_.doubleOf("UsedMargin"); }
};

template <class I>
class OrderOps : public RowImpl<I>
{
public:
    using RowImpl<I>::RowImpl;
    const char* getOrderID() override { return this->state_.textOf("OrderID"); }
    const char* getOfferID() override { return this->state_.textOf("OfferID"); }
    int getAmount() override { return this->state_.intOf("Amount"); }
};
class OrderRow final : public OrderOps<IK7ROrderRow>
{
public:
    using OrderOps::OrderOps;
};
class OrderTableRow final : public OrderOps<IK7ROrderTableRow>
{
public:
    using OrderOps::OrderOps;
    double getStop() override { return state_.doubleOf("Stop"); }
    double getLimit() override { return state_.doubleOf("Limit"); }
};

template <class I>
class TradeOps : public RowImpl<I>
{
public:
    using RowImpl<I>::RowImpl;
    const char* getTradeID() override { return this->state_.textOf("TradeID"); }
    const char* getOfferID() override { return this->state_.textOf("OfferID"); }
    int getAmount() override { return this->state_.intOf("Amount"); }
    double getOpenRate() override { return this->state_.doubleOf("OpenRate"); }
};
class TradeRow final : public TradeOps<IK7RTradeRow>
{
public:
    using TradeOps::TradeOps;
};
class TradeTableRow final : public TradeOps<IK7RTradeTableRow>
{
public:
    using TradeOps::TradeOps;
    double getPL() override { return state_.doubleOf("PL"); }
    double getClose() override { return state_.doubleOf("Close"); }
};

template <class I>
class ClosedTradeOps : public RowImpl<I>
{
public:
    using RowImpl<I>::RowImpl;
    const char* getTradeID() override { return this->state_.textOf("TradeID"); }
    double getCloseRate() override { return this->state_.doubleOf("CloseRate"); }
};
class ClosedTradeRow final : public ClosedTradeOps<IK7RClosedTradeRow>
{
public:
    using ClosedTradeOps::ClosedTradeOps;
};
class ClosedTradeTableRow final : public ClosedTradeOps<IK7RClosedTradeTableRow>
{
public:
    using ClosedTradeOps::ClosedTradeOps;
    double getNetPL() override { return state_.doubleOf("NetPL"); }
};

template <class I>
class MessageOps : public RowImpl<I>
{
public:
    using RowImpl<I>::RowImpl;
    const char* getMsgID() override { return this->state_.textOf("MsgID"); }
    const char* getText() override { return this->state_.textOf("Text"); }
};
class MessageRow final : public MessageOps<IK7RMessageRow>
{
public:
    using MessageOps::MessageOps;
};
class MessageTableRow final : public MessageOps<IK7RMessageTableRow>
{
public:
    using MessageOps::MessageOps;
};

template <class I>
class SummaryOps : public RowImpl<I>
{
public:
    using RowImpl<I>::RowImpl;
    const char* getOfferID() override { return this->state_.textOf("OfferID"); }
    double getAmount() override { return this->state_.doubleOf("Amount"); }
};
class SummaryRow final : public SummaryOps<IK7RSummaryRow>
{
public:
    using SummaryOps::SummaryOps;
};
class SummaryTableRow final : public SummaryOps<IK7RSummaryTableRow>
{
public:
    using SummaryOps::SummaryOps;
};

template <class R>
RowHold build(const char* name, RowKind kind, K7RTable type, ColumnCollection* columns, bool hide,
              const RowState* from)
{
    return RowHold::adopt((new R(name, kind, type, columns, hide, from))->state());
}

template <class Plain, class Full>
RowHold typed(const char* plainKind, const char* tableKind, RowKind kind, K7RTable type, ColumnCollection* columns,
              bool hide, const RowState* from)
{
    if (kind == RowKind::Table)
        return build<Full>(tableKind, kind, type, columns, hide, from);
    return build<Plain>(plainKind, RowKind::Plain, type, columns, hide, from);
}

// A new row of a kind: blank, or a copy of `from` (of that kind, type and columns).
RowHold makeOf(K7RTable type, RowKind kind, ColumnCollection* columns, bool hideColumns, const RowState* from)
{
    const int t = static_cast<int>(type);
    const bool known = t >= 0 && t <= 6;
    if (!columns)
        columns = known ? columnSet(type, kind != RowKind::Plain) : nullptr;
    if (!columns)
    {
        static ColumnCollection* none = new ColumnCollection({});  // shared, never released
        columns = none;
    }
    if (kind == RowKind::Generic || !known)
        return build<GenericRow>("IK7RRow", RowKind::Generic, type, columns, hideColumns, from);
    switch (type)
    {
    case K7RTable::Offers:
        return typed<OfferRow, OfferTableRow>("IK7ROfferRow", "IK7ROfferTableRow", kind, type, columns, hideColumns,
                                              from);
    case K7RTable::Accounts:
        return typed<AccountRow, AccountTableRow>("IK7RAccountRow", "IK7RAccountTableRow", kind, type, columns,
                                                  hideColumns, from);
    case K7RTable::Orders:
        return typed<OrderRow, OrderTableRow>("IK7ROrderRow", "IK7ROrderTableRow", kind, type, columns, hideColumns,
                                              from);
    case K7RTable::Trades:
        return typed<TradeRow, TradeTableRow>("IK7RTradeRow", "IK7RTradeTableRow", kind, type, columns, hideColumns,
                                              from);
    case K7RTable::ClosedTrades:
        return typed<ClosedTradeRow, ClosedTradeTableRow>("IK7RClosedTradeRow", "IK7RClosedTradeTableRow", kind, type,
                                                          columns, hideColumns, from);
    case K7RTable::Messages:
        return typed<MessageRow, MessageTableRow>("IK7RMessageRow", "IK7RMessageTableRow", kind, type, columns,
                                                  hideColumns, from);
    case K7RTable::Summary:
        return typed<SummaryRow, SummaryTableRow>("IK7RSummaryRow", "IK7RSummaryTableRow", kind, type, columns,
                                                  hideColumns, from);
    default:
        return build<GenericRow>("IK7RRow", RowKind::Generic, type, columns, hideColumns, from);
    }
}

}  // namespace

RowHold makeRow(K7RTable type, RowKind kind, ColumnCollection* columns, bool hideColumns)
{
    return makeOf(type, kind, columns, hideColumns, nullptr);
}

RowHold RowState::freeze() const
{
    return makeOf(type_, kind_, columns_, hideColumns_, this);
}

}  // namespace sim::velvix
