// The trading settings provider: the demo server's limits per instrument and account. FX pairs
// trade in lots of the account's base unit size (1,000 on the demo account) up to 50,000,000
// units; gold trades by the ounce and the index by the contract. Distances are in pips (the
// dealing desk holds stops and limits to the same figures), margins in the account currency per
// lot, with the three-level policy on every account. The markets trade around the clock.
// Trailing steps are the server's system properties. An instrument the server does not quote
// gives zeros and an undefined market status; a question about an account without one gives
// zeros too. Each operation is journaled as "IK7RTradingSettingsProvider::<name>" and takes a
// "value" or "false" fault as its answer.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <variant>

#include "LoginRules.h"
#include "Market.h"
#include "SessionServices.h"
#include "SystemProperties.h"

namespace sim::velvix
{

namespace
{

constexpr int ForexType = 1;
constexpr int ForexLot = 1000;            // units, when the account names none
constexpr int ForexMaximum = 50000000;    // units
constexpr double ForexMarginPerThousand = 25.0;
constexpr int MinTrailingStep = 10;       // pips, when the server sends no step
constexpr int MaxTrailingStep = 300;

struct Terms
{
    const char* symbol;
    int lot;          // 0: the account's base unit size
    int maximum;
    double mmrPerLot;
};

// The two instruments that do not trade in currency lots.
const Terms OwnUnits[] = {
    {"XAU/USD", 1, 10000, 100.0},  // by the troy ounce
    {"US30", 1, 5000, 190.0},      // by the contract
};

const market::Instrument* quoted(const char* instrument)
{
    if (!instrument)
        return nullptr;
    for (const market::Instrument& known : market::instruments())
        if (std::strcmp(known.symbol, instrument) == 0)
            return &known;
    return nullptr;
}

std::int64_t intCell(IK7RAccountRow* account, const char* id)
{
    const Value cell = cellOf(account, id);
    const std::int64_t* value = std::get_if<std::int64_t>(&cell);
    return value ? *value : 0;
}

// The terms of an instrument given the account's base unit size and amount limit (0: none).
std::optional<Terms> termsFor(const char* instrument, std::int64_t baseUnitSize, std::int64_t amountLimit)
{
    const market::Instrument* known = quoted(instrument);
    if (!known)
        return std::nullopt;
    Terms terms{known->symbol, 0, ForexMaximum, 0.0};
    for (const Terms& own : OwnUnits)
        if (std::strcmp(own.symbol, known->symbol) == 0)
            terms = own;
    if (known->instrumentType == ForexType || terms.lot == 0)
    {
        terms.lot = baseUnitSize > 0 ? static_cast<int>(baseUnitSize) : ForexLot;
        terms.mmrPerLot = ForexMarginPerThousand * terms.lot / 1000.0;
    }
    // An account's amount limit caps every trade.
    if (amountLimit > 0)
        terms.maximum = static_cast<int>(std::min<std::int64_t>(terms.maximum, amountLimit));
    return terms;
}

// The terms of an instrument on an account; nullopt when either is missing.
std::optional<Terms> termsOf(const char* instrument, IK7RAccountRow* account)
{
    if (!account)
        return std::nullopt;
    return termsFor(instrument, intCell(account, "BaseUnitSize"), intCell(account, "AmountLimit"));
}

// The distance of an instrument the server does not quote: none.
int distanceOf(const char* instrument, int Distances::*which)
{
    const std::optional<Distances> d = distances(instrument);
    return d ? (*d).*which : 0;
}

// A whole number the server sends as a property, or `otherwise`.
int propertyNumber(const char* name, int otherwise)
{
    const std::optional<Text> value = systemProperty(name);
    if (!value || !*value)
        return otherwise;
    try
    {
        std::size_t used = 0;
        const int number = std::stoi(**value, &used);
        return used == (*value)->size() ? number : otherwise;
    }
    catch (const std::exception&)
    {
        return otherwise;
    }
}

Values accountArgs(const char* instrument, IK7RAccountRow* account)
{
    return {text(instrument), text(account ? account->getAccountID() : nullptr)};
}

class TradingSettingsProvider final : public RefCounted<IK7RTradingSettingsProvider>
{
public:
    TradingSettingsProvider() : RefCounted("IK7RTradingSettingsProvider") {}

    int getCondDistStopForTrade(const char* instrument) override
    {
        return ask("IK7RTradingSettingsProvider::getCondDistStopForTrade", {text(instrument)},
                   distanceOf(instrument, &Distances::stopForTrade));
    }
    int getCondDistLimitForTrade(const char* instrument) override
    {
        return ask("IK7RTradingSettingsProvider::getCondDistLimitForTrade", {text(instrument)},
                   distanceOf(instrument, &Distances::limitForTrade));
    }
    int getCondDistEntryStop(const char* instrument) override
    {
        return ask("IK7RTradingSettingsProvider::getCondDistEntryStop", {text(instrument)},
                   distanceOf(instrument, &Distances::entryStop));
    }
    int getCondDistEntryLimit(const char* instrument) override
    {
        return ask("IK7RTradingSettingsProvider::getCondDistEntryLimit", {text(instrument)},
                   distanceOf(instrument, &Distances::entryLimit));
    }
    int getMinQuantity(const char* instrument, IK7RAccountRow* account) override
    {
        const auto terms = termsOf(instrument, account);
        return ask("IK7RTradingSettingsProvider::getMinQuantity", accountArgs(instrument, account),
                   terms ? terms->lot : 0);
    }
    int getMaxQuantity(const char* instrument, IK7RAccountRow* account) override
    {
        const auto terms = termsOf(instrument, account);
        return ask("IK7RTradingSettingsProvider::getMaxQuantity", accountArgs(instrument, account),
                   terms ? terms->maximum : 0);
    }
    int getBaseUnitSize(const char* instrument, IK7RAccountRow* account) override
    {
        const auto terms = termsOf(instrument, account);
        return ask("IK7RTradingSettingsProvider::getBaseUnitSize", accountArgs(instrument, account),
                   terms ? terms->lot : 0);
    }
    K7RMarketStatus getMarketStatus(const char* instrument) override
    {
        return ask("IK7RTradingSettingsProvider::getMarketStatus", {text(instrument)},
                   quoted(instrument) ? K7RMarketStatus::MarketStatusOpen : K7RMarketStatus::MarketStatusUndefined);
    }
    int getMinTrailingStep() override
    {
        return ask("IK7RTradingSettingsProvider::getMinTrailingStep", {},
                   propertyNumber("TRAILING_FLUCTUATE_PTS_MIN", MinTrailingStep));
    }
    int getMaxTrailingStep() override
    {
        return ask("IK7RTradingSettingsProvider::getMaxTrailingStep", {},
                   propertyNumber("TRAILING_FLUCTUATE_PTS_MAX", MaxTrailingStep));
    }
    // The level at which a margin call comes: the maintenance margin.
    double getMarginCallLevel(const char* instrument, IK7RAccountRow* account) override
    {
        const auto terms = termsOf(instrument, account);
        return ask("IK7RTradingSettingsProvider::getMarginCallLevel", accountArgs(instrument, account),
                   terms ? terms->mmrPerLot : 0.0);
    }
    double getMmr(const char* instrument, IK7RAccountRow* account) override
    {
        const auto terms = termsOf(instrument, account);
        return ask("IK7RTradingSettingsProvider::getMmr", accountArgs(instrument, account),
                   terms ? terms->mmrPerLot : 0.0);
    }
    // The entry level above the limitation level above the maintenance level. Without terms, or
    // under a "false" fault, false with nothing written.
    bool getMargins(const char* instrument, IK7RAccountRow* account, double& mmr, double& emr, double& lmr) override
    {
        const char* op = "IK7RTradingSettingsProvider::getMargins";
        const auto terms = termsOf(instrument, account);
        if (!ask(op, accountArgs(instrument, account), terms.has_value()))
            return false;
        mmr = terms ? terms->mmrPerLot : 0.0;
        emr = mmr * 1.5;
        lmr = mmr * 1.25;
        return true;
    }

private:
    ~TradingSettingsProvider() override = default;

    template <class T>
    static T ask(const char* op, Values args, T computed)
    {
        journal("velvix", op, std::move(args));
        return answer(op, computed);
    }
};

}  // namespace

std::optional<Quantities> quantities(const char* instrument, std::int64_t baseUnitSize, std::int64_t amountLimit)
{
    const std::optional<Terms> terms = termsFor(instrument, baseUnitSize, amountLimit);
    if (!terms)
        return std::nullopt;
    return Quantities{terms->lot, terms->lot, terms->maximum};
}

// The spread rounded up, for a trade's stops and limits; twice that for entry orders.
std::optional<Distances> distances(const char* instrument)
{
    const market::Instrument* known = quoted(instrument);
    if (!known)
        return std::nullopt;
    const int spread = static_cast<int>(std::ceil(known->spreadPips));
    return Distances{spread, spread, 2 * spread, 2 * spread};
}

IK7RTradingSettingsProvider* makeTradingSettingsProvider()
{
    return make<TradingSettingsProvider>().detach();
}

}  // namespace sim::velvix
