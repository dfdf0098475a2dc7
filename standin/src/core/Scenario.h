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
#include <vector>

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

struct ScenarioState
{
    TransportSettings transport;
    ProxySettings plentaProxy;
    // nullopt: the session hands out no collection at all.
    std::optional<std::vector<SessionDescriptorSpec>> sessionDescriptors{std::vector<SessionDescriptorSpec>{}};
    SessionServer sessions;
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

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace sim
