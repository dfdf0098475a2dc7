// source/K7R/K7RUpdateEventQueueListener.cpp: the listener class AK7RUpdateEventQueueListener,
// through which a script hears of each row put into an update queue.
#include <boost/python.hpp>

#include "Constructors.h"
#include "K7R/K7RUpdateEventQueueListener.h"
#include "K7R/LentRow.h"

namespace vexa2 { namespace python {

namespace {

const CallbackSite kPutInQueue{"on_put_in_queue", "AK7RUpdateEventQueueListener::on_put_in_queue",
                               "onPutInQueue", "source\\K7R\\K7RUpdateEventQueueListener", 15};

}  // namespace

void K7RUpdateEventQueueListenerHelper::onPutInQueue(IK7RRow* row)
{
    forward(kPutInQueue, &K7RUpdateEventQueueListenerImpl::onPutInQueue, LentRow{row});
}

void K7RUpdateEventQueueListenerImpl::onPutInQueue(const boost::python::object& row)
{
    dispatch(kPutInQueue, row);
}

} }  // namespace vexa2::python

void exportUpdateEventQueueListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RUpdateEventQueueListenerImpl;
    using vexa2::python::checkedInit;

    const char* const reserved = "Reserved for future use.";
    bp::class_<K7RUpdateEventQueueListenerImpl, boost::shared_ptr<K7RUpdateEventQueueListenerImpl>,
               boost::noncopyable>
        listener("AK7RUpdateEventQueueListener", reserved,
                 checkedInit<K7RUpdateEventQueueListenerImpl>());
    vexa2::python::defCallback(listener, "on_put_in_queue",
                               &K7RUpdateEventQueueListenerImpl::onPutInQueue, reserved);
}
