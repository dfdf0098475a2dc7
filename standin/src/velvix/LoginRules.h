// What the server told a session when its login connected: the tables it loaded by default, the
// refresh responses of those tables, the system properties, and through them the permission
// checker and the trading settings provider. A snapshot: later changes of the world leave it as
// it was.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "velvix/Velvix.h"

#include "Responses.h"
#include "core/Registry.h"

namespace sim::velvix
{

class LoginRules final : public RefCounted<IK7RLoginRules>
{
public:
    // `refreshes` by table (null where the login refreshed nothing); `properties` may be null.
    LoginRules(std::array<bool, 7> loaded, std::array<Ref<Response>, 7> refreshes, Ref<Response> properties);

    bool isTableLoadedByDefault(K7RTable table) override;
    IK7RResponse* getTableRefreshResponse(K7RTable table) override;
    IK7RResponse* getSystemPropertiesResponse() override;
    IK7RPermissionChecker* getPermissionChecker() override;
    IK7RTradingSettingsProvider* getTradingSettingsProvider() override;

    // The server's face: the system properties response of the login (may be null).
    const Ref<Response>& properties() const { return properties_; }

private:
    ~LoginRules() override = default;
    const std::array<bool, 7> loaded_;
    const std::array<Ref<Response>, 7> refreshes_;
    const Ref<Response> properties_;
};

// The login's answers to the two kinds of question (Permissions.cpp, TradingSettings.cpp).
IK7RPermissionChecker* makePermissionChecker();
IK7RTradingSettingsProvider* makeTradingSettingsProvider();

// The amounts an instrument trades in on an account, as the trading settings report them: whole
// lots of `lot` units from `minimum` to `maximum`. The account's BaseUnitSize and AmountLimit
// cells are given (0 when it has none); nullopt for an instrument the server does not quote.
struct Quantities
{
    int lot = 0;
    int minimum = 0;
    int maximum = 0;
};
std::optional<Quantities> quantities(const char* instrument, std::int64_t baseUnitSize, std::int64_t amountLimit);

// The least distances from the market, in pips, that the trading settings report for an
// instrument: of a trade's stop and limit, and of entry stops and limits; nullopt for an
// instrument the server does not quote.
struct Distances
{
    int stopForTrade = 0;
    int limitForTrade = 0;
    int entryStop = 0;
    int entryLimit = 0;
};
std::optional<Distances> distances(const char* instrument);

}  // namespace sim::velvix
