// source/K7R/K7RAllEventQueue.cpp: K7RAllEventQueue, the queue of every event of a table or of the
// whole table manager, and K7RAllEventQueueItem, one event as it is taken out of it.
#include <boost/python.hpp>

#include "K7R/K7RAllEventQueueListener.h"
#include "K7R/K7REventQueue.h"
#include "K7R/RowWrapping.h"
#include "ObjectHandles.h"

namespace bp = boost::python;
using namespace vexa2::python;

namespace {

using Members = EventQueueMembers<IK7RAllEventQueue, IK7RAllEventQueueItem,
                                  LibraryHandle<IK7RAllEventQueueItem>,
                                  &makeLibraryHandle<IK7RAllEventQueueItem>>;

bp::object itemRow(IK7RAllEventQueueItem& item)
{
    return rowToPythonObject(item.getRow());
}

}  // namespace

void exportAllEventQueue()
{
    registerQueueBreaker();
    bp::class_<IK7RAllEventQueue, boost::shared_ptr<IK7RAllEventQueue>, boost::noncopyable> queue(
        "K7RAllEventQueue", "Reserved for future use.", bp::no_init);
    Members::define<K7RAllEventQueueListenerImpl, true>(queue);
}

void exportAllEventQueueItem()
{
    const char* const reserved = "Reserved for future use.";
    using Item = IK7RAllEventQueueItem;
    bp::class_<Item, LibraryHandle<Item>, boost::noncopyable>("K7RAllEventQueueItem", reserved,
                                                              bp::no_init)
        .add_property("row", &itemRow, reserved)
        .add_property("event_type", &Item::getEventType, reserved)
        .add_property("process_status", &Item::getProcessStatus, reserved);
}
