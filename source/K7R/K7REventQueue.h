// source/K7R/K7REventQueue.h: what K7RAllEventQueue and K7RUpdateEventQueue share: the members over
// the library's queue, which let the interpreter lock go while they wait, the breaker that ends a
// breakable wait, and the registration of the members in their order.
#pragma once

#include <boost/function.hpp>
#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <chrono>
#include <cstdint>
#include <optional>

#include "BreakableWait.h"
#include "CallPolicies.h"
#include "GILGuard.h"
#include "Subscription.h"
#include "Messages.h"

namespace vexa2 { namespace python {

// What breakable_wait_get calls between two tries, with the interpreter lock held: a Python
// callable taking nothing, whose result's truth says whether to go on waiting. None gives an
// empty breaker, which raises when called.
using K7RQueueBreaker = boost::function<bool()>;

// Registers the conversion of a Python callable (or None) to a breaker; once per process.
void registerQueueBreaker();

// deleteAllEvents wakes a queue's waiters once, with nothing. A wait made in slices may be between
// two of the library's waits just then (running a signal handler, maybe the very one that emptied
// the queue), and would miss it: the module counts the calls made through it per queue, and such
// a wait ends once its queue's count moved.
std::uint64_t queueEmptyings(const void* queue);
void countQueueEmptying(const void* queue);

// The members of a queue class over the library's `Queue`, whose items are `Item` pointers with one
// reference for the taker (or null). `Take` turns such an item into what goes back to Python;
// that conversion runs once the interpreter lock is back.
template <class Queue, class Item, class Taken, Taken (*Take)(Item*)>
struct EventQueueMembers
{
    static Taken tryGet(Queue& queue)
    {
        Item* item = nullptr;
        if (!queue.tryGet(item))
            raiseMessage(PyExc_ValueError, msgEventQueueEmpty());
        return Take(item);
    }

    // The waits are called with the lock held and let it go while the library waits (see
    // waitBreakably): Ctrl-C ends them with KeyboardInterrupt. Only a library wait that returns
    // takes an item, so an interrupted wait leaves the queue as it was.
    static bool waitSliced(Queue& queue, Item*& item, std::optional<std::chrono::milliseconds> limit)
    {
        const std::uint64_t emptied = queueEmptyings(&queue);
        const WaitOutcome outcome = waitBreakably(
            [&] { return queue.tryGet(item); },
            [&](std::optional<std::chrono::milliseconds> slice) {
                if (!slice)
                {
                    queue.waitGet(item);
                    return true;
                }
                if (queueEmptyings(&queue) != emptied)
                    return true;  // with nothing, as the library's wait would have come back
                return queue.timedWaitGet(item, static_cast<unsigned int>(slice->count()));
            },
            limit);
        if (outcome == WaitOutcome::raised)
            boost::python::throw_error_already_set();
        return outcome == WaitOutcome::over;
    }

    static Taken waitGet(Queue& queue)
    {
        Item* item = nullptr;
        waitSliced(queue, item, std::nullopt);
        return Take(item);
    }

    static Taken timedWaitGet(Queue& queue, unsigned int milliseconds)
    {
        Item* item = nullptr;
        if (!waitSliced(queue, item, std::chrono::milliseconds(milliseconds)))
            raiseMessage(PyExc_TimeoutError, msgTimeIsOut());
        return Take(item);
    }

    static void deleteAllEvents(Queue& queue)
    {
        queue.deleteAllEvents();
        countQueueEmptying(&queue);
    }

    // A busy poll: the lock is taken only around each round's signal check and breaker call.
    // A breaker that runs no Python code gives the interpreter no chance to run a signal
    // handler, so Ctrl-C is looked for here; seen only after the wait, it would lose the item.
    static Taken breakableWaitGet(Queue& queue, const K7RQueueBreaker& breaker)
    {
        Item* item = nullptr;
        while (!queue.tryGet(item))
        {
            bool goOn;
            {
                GILGuard gil;
                if (PyErr_CheckSignals() < 0)
                    boost::python::throw_error_already_set();
                goOn = breaker();
            }
            if (!goOn)
                return Take(nullptr);
        }
        return Take(item);
    }

    // Registers the members in their order. The all-events queue's try_get lets the lock go, the
    // update queue's keeps it.
    template <class Listener, bool TryGetWithoutLock, class Class>
    static void define(Class& cls)
    {
        const char* const reserved = "Reserved for future use.";
        cls.def("is_empty", &Queue::isEmpty, reserved);
        cls.def("delete_all_events", withoutGil(&deleteAllEvents), reserved);
        if constexpr (TryGetWithoutLock)
            cls.def("try_get", withoutGil(&tryGet), reserved);
        else
            cls.def("try_get", &tryGet, reserved);
        // Only the library's threads fill a queue: waiting on one of them would never end.
        cls.def("wait_get", &waitGet, refuse_on_library_thread_policy<>(), reserved);
        cls.def("breakable_wait_get", withoutGil(&breakableWaitGet),
                refuse_on_library_thread_policy<>(), reserved);
        cls.def("timed_wait_get", &timedWaitGet, refuse_on_library_thread_policy<>(), reserved);
        cls.def("subscribe_on_put_in_queue",
                &subscribeListener<&Queue::subscribeOnPutInQueue, Listener>,
                incref_arg_value_policy<1, Queue>(), reserved);
        cls.def("unsubscribe_on_put_in_queue",
                &unsubscribeListener<&Queue::unsubscribeOnPutInQueue, Listener>,
                decref_arg_value_policy<1, Queue>(), reserved);
        cls.add_property("belong_table_type", &Queue::getBelongTableType, reserved);
        cls.add_property("events_type", &Queue::getEventsType, reserved);
    }
};

} }  // namespace vexa2::python

// The queue classes, each registered by its own source.
void exportAllEventQueue();
void exportAllEventQueueItem();
void exportUpdateEventQueue();
