// source/Plenta/InstrumentsUpdateCallback.cpp: timeframe_collection of PlentaCommunicator: the
// quotes cache's instrument list, loaded first when missing, turned into a timeframe collection.
#include "Plenta/InstrumentsUpdateCallback.h"

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <algorithm>
#include <cstring>

#include "CallPolicies.h"
#include "K7R/K7RTimeframe.h"
#include "LibraryErrors.h"
#include "Messages.h"
#include "ObjectHandles.h"
#include "Plenta/PlentaCommunicator.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

InstrumentsUpdateCallback::~InstrumentsUpdateCallback()
{
    if (m_error)
        m_error->release();
}

void InstrumentsUpdateCallback::onUpdateFailed(zorvat::ITask*, zorvat::IError* error)
{
    m_report.keep(m_error, error);
}

void InstrumentsUpdateCallback::onUpdateCompleted()
{
    m_report.finish();
}

void InstrumentsUpdateCallback::onUpdateCancelled()
{
    m_report.finish(true);
}

namespace {

// Runs the cache's update task and waits for its one report.
void updateInstruments(zorvat::IZorvat& zorvat)
{
    // The report comes on a library thread, maybe this one.
    refuseWaitOnLibraryThread();
    const LibraryHandle<InstrumentsUpdateCallback> callback =
        makeLibraryHandle(new InstrumentsUpdateCallback());
    zorvat::IError* error = nullptr;
    const LibraryHandle<zorvat::ITask> task =
        makeLibraryHandle(zorvat.createUpdateInstrumentsTask(callback.get(), &error));
    raiseZorvatError(error, true);
    // Without a task nothing will ever report: the same answer as a refused start.
    if (!task)
        raiseMessage(PyExc_Exception, msgUnknownError());
    error = nullptr;
    if (!zorvat.executeTask(task.get(), &error))
    {
        raiseZorvatError(error, true);
        // Refused without a reason: a report may never come, so there is nothing to wait for.
        raiseMessage(PyExc_Exception, msgUnknownError());
    }
    if (!callback->wait())
    {
        // Ctrl-C: the task goes, and the handles above give everything back as the error passes.
        zorvat.cancelTask(task.get());
        bp::throw_error_already_set();
    }
    if (callback->isCanceled())
        raiseMessage(PyExc_Exception, msgUpdateInstrumentsTaskCanceled());
    raiseZorvatError(callback->getError(), true);
}

// The identifiers of the instrument named exactly `name`, or null when none is listed.
zorvat::IStringList* instrumentTimeframes(zorvat::IZorvat& zorvat, const std::string& name)
{
    zorvat::IError* error = nullptr;
    const LibraryHandle<zorvat::IInstrumentList> instruments =
        makeLibraryHandle(zorvat.getInstruments(&error));
    raiseZorvatError(error, true);
    if (!instruments)
        return nullptr;
    for (int i = 0; i < instruments->size(); ++i)
    {
        const LibraryHandle<zorvat::IInstrument> instrument = makeLibraryHandle(instruments->get(i));
        if (!instrument)
            continue;
        const char* instrumentName = instrument->getName();
        if (instrumentName && name == instrumentName)
            return instrument->getTimeframes();
    }
    return nullptr;
}

}  // namespace

bp::object timeframeCollection(plenta::IPlentaCommunicator& communicator,
                               const bp::object& instrument)
{
    // Checked before the library is asked anything. The name is compared here, whole: not a text
    // for the library, so a NUL in it is no refusal.
    std::string name;
    const bool named = !instrument.is_none();
    if (named && PyUnicode_Check(instrument.ptr()))
    {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(instrument.ptr(), &size);
        if (!text)
            bp::throw_error_already_set();
        name.assign(text, static_cast<std::size_t>(size));
    }
    else if (named)
    {
        name = bp::extract<std::string>(instrument)();
    }

    const LibraryHandle<zorvat::IZorvat> zorvat = makeLibraryHandle(communicator.getZorvat());
    if (!zorvat)
        raiseMessage(PyExc_Exception, msgFailedToGetZorvat());

    zorvat::IError* error = nullptr;
    const bool loaded = zorvat->areInstrumentsLoaded(&error);
    raiseZorvatError(error, true);
    if (!loaded)
        updateInstruments(*zorvat);

    const LibraryHandle<K7RTimeframeCollection> collection =
        makeLibraryHandle(new K7RTimeframeCollection());

    // An instrument the cache does not list, or no list at all, gives an empty collection.
    const LibraryHandle<zorvat::IStringList> ids =
        makeLibraryHandle(named ? instrumentTimeframes(*zorvat, name) : zorvat->getTimeframes());

    const LibraryHandle<plenta::ITimeframeFactory> factory =
        makeLibraryHandle(communicator.getTimeframeFactory());
    if (!factory)
        raiseMessage(PyExc_Exception, msgTimeframeFactoryNull());

    for (int i = 0; ids && i < ids->size(); ++i)
    {
        plenta::IError* createError = nullptr;
        IK7RTimeframe* created = factory->create(ids->get(i), &createError);
        const LibraryHandle<IK7RTimeframe> timeframe = makeLibraryHandle(created);
        raisePlentaError(createError, true);
        collection->add(timeframe.get());
    }

    return bp::object(boost::shared_ptr<K7RTimeframeCollectionHelper>(
        new K7RTimeframeCollectionHelper(collection.get())));
}

} }  // namespace vexa2::python

K7RTimeframeCollection::~K7RTimeframeCollection()
{
    for (IK7RTimeframe* timeframe : m_timeframes)
        timeframe->release();
}

void K7RTimeframeCollection::add(IK7RTimeframe* timeframe)
{
    if (!timeframe)
        return;
    const char* id = timeframe->getId();
    const std::string key = id ? id : "";
    const auto found = m_byId.find(key);
    if (found != m_byId.end())
    {
        const auto entry = std::find(m_timeframes.begin(), m_timeframes.end(), found->second);
        if (entry != m_timeframes.end())
        {
            IK7RTimeframe* replaced = *entry;
            m_timeframes.erase(entry);
            replaced->release();
        }
    }
    m_byId[key] = timeframe;
    m_timeframes.push_back(timeframe);
    timeframe->addRef();
}

int K7RTimeframeCollection::size()
{
    return static_cast<int>(m_timeframes.size());
}

IK7RTimeframe* K7RTimeframeCollection::getById(const char* id)
{
    if (!id)
        return nullptr;
    const auto found = m_byId.find(id);
    if (found == m_byId.end())
        return nullptr;
    found->second->addRef();
    return found->second;
}

IK7RTimeframe* K7RTimeframeCollection::get(int index)
{
    if (index < 0 || index >= size())
        return nullptr;
    m_timeframes[index]->addRef();
    return m_timeframes[index];
}
