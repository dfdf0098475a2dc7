// source/K7R/K7RLoginRules.cpp: the K7RLoginRules class: what a session offers right after login,
// the tables loaded then and the login's responses, the permission checker and the trading
// settings provider.
#include <boost/python.hpp>

#include <velvix/Velvix.h>

#include "ObjectHandles.h"
#include "Registrations.h"

namespace {

using namespace vexa2::python;
using R = IK7RLoginRules;

LibraryHandle<IK7RResponse> tableRefreshResponse(R& rules, K7RTable table)
{
    return makeLibraryHandle(rules.getTableRefreshResponse(table));
}

LibraryHandle<IK7RResponse> systemPropertiesResponse(R& rules)
{
    return makeLibraryHandle(rules.getSystemPropertiesResponse());
}

LibraryHandle<IK7RPermissionChecker> permissionChecker(R& rules)
{
    return makeLibraryHandle(rules.getPermissionChecker());
}

LibraryHandle<IK7RTradingSettingsProvider> tradingSettingsProvider(R& rules)
{
    return makeLibraryHandle(rules.getTradingSettingsProvider());
}

}  // namespace

void exportLoginRules()
{
    namespace bp = boost::python;
    bp::class_<R, LibraryHandle<R>, boost::noncopyable>(
        "K7RLoginRules",
        "Information about the rules used during the login in the currently established session.",
        bp::no_init)
        .def("is_table_loaded_by_default", &R::isTableLoadedByDefault,
             "Checks whether the table was loaded during the login.")
        .def("get_table_refresh_response", &tableRefreshResponse,
             "Gets a response for the table refresh command automatically executed during the "
             "login.")
        .add_property("system_properties_response", &systemPropertiesResponse,
                      "Gets a response for the system properties received during the login.")
        .add_property("permission_checker", &permissionChecker,
                      "Gets an instance of the permission checker.")
        .add_property("trading_settings_provider", &tradingSettingsProvider,
                      "Gets an instance of the trading settings provider.");
}
