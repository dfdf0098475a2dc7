// simcore: the scripted state of the simulated server that the libraries' faces read and the
// control extension writes: transport settings as the library received them, the application
// identifier, the trading-session descriptors, the login server's users and answers. Later parts
// of the world (accounts, prices, history) join here. Defaults form a working demo server that
// needs no scripting.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Fork.h"

namespace sim
{

using Text = std::optional<std::string>;  // nullopt is a null text

struct ProxySettings
{
    Text host, user, password;
    std::optional<std::int64_t> port;
};

struct TransportSettings
{
    ProxySettings proxy;
    Text caInfo;
    std::optional<std::int64_t> reconnections;
    Text modulesPath;
    // The identifier's bytes, and the count getApplicationID reports when scripted apart from
    // them (a counted NUL, a short count, zero).
    std::string applicationId;
    std::optional<std::uint64_t> applicationIdReportedSize;
    std::int64_t closedHistorySize = 1000;
};

struct SessionDescriptorSpec
{
    Text id, name, description;
    bool requiresPin = false;
};

// How the server answers a login whose credentials it accepts.
enum class LoginOutcome
{
    Connect,               // CONNECTING, then CONNECTED
    Reject,                // CONNECTING, then a login failure and DISCONNECTED
    TradingSession,        // CONNECTING, then TRADING_SESSION_REQUESTED until one is chosen
    NeedToChangePassword   // CONNECTING, then CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD
};

struct SessionServer
{
    std::map<std::string, std::string> users{{"demo", "demo"}};  // user -> password
    std::int64_t loginDelayMs = 50;  // between two statuses of a login or logout
    LoginOutcome outcome = LoginOutcome::Connect;
    std::string rejectText = "Login rejected by the server";
    // Counts getToken / getReportUrl report instead of their own, one per call, any session.
    std::map<std::string, std::deque<int>, std::less<>> countScripts;
    std::optional<double> serverTime;          // nullopt: the clock
    std::map<std::string, std::string> tokens; // issued token -> user
};

// The trading server's system properties, in the order it sends them: (name, value), a value may
// be null.
using SystemPropertyList = std::vector<std::pair<std::string, Text>>;

// The demo account's set: the names that apply to it, with a demo server's values. The query
// depths are those of the server's timeframes (t1, m1, m5, m15, m30, H1, D1, W1, M1; H2 to H8).
inline SystemPropertyList demoSystemProperties()
{
    return {{"BASE_CRNCY", "USD"},
            {"BASE_UNIT_SIZE", "1000"},
            {"BASE_CRNCY_PRECISION", "2"},
            {"BASE_CRNCY_SYMBOL", "$"},
            {"BASE_TIME_ZONE", "EST"},
            {"COND_DIST", "0.1"},
            {"COND_DIST_ENTRY", "0.1"},
            {"END_TRADING_DAY", "17:00:00"},
            {"FORCE_PASSWORD_CHANGE", "N"},
            {"MARKET_OPEN", "Y"},
            {"QUERYDEPTH_0", "300"},
            {"QUERYDEPTH_1", "1440"},
            {"QUERYDEPTH_2", "2016"},
            {"QUERYDEPTH_3", "2880"},
            {"QUERYDEPTH_4", "1440"},
            {"QUERYDEPTH_5", "2160"},
            {"QUERYDEPTH_6", "3650"},
            {"QUERYDEPTH_7", "520"},
            {"QUERYDEPTH_8", "240"},
            {"QUERYDEPTH_h2", "2160"},
            {"QUERYDEPTH_h3", "2000"},
            {"QUERYDEPTH_h4", "2190"},
            {"QUERYDEPTH_h6", "1460"},
            {"QUERYDEPTH_h8", "1095"},
            {"SERVER_TIME_UTC", "Y"},
            {"SupportTickVolume", "Y"},
            {"TRAILING_DYNAMIC", "N"},
            {"TRAILING_FLUCTUATE", "N"},
            {"TRAILING_FLUCTUATE_PTS_MAX", "300"},
            {"TRAILING_FLUCTUATE_PTS_MIN", "10"},
            {"PEGGED_STOP_LIMIT_DISABLED", "Y"},
            {"FIRST_TICK_OPEN_PRICE_ENABLED", "N"}};
}

struct ScenarioState
{
    TransportSettings transport;
    ProxySettings plentaProxy;
    // nullopt: the session hands out no collection at all.
    std::optional<std::vector<SessionDescriptorSpec>> sessionDescriptors{std::vector<SessionDescriptorSpec>{}};
    SessionServer sessions;
    SystemPropertyList systemProperties = demoSystemProperties();
};

// A value guarded by its own lock; callers read a copy or change it inside update().
template <class T>
class Guarded
{
public:
    T get() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    template <class F>
    auto update(F&& f)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(value_);
    }
    template <class F>
    auto read(F&& f) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(static_cast<const T&>(value_));
    }
    void set(T v)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = std::move(v);
    }
    // For a part of the world, which lives as long as the process: its lock stays whole across a
    // fork (core/Fork.h).
    void keepWholeAcrossFork() { lockAcrossFork(mutex_); }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace sim
