// The trading library's process-wide transport functions. The settings land in the simulated
// world, where tests read them; every call is journaled with its null texts kept null.
#include "velvix/Velvix.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "EventQueues.h"
#include "Session.h"
#include "core/World.h"

namespace
{
constexpr const char* Lib = "velvix";

sim::Text optText(const char* s)
{
    return s ? sim::Text(s) : sim::Text();
}
}  // namespace

IK7RSession* CK7RTransport::createSession()
{
    sim::journal(Lib, "CK7RTransport::createSession");
    if (sim::world().finalized())
        return nullptr;
    if (auto fault = sim::takeFault("CK7RTransport::createSession"); fault && fault->kind == sim::FaultKind::Null)
        return nullptr;
    return new sim::velvix::Session();
}

void CK7RTransport::setProxy(const char* host, int port, const char* user, const char* password)
{
    sim::journal(Lib, "CK7RTransport::setProxy",
                 {sim::text(host), sim::number(port), sim::text(user), sim::text(password)});
    sim::world().scenario().update([&](sim::ScenarioState& s) {
        s.transport.proxy = sim::ProxySettings{optText(host), optText(user), optText(password), port};
    });
}

void CK7RTransport::setCAInfo(const char* caFilePath)
{
    sim::journal(Lib, "CK7RTransport::setCAInfo", {sim::text(caFilePath)});
    sim::world().scenario().update([&](sim::ScenarioState& s) { s.transport.caInfo = optText(caFilePath); });
}

void CK7RTransport::setNumberOfReconnections(int number)
{
    sim::journal(Lib, "CK7RTransport::setNumberOfReconnections", {sim::number(number)});
    sim::world().scenario().update([&](sim::ScenarioState& s) { s.transport.reconnections = number; });
}

void CK7RTransport::setTransportModulesPath(const char* path)
{
    sim::journal(Lib, "CK7RTransport::setTransportModulesPath", {sim::text(path)});
    sim::world().scenario().update([&](sim::ScenarioState& s) { s.transport.modulesPath = optText(path); });
}

void CK7RTransport::setApplicationID(const char* id)
{
    sim::journal(Lib, "CK7RTransport::setApplicationID", {sim::text(id)});
    sim::world().scenario().update([&](sim::ScenarioState& s) {
        s.transport.applicationId = id ? id : "";
        s.transport.applicationIdReportedSize.reset();
    });
}

// Two passes: a null buffer asks for the size; with a buffer, at most `size` bytes are written
// and `size` becomes the count reported, never more than the buffer holds. The count includes
// no terminating NUL unless a script says so.
void CK7RTransport::getApplicationID(char* buffer, size_t& size)
{
    sim::journal(Lib, "CK7RTransport::getApplicationID", {sim::flag(buffer != nullptr), sim::number(size)});
    const sim::TransportSettings t = sim::world().scenario().read([](const sim::ScenarioState& s) { return s.transport; });
    const std::size_t reported = t.applicationIdReportedSize ? *t.applicationIdReportedSize : t.applicationId.size();
    if (!buffer)
    {
        size = reported;
        return;
    }
    const std::size_t written = std::min(size, t.applicationId.size());
    std::memcpy(buffer, t.applicationId.data(), written);
    size = t.applicationIdReportedSize ? std::min(reported, size) : written;
}

void CK7RTransport::setClosedHistorySize(int size)
{
    sim::journal(Lib, "CK7RTransport::setClosedHistorySize", {sim::number(size)});
    sim::world().scenario().update([&](sim::ScenarioState& s) { s.transport.closedHistorySize = size; });
}

int CK7RTransport::getClosedHistorySize()
{
    sim::journal(Lib, "CK7RTransport::getClosedHistorySize");
    if (auto fault = sim::takeFault("CK7RTransport::getClosedHistorySize"))
        if (auto v = fault->asInt())
            return static_cast<int>(*v);
    return static_cast<int>(
        sim::world().scenario().read([](const sim::ScenarioState& s) { return s.transport.closedHistorySize; }));
}

// As a library that joins its delivery thread: the delivery in progress is waited for as long as
// it takes, so a caller that keeps what it needs (the interpreter lock) waits here for good rather
// than see it end after this returned. Called from a delivery, the thread ends after it.
void CK7RTransport::finialize()
{
    sim::journal(Lib, "CK7RTransport::finialize");
    sim::world().finalize(std::numeric_limits<int>::max());
    // No thread stays blocked on a queue of a library that has ended.
    sim::velvix::wakeAllQueues();
}
