// source/K7R/K7RRequest.cpp: the request classes: K7RRequest, K7RValueMap and K7RRequestFactory, with
// which a script builds what it sends.
#include "K7R/K7RRequest.h"

#include <boost/make_shared.hpp>
#include <boost/python.hpp>

#include <cstddef>
#include <string>

#include "DateTime.h"
#include "K7R/K7RTimeframe.h"
#include "Messages.h"
#include "ObjectHandles.h"
#include "ObjectIteratorContainer.h"
#include "Registrations.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

K7RRequestHelper::K7RRequestHelper(IK7RRequest* request) : m_request(request)
{
    if (m_request)
        m_request->addRef();
}

K7RRequestHelper::~K7RRequestHelper()
{
    if (m_request)
        m_request->release();
}

const char* K7RRequestHelper::getRequestId() const
{
    return m_request ? m_request->getRequestId() : nullptr;
}

int K7RRequestHelper::getChildrenCount() const
{
    return m_request ? m_request->getChildrenCount() : 0;
}

void deleteRequestHelper(K7RRequestHelper* helper)
{
    delete helper;
}

boost::shared_ptr<K7RRequestHelper> wrapRequest(IK7RRequest* returned)
{
    if (!returned)
        return boost::shared_ptr<K7RRequestHelper>();
    // Gives the returned reference back on every way out; the wrapper keeps its own.
    const LibraryHandle<IK7RRequest> returnedReference = makeLibraryHandle(returned);
    return boost::shared_ptr<K7RRequestHelper>(new K7RRequestHelper(returned), &deleteRequestHelper);
}

} }  // namespace vexa2::python

namespace {

using namespace vexa2::python;

// None would reach the library as a null object it has no use for; refused before any call.
template <class T>
T& required(T* object, const char* what)
{
    if (!object)
        raiseMessage(PyExc_ValueError, std::string("The ") + what + " must not be None");
    return *object;
}

// --- K7RRequest ---------------------------------------------------------------------------------

boost::shared_ptr<K7RRequestHelper> getChildRequest(const K7RRequestHelper& request, int index)
{
    if (!request.request())
        return boost::shared_ptr<K7RRequestHelper>();
    return wrapRequest(request.request()->getChildRequest(index));
}

std::size_t childCount(IK7RRequest* request)
{
    return request ? static_cast<std::size_t>(static_cast<std::ptrdiff_t>(request->getChildrenCount()))
                   : 0;
}

bp::object childGetter(IK7RRequest* request, std::size_t index)
{
    if (!indexInRange<IK7RRequest, childCount>(request, index))
        return bp::object();
    return bp::object(wrapRequest(request->getChildRequest(static_cast<int>(index))));
}

// Indexing gives None past the end, so without this a for loop would never end: iteration runs
// over 0 .. children_count - 1 instead.
using ChildIterator = K7RObjectIterator<IK7RRequest, childGetter, childCount>;

ChildIterator childrenBegin(const K7RRequestHelper& request)
{
    return ChildIterator(request.request(), false);
}

ChildIterator childrenEnd(const K7RRequestHelper& request)
{
    return ChildIterator(request.request(), true);
}

// --- K7RValueMap --------------------------------------------------------------------------------

bp::object cloneValueMap(IK7RValueMap& map)
{
    return wrapApiObject(map.clone());
}

bp::object getChild(IK7RValueMap& map, int index)
{
    return wrapApiObject(map.getChild(index));
}

// --- K7RRequestFactory --------------------------------------------------------------------------

bp::object timeframeCollection(IK7RRequestFactory& factory)
{
    const LibraryHandle<IK7RTimeframeCollection> returned =
        makeLibraryHandle(factory.getTimeframeCollection());
    if (!returned)
        return bp::object();
    // The helper adds its own reference; the factory's goes with `returned`.
    return bp::object(boost::make_shared<K7RTimeframeCollectionHelper>(returned.get()));
}

boost::shared_ptr<K7RRequestHelper> createSnapshotRequest(IK7RRequestFactory& factory,
                                                          const std::string& instrument,
                                                          IK7RTimeframe* timeframe, int count)
{
    return wrapRequest(
        factory.createMarketDataSnapshotRequestInstrument(instrument.c_str(), timeframe, count));
}

boost::shared_ptr<K7RRequestHelper> createSnapshotRequestDefaultCount(IK7RRequestFactory& factory,
                                                                      const std::string& instrument,
                                                                      IK7RTimeframe* timeframe)
{
    return createSnapshotRequest(factory, instrument, timeframe, 300);
}

double snapshotDate(const bp::object& date)
{
    return date.is_none() ? 0.0 : pythonToOleDate(date);
}

// The start is converted in full before the end is looked at.
void fillSnapshotTime(IK7RRequestFactory& factory, K7RRequestHelper* request,
                      const bp::object& from = bp::object(), const bp::object& to = bp::object(),
                      bool flag = false,
                      K7RCandleOpenPriceMode mode = K7RCandleOpenPriceMode::PreviousClose)
{
    K7RRequestHelper& held = required(request, "request");
    const double oleFrom = snapshotDate(from);
    const double oleTo = snapshotDate(to);
    factory.fillMarketDataSnapshotRequestTime(held.request(), oleFrom, oleTo, flag, mode);
}

BOOST_PYTHON_FUNCTION_OVERLOADS(FillSnapshotTimeOverloads, fillSnapshotTime, 2, 6)

boost::shared_ptr<K7RRequestHelper> createConfirmationMailRequest(IK7RRequestFactory& factory,
                                                                  IK7RMessageRow* row)
{
    return wrapRequest(factory.createConfirmationMailRequest(row));
}

boost::shared_ptr<K7RRequestHelper> createRefreshTableRequest(IK7RRequestFactory& factory,
                                                              K7RTable table)
{
    return wrapRequest(factory.createRefreshTableRequest(table));
}

boost::shared_ptr<K7RRequestHelper> createRefreshTableRequestByAccount(IK7RRequestFactory& factory,
                                                                       K7RTable table,
                                                                       const std::string& account)
{
    return wrapRequest(factory.createRefreshTableRequestByAccount(table, account.c_str()));
}

boost::shared_ptr<K7RRequestHelper> createOrderRequest(IK7RRequestFactory& factory,
                                                       IK7RValueMap* valueMap)
{
    return wrapRequest(factory.createOrderRequest(valueMap));
}

bp::object createValueMap(IK7RRequestFactory& factory)
{
    return wrapApiObject(factory.createValueMap());
}

}  // namespace

void exportRequest()
{
    const char* const reserved = "Reserved for future use.";
    using Map = IK7RValueMap;
    using Factory = IK7RRequestFactory;

    // Each class's shared-pointer converters come with its held type.
    bp::class_<K7RRequestHelper, boost::shared_ptr<K7RRequestHelper>, boost::noncopyable>(
        "K7RRequest", "A request to the server.", bp::no_init)
        .add_property("request_id", &K7RRequestHelper::getRequestId,
                      "Gets the unique request identifier.")
        .add_property("size", &K7RRequestHelper::getChildrenCount, "Gets the number of child requests.")
        .def("__len__", &K7RRequestHelper::getChildrenCount, reserved)
        .add_property("children_count", &K7RRequestHelper::getChildrenCount,
                      "Gets the number of child requests.")
        .def("get_child_request", &getChildRequest, "Gets one child request.")
        .def("__getitem__", &getChildRequest)
        .def("__iter__", bp::range(&childrenBegin, &childrenEnd));

    bp::class_<Map, LibraryHandle<Map>, boost::noncopyable>(
        "K7RValueMap", "A value map containing order parameters.", bp::no_init)
        .def("set_string", &Map::setString, "Sets a string value.")
        .def("set_double", &Map::setDouble, "Sets a double value.")
        .def("set_int", &Map::setInt, "Sets an integer value.")
        .def("set_boolean", &Map::setBoolean, "Sets a boolean value.")
        .def("clone", &cloneValueMap, "Makes a copy of the value map.")
        .def("clear", &Map::clear, "Clears the value map.")
        .add_property("children_count", &Map::getChildrenCount, "Gets the number of child value maps.")
        .def("__len__", &Map::getChildrenCount, reserved)
        .def("get_child", &getChild, "Gets a child value map.")
        .def("append_child", &Map::appendChild, "Adds the value map to the list of child value maps.");

    bp::class_<Factory, LibraryHandle<Factory>, boost::noncopyable>(
        "K7RRequestFactory", "A request factory.", bp::no_init)
        .add_property("timeframe_collection", &timeframeCollection,
                      "Gets the collection of timeframes which can be used for the market data "
                      "snapshot request.")
        .def("create_market_data_snapshot_request_instrument", &createSnapshotRequest, reserved)
        .def("create_market_data_snapshot_request_instrument", &createSnapshotRequestDefaultCount,
             reserved)
        .def("fill_market_data_snapshot_request_time", &fillSnapshotTime,
             FillSnapshotTimeOverloads(reserved))
        .def("create_confirmation_mail_request", &createConfirmationMailRequest, reserved)
        .def("create_refresh_table_request", &createRefreshTableRequest,
             "Creates a request to get the latest snapshot of the specified table.")
        .def("create_refresh_table_request_by_account", &createRefreshTableRequestByAccount,
             "Creates a request for a table containing data about one account.")
        .def("create_order_request", &createOrderRequest,
             "Generates a request for creation of an order.")
        .def("create_value_map", &createValueMap, "Creates a value map.")
        .add_property("last_error", &Factory::getLastError,
                      "Gets information about the error (for example, when incorrect request "
                      "parameters are specified).");
}
