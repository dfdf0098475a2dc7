// source/Plenta/PlentaCommunicator.cpp: the PlentaCommunicator class: history requests, their
// readers, listener subscriptions and the candle open price mode of the quotes cache behind it.
#include "Plenta/PlentaCommunicator.h"

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <string>

#include "CallPolicies.h"
#include "DateTime.h"
#include "K7R/K7RMarketDataSnapshotReader.h"
#include "LibraryErrors.h"
#include "Messages.h"
#include "ObjectHandles.h"
#include "Plenta/PlentaCommunicatorListener.h"
#include "Registrations.h"
#include "Subscription.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

double historyDate(const bp::object& date)
{
    return date.is_none() ? 0.0 : pythonToOleDate(date);
}

bp::object makeHistoryReader(plenta::IPlentaCommunicator& communicator,
                             plenta::IPlentaCommunicatorResponse* response)
{
    plenta::IError* error = nullptr;
    const LibraryHandle<IK7RMarketDataSnapshotResponseReader> reader =
        makeLibraryHandle(communicator.createResponseReader(response, &error));
    raisePlentaError(error, true);
    if (!reader)
        return bp::object();
    return bp::object(boost::shared_ptr<K7RMarketDataSnapshotResponseReaderHelper>(
        new K7RMarketDataSnapshotResponseReaderHelper(reader.get())));
}

} }  // namespace vexa2::python

namespace {

using namespace vexa2::python;
using plenta::IPlentaCommunicator;

bp::object createRequest(IPlentaCommunicator& communicator, const std::string& instrument,
                         IK7RTimeframe* timeframe, const bp::object& from, const bp::object& to,
                         int quotesCount)
{
    const double oleFrom = historyDate(from);
    const double oleTo = historyDate(to);
    plenta::IError* error = nullptr;
    const LibraryHandle<plenta::IPlentaCommunicatorRequest> request = makeLibraryHandle(
        communicator.createRequest(instrument.c_str(), timeframe, oleFrom, oleTo, quotesCount,
                                   &error));
    raisePlentaError(error, true);
    if (!request)
        return bp::object();
    return bp::object(request);
}

bp::object createResponseReader(IPlentaCommunicator& communicator,
                                plenta::IPlentaCommunicatorResponse* response)
{
    return makeHistoryReader(communicator, response);
}

bp::object timeframeFactory(IPlentaCommunicator& communicator)
{
    return wrapApiObject(communicator.getTimeframeFactory());
}

bp::object timeframes(IPlentaCommunicator& communicator, const bp::object& instrument)
{
    return timeframeCollection(communicator, instrument);
}

LibraryHandle<zorvat::IZorvat> requireZorvat(IPlentaCommunicator& communicator)
{
    LibraryHandle<zorvat::IZorvat> zorvat = makeLibraryHandle(communicator.getZorvat());
    if (!zorvat)
        raiseMessage(PyExc_Exception, msgFailedToGetZorvat());
    return zorvat;
}

K7RCandleOpenPriceMode candleOpenPriceMode(IPlentaCommunicator& communicator)
{
    return requireZorvat(communicator)->getCandleOpenPriceMode();
}

void setCandleOpenPriceMode(IPlentaCommunicator& communicator, K7RCandleOpenPriceMode mode)
{
    requireZorvat(communicator)->setCandleOpenPriceMode(mode);
}

}  // namespace

void exportPlentaCommunicator()
{
    exportPlentaCommunicatorListener();
    exportPlentaCommunicatorStatusListener();
    exportPlentaErrors();

    using Listener = PlentaCommunicatorListenerImpl;
    using StatusListener = PlentaCommunicatorStatusListenerImpl;
    using plenta::IPlentaCommunicatorListener;
    using plenta::IPlentaCommunicatorStatusListener;
    const char* const reserved = "Reserved for future use.";

    // Both long members take 2 to 5 positional arguments after the communicator.
    const auto historyArgs = [](int count) {
        return (bp::arg("instrument"), bp::arg("timeframe"), bp::arg("date_from") = bp::object(),
                bp::arg("date_to") = bp::object(), bp::arg("quotes_count") = count);
    };

    bp::class_<IPlentaCommunicator, LibraryHandle<IPlentaCommunicator>, boost::noncopyable>(
        "PlentaCommunicator", reserved, bp::no_init)
        .def("add_listener",
             &subscribeListener<&IPlentaCommunicator::addListener, Listener>,
             incref_arg_value_policy<1, IPlentaCommunicator>(), reserved)
        .def("remove_listener",
             &unsubscribeListener<&IPlentaCommunicator::removeListener, Listener>,
             decref_arg_value_policy<1, IPlentaCommunicator>(), reserved)
        .def("add_status_listener",
             &subscribeListener<&IPlentaCommunicator::addStatusListener, StatusListener>,
             incref_arg_value_policy<1, IPlentaCommunicator>(), reserved)
        .def("remove_status_listener",
             &unsubscribeListener<&IPlentaCommunicator::removeStatusListener, StatusListener>,
             decref_arg_value_policy<1, IPlentaCommunicator>(), reserved)
        .def("create_request", &createRequest, historyArgs(0), reserved)
        .def("get_history", &getHistory, historyArgs(-1), refuse_on_library_thread_policy<>(),
             reserved)
        // The error slot is the library's out-parameter: only None converts (a null address).
        .def("send_request", &IPlentaCommunicator::sendRequest, reserved)
        .def("cancel_request", &IPlentaCommunicator::cancelRequest, reserved)
        .def("is_ready", &IPlentaCommunicator::isReady, reserved)
        .def("create_response_reader", &createResponseReader, reserved)
        .add_property("timeframe_factory", &timeframeFactory, reserved)
        .def("timeframe_collection", &timeframes, (bp::arg("instrument") = bp::object()), reserved)
        .add_property("candle_open_price_mode", &candleOpenPriceMode, &setCandleOpenPriceMode,
                      reserved);
}
