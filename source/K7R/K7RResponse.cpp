// source/K7R/K7RResponse.cpp: the response classes: K7RResponse and K7RResponseReaderFactory, whose
// create_reader gives each response type its reader class. The reader classes register first.
#include "K7R/K7RResponse.h"

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include "K7R/K7RLevel2MarketDataReader.h"
#include "K7R/K7RMarketDataSnapshotReader.h"
#include "K7R/K7RSystemPropertiesReader.h"
#include "K7R/K7RTable.h"
#include "K7R/K7RTablesUpdatesReader.h"
#include "ObjectHandles.h"
#include "Registrations.h"

namespace bp = boost::python;

namespace {

using namespace vexa2::python;

// The own-class case: the new object adds its reference, the factory's is given back on every way
// out, so the object's is the only one the module holds.
template <class Own, class Reader>
bp::object ownReader(Reader* returned)
{
    if (!returned)
        return bp::object();
    const LibraryHandle<Reader> returnedReference = makeLibraryHandle(returned);
    return bp::object(boost::shared_ptr<Own>(new Own(returned)));
}

bp::object tableReader(IK7RGenericTableResponseReader* returned)
{
    return ownReader<K7RGenericTableResponseReader>(returned);
}

// The level-2 reader view counts its own references; otherwise as an own-class reader.
bp::object level2Reader(IK7RLevel2MarketDataUpdatesReader* returned)
{
    if (!returned)
        return bp::object();
    const LibraryHandle<IK7RLevel2MarketDataUpdatesReader> returnedReference = makeLibraryHandle(returned);
    return newLevel2Reader(returned);
}

}  // namespace

namespace vexa2 { namespace python {

bp::object createReader(IK7RResponseReaderFactory* factory, IK7RResponse* response)
{
    if (!factory || !response)
        return bp::object();
    const K7RResponseType type = response->getType();
    if (static_cast<unsigned>(type) > static_cast<unsigned>(K7RResponseType::Level2MarketData))
        return bp::object();
    switch (type)
    {
    case K7RResponseType::TablesUpdates:
        return ownReader<K7RTablesUpdatesReaderHelper>(factory->createTablesUpdatesReader(response));
    case K7RResponseType::MarketDataSnapshot:
        return ownReader<K7RMarketDataSnapshotResponseReaderHelper>(
            factory->createMarketDataSnapshotReader(response));
    case K7RResponseType::GetAccounts: return tableReader(factory->createAccountsTableReader(response));
    case K7RResponseType::GetOffers: return tableReader(factory->createOffersTableReader(response));
    case K7RResponseType::GetOrders: return tableReader(factory->createOrdersTableReader(response));
    case K7RResponseType::GetTrades: return tableReader(factory->createTradesTableReader(response));
    case K7RResponseType::GetClosedTrades:
        return tableReader(factory->createClosedTradesTableReader(response));
    case K7RResponseType::GetMessages: return tableReader(factory->createMessagesTableReader(response));
    case K7RResponseType::CreateOrderResponse: return wrapApiObject(factory->createOrderResponseReader(response));
    case K7RResponseType::GetSystemProperties:
        return ownReader<K7RSystemPropertiesReaderHelper>(factory->createSystemPropertiesReader(response));
    case K7RResponseType::MarginRequirementsResponse:
        return bp::object(factory->processMarginRequirementsResponse(response));
    case K7RResponseType::GetLastOrderUpdate:
        return wrapApiObject(factory->createLastOrderUpdateResponseReader(response));
    case K7RResponseType::MarketData: return wrapApiObject(factory->createMarketDataReader(response));
    case K7RResponseType::Level2MarketData: return level2Reader(factory->createLevel2MarketDataReader(response));
    case K7RResponseType::CommandResponse:
    case K7RResponseType::ResponseUnknown:
        break;
    }
    return bp::object();
}

} }  // namespace vexa2::python

void exportResponse()
{
    using vexa2::python::LibraryHandle;

    // The readers first.
    exportMarketDataSnapshotResponseReader();
    exportTablesUpdatesReader();
    exportLastOrderUpdateResponseReader();
    exportOrderResponseReader();
    exportMarketDataResponseReader();
    exportLevel2MarketDataUpdatesReader();
    exportSystemPropertiesReader();

    // The response's shared-pointer converters come with its held type.
    bp::class_<IK7RResponse, LibraryHandle<IK7RResponse>, boost::noncopyable>(
        "K7RResponse", "The class contains a response received from the trading server.", bp::no_init)
        .add_property("type", &IK7RResponse::getType, "Gets the response type.")
        .add_property("request_id", &IK7RResponse::getRequestId,
                      "Gets the identifier of the corresponding request.");

    bp::class_<IK7RResponseReaderFactory, LibraryHandle<IK7RResponseReaderFactory>,
               boost::noncopyable>(
        "K7RResponseReaderFactory",
        "The class creates readers to process the content of the trading server responses.",
        bp::no_init)
        .def("create_reader", &vexa2::python::createReader,
             "Creates a reader to process a response that is provided by the trading server "
             "automatically.");
}
