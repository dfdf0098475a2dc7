// source/K7R/K7RRolloverProviderListener.cpp: the AK7RRolloverProviderListener class, through which
// a script follows the rollover provider's status.
#include <boost/python.hpp>

#include <algorithm>

#include "Constructors.h"
#include "K7R/K7RRolloverProviderListener.h"
#include "K7R/K7RSessionServices.h"

namespace vexa2 { namespace python {

namespace {

const CallbackSite kStatusChanged{"on_status_changed", "AK7RRolloverProviderListener::on_status_changed",
                                  "onStatusChanged", "source\\K7R\\K7RRolloverProviderListener", 14};

}  // namespace

void K7RRolloverProviderListenerHelper::onStatusChanged(K7RRolloverStatus status)
{
    forward(&K7RRolloverProviderListenerImpl::onStatusChanged, status);
}

void K7RRolloverProviderListenerImpl::onStatusChanged(K7RRolloverStatus status)
{
    dispatch(kStatusChanged, status);
}

K7RRolloverProviderListenerImpl::~K7RRolloverProviderListenerImpl()
{
    if (m_providers.empty())
        return;
    // A provider waits in its unsubscribe for a delivery to this listener already under way: with
    // no owner left, that delivery does nothing, and it may need the interpreter lock to end.
    {
        GILGuard gil;
        helper()->detach();
    }
    PyThreadState* saved = holdsInterpreterLock() ? PyEval_SaveThread() : nullptr;
    // Newest first, as the library gives back a listener subscribed more than once.
    while (!m_providers.empty())
    {
        LibraryHandle<IK7RRolloverProvider> provider = std::move(m_providers.back());
        m_providers.pop_back();
        provider->unsubscribe(helper());
    }
    if (saved)
        restoreThread(saved);
}

void K7RRolloverProviderListenerImpl::subscribedTo(IK7RRolloverProvider* provider)
{
    provider->addRef();
    m_providers.push_back(makeLibraryHandle(provider));
}

void K7RRolloverProviderListenerImpl::unsubscribedFrom(IK7RRolloverProvider* provider)
{
    const auto held = std::find_if(m_providers.rbegin(), m_providers.rend(),
                                   [provider](const auto& p) { return p.get() == provider; });
    if (held != m_providers.rend())
        m_providers.erase(std::next(held).base());
}

} }  // namespace vexa2::python

void exportRolloverProviderListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RRolloverProviderListenerImpl;
    using vexa2::python::checkedInit;

    bp::class_<K7RRolloverProviderListenerImpl, boost::shared_ptr<K7RRolloverProviderListenerImpl>,
               boost::noncopyable>
        listener("AK7RRolloverProviderListener",
                 "The abstract class provides the method signature to process notifications about "
                 "rollover updating.",
                 checkedInit<K7RRolloverProviderListenerImpl>());
    vexa2::python::defCallback(listener, "on_status_changed",
                               &K7RRolloverProviderListenerImpl::onStatusChanged,
                               "The method processes notifications about rollover status updating.");
}
