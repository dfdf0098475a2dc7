// The historical-price library's factory statics. No communicator exists yet: creation gives
// null without an error; the proxy lands in the simulated world.
#include "plenta/Plenta.h"

#include "core/World.h"

namespace plenta
{

IPlentaCommunicator* PlentaCommunicatorFactory::createCommunicator(IK7RSession* session, const char* cachePath,
                                                                   IError** error)
{
    sim::journal("plenta", "PlentaCommunicatorFactory::createCommunicator",
                 {sim::flag(session != nullptr), sim::text(cachePath), sim::flag(error != nullptr)});
    return nullptr;
}

void PlentaCommunicatorFactory::setProxy(const char* host, int port, const char* user, const char* password)
{
    sim::journal("plenta", "PlentaCommunicatorFactory::setProxy",
                 {sim::text(host), sim::number(port), sim::text(user), sim::text(password)});
    auto opt = [](const char* s) { return s ? sim::Text(s) : sim::Text(); };
    sim::world().scenario().update([&](sim::ScenarioState& s) {
        s.plentaProxy = sim::ProxySettings{opt(host), opt(user), opt(password), port};
    });
}

}  // namespace plenta
