// The historical-price library's factory statics: a communicator bound to a session, which gets
// ready one step after creation when the session is logged in, or reports an init failure one
// step after it otherwise; the proxy lands in the simulated world.
#include "plenta/Plenta.h"

#include "plenta/Errors.h"

#include "Communicator.h"
#include "core/World.h"
#include "velvix/Session.h"

namespace plenta
{

namespace
{

bool loggedIn(IK7RSession* session)
{
    const auto status = session->getSessionStatus();
    return status == IK7RSessionStatus::Connected || status == IK7RSessionStatus::ConnectedWithNeedToChangePassword;
}

// Pending steps find their communicator again by id and do nothing when it is gone.
sim::Ref<plenta_sim::Communicator> find(std::uint64_t id)
{
    return sim::Ref<plenta_sim::Communicator>::adopt(sim::world().registry().acquire<plenta_sim::Communicator>(id));
}

}  // namespace

IPlentaCommunicator* PlentaCommunicatorFactory::createCommunicator(IK7RSession* session, const char* cachePath,
                                                                   IError** error)
{
    sim::journal("plenta", "PlentaCommunicatorFactory::createCommunicator",
                 {sim::flag(session != nullptr), sim::text(cachePath), sim::flag(error != nullptr)});
    if (plenta_sim::scriptedFailure("createCommunicator", error))
        return nullptr;
    if (!session)
    {
        if (error)
            *error = plenta_sim::makeError(IError::BAD_ARGUMENTS, "The session is null");
        return nullptr;
    }
    auto* ours = dynamic_cast<sim::velvix::Session*>(session);
    const bool online = loggedIn(session);
    sim::Ref<plenta_sim::Communicator> c =
        sim::make<plenta_sim::Communicator>(ours ? ours->simId() : 0, cachePath);
    const std::uint64_t id = c->simId();
    if (online)
        sim::world().dispatcher().postAfter(plenta_sim::ReadyDelayMs, [id] {
            if (sim::Ref<plenta_sim::Communicator> c = find(id))
            {
                c->setReady(true);
                c->deliverStatus(true);
            }
        });
    else  // one step later too, so that a listener added right after creation hears it
        sim::world().dispatcher().postAfter(plenta_sim::ReadyDelayMs, [id] {
            if (sim::Ref<plenta_sim::Communicator> c = find(id))
            {
                sim::Ref<IError> e = sim::Ref<IError>::adopt(
                    plenta_sim::makeError(IError::NOT_READY, "The session is not logged in"));
                c->deliverInitFailed(e.get());
            }
        });
    return c.detach();
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
