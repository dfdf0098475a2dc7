// The simulated server's request desk: it books every request made and sent, holds sent requests
// when a test asks it to, and answers them on the dispatcher thread through the session's
// response listeners, in the order the server produces the answers. sendRequest only books and
// schedules, so a caller never waits for a delivery. After finialize, requests fail on a thread
// of their own.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Requests.h"
#include "core/Registry.h"
#include "core/Scenario.h"

namespace sim::velvix
{

class Session;

struct RequestRecord
{
    std::string id;
    RequestKind kind = RequestKind::Order;
    std::uint64_t sessionId = 0;  // of the factory that made it
    MapContents params;  // an order's
    RequestInfo info;    // what any request asks, in plain values
};

class RequestServer
{
public:
    static RequestServer& instance();

    // The factory made (or filled in) a request.
    void created(const Request& request);
    void updated(const Request& request);
    // Session::sendRequest: books the request and answers it later, or holds it.
    void send(Session& session, IK7RRequest* request);

    // --- the control face ---
    void hold(bool on);
    bool holding() const;
    std::vector<RequestRecord> createdLog() const;
    std::vector<RequestRecord> sentLog() const;
    std::vector<RequestRecord> pending() const;
    // A held request answered as the server would, or failed with `error`; false when no request
    // with that id is held. The answer runs on the dispatcher.
    bool complete(const std::string& id);
    bool fail(const std::string& id, const Text& error);
    // The last error a factory reports after a scripted null (nullopt: its own text).
    std::optional<std::string> scriptedError() const;
    void scriptError(Text text);

    // Answers one request as the server would, or fails it with `error`; on the dispatcher
    // thread (RequestAnswers.cpp).
    // `sessionId` is the session it was sent through.
    static void answer(const Ref<Request>& request, std::uint64_t sessionId);
    static void answerFailed(const Ref<Request>& request, std::uint64_t sessionId, const Text& error);

private:
    RequestServer();
    static RequestRecord recordOf(const Request& request);
    void reset();
    void failHeld();
    struct Held
    {
        Ref<Request> request;
        std::uint64_t sessionId = 0;
    };
    bool take(const std::string& id, Held& out);

    static constexpr std::size_t LogCapacity = 10000;

    mutable std::mutex mutex_;  // taken with nothing else
    bool hold_ = false;
    std::deque<RequestRecord> created_, sent_;
    std::map<std::string, Held> pending_;
    std::vector<std::string> pendingOrder_;
    Text scriptedError_;
};

}  // namespace sim::velvix
