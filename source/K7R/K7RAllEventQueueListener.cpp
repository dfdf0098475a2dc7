// source/K7R/K7RAllEventQueueListener.cpp: the listener class AK7RAllEventQueueListener, through
// which a script hears of each event put into an all-events queue.
#include <boost/python.hpp>

#include "Constructors.h"
#include "K7R/K7RAllEventQueueListener.h"

namespace vexa2 { namespace python {

namespace {

const CallbackSite kPutInQueue{"on_put_in_queue", "AK7RAllEventQueueListener::on_put_in_queue",
                               "onPutInQueue", "source\\K7R\\K7RAllEventQueueListener", 15};

}  // namespace

void K7RAllEventQueueListenerHelper::onPutInQueue(IK7RAllEventQueueItem* item)
{
    forward(kPutInQueue, &K7RAllEventQueueListenerImpl::onPutInQueue, lent(item));
}

void K7RAllEventQueueListenerImpl::onPutInQueue(LibraryHandle<IK7RAllEventQueueItem> item)
{
    dispatch(kPutInQueue, item);
}

} }  // namespace vexa2::python

void exportAllEventQueueListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RAllEventQueueListenerImpl;
    using vexa2::python::checkedInit;

    const char* const reserved = "Reserved for future use.";
    bp::class_<K7RAllEventQueueListenerImpl, boost::shared_ptr<K7RAllEventQueueListenerImpl>,
               boost::noncopyable>
        listener("AK7RAllEventQueueListener", reserved,
                 checkedInit<K7RAllEventQueueListenerImpl>());
    vexa2::python::defCallback(listener, "on_put_in_queue",
                               &K7RAllEventQueueListenerImpl::onPutInQueue, reserved);
}
