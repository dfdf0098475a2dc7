// source/K7R/K7RUpdatesProcessStatusListener.cpp: the listener class
// AK7RUpdatesProcessStatusListener, through which a script hears where each batch of table updates
// begins and ends.
#include <boost/python.hpp>

#include "Constructors.h"
#include "K7R/K7RUpdatesProcessStatusListener.h"

namespace vexa2 { namespace python {

namespace {

const CallbackSite kStatusChanged{
    "on_updates_process_status_changed",
    "AK7RUpdatesProcessStatusListener::on_updates_process_status_changed",
    "onUpdatesProcessStatusChanged", "source\\K7R\\K7RUpdatesProcessStatusListener", 15};

}  // namespace

void K7RUpdatesProcessStatusListenerHelper::onUpdatesProcessStatusChanged(
    K7RUpdatesProcessStatus status)
{
    forward(&K7RUpdatesProcessStatusListenerImpl::onUpdatesProcessStatusChanged, status);
}

void K7RUpdatesProcessStatusListenerImpl::onUpdatesProcessStatusChanged(
    K7RUpdatesProcessStatus status)
{
    dispatch(kStatusChanged, status);
}

} }  // namespace vexa2::python

void exportUpdatesProcessStatusListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RUpdatesProcessStatusListenerImpl;
    using vexa2::python::checkedInit;

    const char* const reserved = "Reserved for future use.";
    bp::class_<K7RUpdatesProcessStatusListenerImpl,
               boost::shared_ptr<K7RUpdatesProcessStatusListenerImpl>, boost::noncopyable>
        listener("AK7RUpdatesProcessStatusListener", reserved,
                 checkedInit<K7RUpdatesProcessStatusListenerImpl>());
    vexa2::python::defCallback(listener, "on_updates_process_status_changed",
                               &K7RUpdatesProcessStatusListenerImpl::onUpdatesProcessStatusChanged,
                               reserved);
}
