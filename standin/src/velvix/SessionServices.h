// The services a session offers besides its tables and requests: the login's rules (made when a
// login connects, gone at logout), and the commissions and rollover providers, one of each per
// session, which load their data after each login. SessionServices keeps them by session id, as
// SessionTables keeps the table side. Also the one rule every service getter follows for answers
// a test scripts: a fault armed on the operation.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <type_traits>

#include "velvix/Velvix.h"

#include "core/Fork.h"
#include "core/Registry.h"
#include "core/World.h"

namespace sim::velvix
{

class LoginRules;
class CommissionsProvider;
class RolloverProvider;

// The operation's own answer, unless a fault is armed on it: a "value" fault gives its payload (an
// enum takes any integer), a "false" fault false, 0 or 0.0.
template <class T>
T answer(const char* op, T computed)
{
    const std::optional<Fault> fault = takeFault(op);
    if (!fault)
        return computed;
    if (fault->kind == FaultKind::False)
        return T{};
    if (fault->kind != FaultKind::Value)
        return computed;
    if constexpr (std::is_floating_point_v<T>)
        return static_cast<T>(fault->asDouble().value_or(0.0));
    else
        return static_cast<T>(fault->asInt().value_or(0));
}

// Journals the call as "<op>"; true when a "null" fault on it asks for a null object instead.
bool nullAnswer(const char* op, Values args = {});

// A cell of a row by its column identifier, read as any caller reads it: a double, an integer, a
// text or a flag by the column's type; nothing when the row has no such column.
Value cellOf(IK7RRow* row, const char* id);

// A new time converter (TimeConverter.cpp).
IK7RTimeConverter* makeTimeConverter();

// The time between two steps of a provider's load: the login server's delay between statuses.
std::int64_t serviceDelayMs();

class SessionServices
{
public:
    static SessionServices& instance();

    // The session connected as `user`: the login's rules are made (from the user's account) and
    // the providers start loading.
    void loggedIn(std::uint64_t session, const std::string& user);
    // The session disconnected or was lost: no rules, the providers back to idle.
    void loggedOut(std::uint64_t session);
    // The session is gone.
    void forget(std::uint64_t session);

    Ref<LoginRules> loginRules(std::uint64_t session) const;  // null outside a login
    Ref<CommissionsProvider> commissions(std::uint64_t session);
    Ref<RolloverProvider> rollover(std::uint64_t session);

    // The tables a login loads by default (K7RTable values); nullopt for all seven.
    void setLoginTables(std::optional<std::set<int>> tables);

private:
    SessionServices();
    struct Side
    {
        Ref<LoginRules> rules;
        Ref<CommissionsProvider> commissions;
        Ref<RolloverProvider> rollover;
    };
    Side& side(std::uint64_t session);  // under mutex_; made on first use
    void reset();

    mutable std::mutex mutex_;  // taken with nothing else but the registry's and the providers' own
    std::map<std::uint64_t, Side> sides_;
    std::optional<std::set<int>> loginTables_;
};

}  // namespace sim::velvix
