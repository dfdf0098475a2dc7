// The login's rules. Each operation is journaled as "IK7RLoginRules::<name>" and gives null under
// a "null" fault on it; isTableLoadedByDefault takes a "value" or "false" fault.
#include "LoginRules.h"

#include "SessionServices.h"

namespace sim::velvix
{

namespace
{
bool known(K7RTable table)
{
    const int t = static_cast<int>(table);
    return t >= 0 && t < 7;
}
}  // namespace

LoginRules::LoginRules(std::array<bool, 7> loaded, std::array<Ref<Response>, 7> refreshes, Ref<Response> properties)
    : RefCounted("IK7RLoginRules"), loaded_(loaded), refreshes_(std::move(refreshes)), properties_(std::move(properties))
{
}

bool LoginRules::isTableLoadedByDefault(K7RTable table)
{
    journal("velvix", "IK7RLoginRules::isTableLoadedByDefault", {number(table)});
    return answer("IK7RLoginRules::isTableLoadedByDefault",
                  known(table) && loaded_[static_cast<std::size_t>(table)]);
}

IK7RResponse* LoginRules::getTableRefreshResponse(K7RTable table)
{
    if (nullAnswer("IK7RLoginRules::getTableRefreshResponse", {number(table)}) || !known(table))
        return nullptr;
    return refreshes_[static_cast<std::size_t>(table)].share();
}

IK7RResponse* LoginRules::getSystemPropertiesResponse()
{
    if (nullAnswer("IK7RLoginRules::getSystemPropertiesResponse"))
        return nullptr;
    return properties_.share();
}

IK7RPermissionChecker* LoginRules::getPermissionChecker()
{
    if (nullAnswer("IK7RLoginRules::getPermissionChecker"))
        return nullptr;
    return makePermissionChecker();
}

IK7RTradingSettingsProvider* LoginRules::getTradingSettingsProvider()
{
    if (nullAnswer("IK7RLoginRules::getTradingSettingsProvider"))
        return nullptr;
    return makeTradingSettingsProvider();
}

}  // namespace sim::velvix
