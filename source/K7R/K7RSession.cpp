// source/K7R/K7RSession.cpp: the K7RSession class with its trading session descriptors: logging in
// and out, the server time, the token and report URL, the services it hands out, and the listener
// subscriptions.
#include <boost/make_shared.hpp>
#include <boost/python.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include <velvix/Velvix.h>

#include "CallPolicies.h"
#include "DateTime.h"
#include "GILGuard.h"
#include "K7R/K7RChartSessionStatus.h"
#include "K7R/K7RRequest.h"
#include "K7R/K7RResponseListener.h"
#include "K7R/K7RSessionServices.h"
#include "K7R/K7RSessionStatus.h"
#include "K7R/K7RSystemPropertiesListener.h"
#include "K7R/K7RTableManagerListener.h"
#include "Messages.h"
#include "ObjectHandles.h"
#include "ObjectIteratorContainer.h"
#include "Registrations.h"
#include "Subscription.h"

namespace {

namespace bp = boost::python;
using namespace vexa2::python;

using K7RSessionDescriptorCollection = K7RObjectIteratorContainer<IK7RSessionDescriptorCollection>;

bp::object tradingSessionDescriptors(IK7RSession& session)
{
    LibraryHandle<IK7RSessionDescriptorCollection> returned =
        makeLibraryHandle(session.getTradingSessionDescriptors());
    if (!returned)
        return bp::object();
    // The container adds its own reference; the returned one goes with `returned`.
    return bp::object(boost::make_shared<K7RSessionDescriptorCollection>(returned.get()));
}

bp::object serverTime(IK7RSession& session)
{
    return oleDateToPython(session.getServerTime());
}

std::string reportUrlErrorText(int code)
{
    switch (static_cast<K7RReportUrlError>(code))
    {
    case K7RReportUrlError::ReportUrlNotSupported: return msgReportUrlNotSupported();
    case K7RReportUrlError::ReportUrlTooSmallBuffer: return msgReportUrlBufferTooSmall();
    case K7RReportUrlError::ReportUrlNotLogged: return msgReportUrlSessionNotLogged();
    case K7RReportUrlError::ReportUrlNoSession: return msgReportUrlSessionNotValid();
    case K7RReportUrlError::ReportUrlNoMemory: return msgReportUrlNotEnoughMemory();
    case K7RReportUrlError::ReportUrlSsoError: return msgReportUrlTokenNotReceived();
    case K7RReportUrlError::ReportUrlNoAuthId: return msgReportUrlNoAuthId();
    case K7RReportUrlError::ReportUrlNoSubId: return msgReportUrlNoSubId();
    case K7RReportUrlError::ReportUrlNoAccId: return msgReportUrlNoAccountId();
    }
    return msgUnknownError();
}

std::string tokenErrorText(int code)
{
    switch (static_cast<K7RTokenError>(code))
    {
    case K7RTokenError::TokenNotSupported: return msgTokenNotSupported();
    case K7RTokenError::TokenTooSmallBuffer: return msgTokenBufferTooSmall();
    case K7RTokenError::TokenNotLogged: return msgTokenSessionNotLogged();
    case K7RTokenError::TokenNoSession: return msgTokenSessionNotValid();
    case K7RTokenError::TokenSsoError: return msgTokenNotReceived();
    }
    return msgUnknownError();
}

// A text only the library knows the length of: a size pass with no buffer, then a pass into a
// zero-filled buffer of that size, keeping exactly the bytes counted. A negative count from
// either pass is an error code, raised as AttributeError with its text.
template <class Read>
std::string readCountedText(Read read, std::string (*errorText)(int))
{
    const auto fail = [errorText](int code) {
        GILGuard gil;
        raiseMessage(PyExc_AttributeError, errorText(code));
    };
    const int needed = read(nullptr, 0);
    if (needed < 0)
        fail(needed);
    // One spare byte keeps the buffer a real one when the size is 0: a null buffer would ask
    // for the size again.
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1, '\0');
    const int written = read(buffer.data(), needed);
    if (written < 0)
        fail(written);
    return std::string(buffer.data(),
                       std::min(static_cast<std::size_t>(written), static_cast<std::size_t>(needed)));
}

std::string token(IK7RSession& session)
{
    return readCountedText([&](char* buffer, int size) { return session.getToken(buffer, size); },
                           &tokenErrorText);
}

// Both dates are converted, `from` first, before the library is called.
std::string reportUrl(IK7RSession& session, const char* account, const bp::object& from,
                      const bp::object& to, const char* format, const char* language)
{
    const double dateFrom = pythonToOleDate(from);
    const double dateTo = pythonToOleDate(to);
    return readCountedText(
        [&](char* buffer, int size) {
            return session.getReportUrl(buffer, size, account, dateFrom, dateTo, format, language);
        },
        &reportUrlErrorText);
}

LibraryHandle<IK7RLoginRules> loginRules(IK7RSession& session)
{
    return makeLibraryHandle(session.getLoginRules());
}

LibraryHandle<IK7RTimeConverter> timeConverter(IK7RSession& session)
{
    return makeLibraryHandle(session.getTimeConverter());
}

LibraryHandle<IK7RCommissionsProvider> commissionsProvider(IK7RSession& session)
{
    return makeLibraryHandle(session.getCommissionsProvider());
}

LibraryHandle<IK7RRolloverProvider> rolloverProvider(IK7RSession& session)
{
    return makeLibraryHandle(session.getRolloverProvider());
}

LibraryHandle<IK7RTableManager> tableManager(IK7RSession& session)
{
    return makeLibraryHandle(session.getTableManager());
}

LibraryHandle<IK7RTableManager> tableManagerByAccount(IK7RSession& session, const char* account)
{
    return makeLibraryHandle(session.getTableManagerByAccount(account));
}

// Neither reset nor stopped: this listener has no unsubscribe. The call policy keeps the Python
// listener alive on the session object until the next call replaces it.
void useTableManager(IK7RSession& session, K7RTableManagerMode mode,
                     K7RTableManagerListenerImpl* listener)
{
    session.useTableManager(mode, requireListener(listener).helper());
}

LibraryHandle<IK7RRequestFactory> requestFactory(IK7RSession& session)
{
    return makeLibraryHandle(session.getRequestFactory());
}

LibraryHandle<IK7RResponseReaderFactory> responseReaderFactory(IK7RSession& session)
{
    return makeLibraryHandle(session.getResponseReaderFactory());
}

// The library takes the request as it is: it adds its own reference if it keeps it.
void sendRequest(IK7RSession& session, K7RRequestHelper* request)
{
    if (!request)
        raiseMessage(PyExc_ValueError, "The request must not be None");
    session.sendRequest(request->request());
}

void exportSessionDescriptors()
{
    bp::class_<IK7RSessionDescriptor, LibraryHandle<IK7RSessionDescriptor>, boost::noncopyable>(
        "K7RSessionDescriptor", "A trading session descriptor.", bp::no_init)
        .add_property("id", &IK7RSessionDescriptor::getId,
                      "Gets the unique identifier of the trading session.")
        .add_property("name", &IK7RSessionDescriptor::getName,
                      "Gets the user-friendly name of the trading session.")
        .add_property("description", &IK7RSessionDescriptor::getDescription,
                      "Gets the detailed description of the trading session.")
        .add_property("requires_pin", &IK7RSessionDescriptor::getRequiresPin,
                      "Gets the flag indicating whether a PIN code is required for this trading "
                      "session.");

    bp::class_<K7RSessionDescriptorCollection, boost::shared_ptr<K7RSessionDescriptorCollection>,
               boost::noncopyable>("K7RSessionDescriptorCollection",
                                   "A collection of the trading session descriptors.", bp::no_init)
        .def(ContainerMembers<K7RSessionDescriptorCollection>()
                 .size("Gets the number of trading session descriptors.")
                 .len("Reserved for future use.")
                 .get("get", "Gets a trading session descriptor by its index."))
        .def("__iter__", bp::range(&K7RSessionDescriptorCollection::begin,
                                   &K7RSessionDescriptorCollection::end));
}

}  // namespace

void exportSession()
{
    exportRolloverProvider();
    exportCommissionsProvider();
    exportTimeConverter();
    exportSessionDescriptors();

    const char* const reserved = "Reserved for future use.";
    using S = IK7RSession;
    using Status = K7RSessionStatusImpl;
    using Chart = K7RChartSessionStatusImpl;
    using Response = K7RResponseListenerImpl;
    using Properties = K7RSystemPropertiesListenerImpl;

    bp::class_<S, LibraryHandle<S>, boost::noncopyable>("K7RSession", "A session object.",
                                                        bp::no_init)
        .add_property("login_rules", &loginRules,
                      "Gets the rules used for the currently established session.")
        .add_property("trading_session_descriptors", &tradingSessionDescriptors,
                      "Gets the list of trading session descriptors.")
        .add_property("request_factory", &requestFactory, "Gets an instance of the request factory.")
        .add_property("response_reader_factory", &responseReaderFactory,
                      "Gets an instance of the response reader factory.")
        .add_property("time_converter", &timeConverter, "Gets an instance of the date/time converter.")
        .add_property("table_manager", &tableManager, "Gets an instance of the table manager.")
        .def("get_table_manager_by_account", &tableManagerByAccount,
             "Gets an instance of the table manager for specific account.")
        .add_property("commissions_provider", &commissionsProvider,
                      "Returns an instance of K7RCommissionsProvider, which is used to get "
                      "commissions data.")
        .add_property("rollover_provider", &rolloverProvider,
                      "Returns an instance of K7RRolloverProvider, which is used to get rollover "
                      "data.")
        .def("login", &S::login, "Starts the connection with the specified trade server.")
        .def("login_with_token", &S::loginWithToken,
             "Starts the connection with the specified trade server using SSO token")
        .def("logout", &S::logout, "Starts to close the existing connection with the trade server.")
        .def("set_trading_session", &S::setTradingSession,
             "Sets the trading session if a trading session is requested.")
        .def("send_request", &sendRequest, "Sends a request to the trade server.")
        .add_property("requests_timeout", &S::getRequestsTimeout, &S::setRequestsTimeout,
                      "Gets or sets timeout in milliseconds for all requests.")
        .add_property("price_update_mode", &S::getPriceUpdateMode, &S::setPriceUpdateMode,
                      "Gets or sets the current price update mode.")
        .add_property("server_time", &serverTime, "Gets the current server time.")
        .add_property("session_status", &S::getSessionStatus, "Gets current session status.")
        .add_property("price_refresh_rate", &S::getPriceRefreshRate, &S::setPriceRefreshRate,
                      "Gets or sets the price refresh rate.")
        .add_property("min_price_refresh_rate", &S::getMinPriceRefreshRate, reserved)
        .add_property("max_price_refresh_rate", &S::getMaxPriceRefreshRate, reserved)
        .add_property("session_sub_id", &S::getSessionSubId, "Gets the sub ID of the current session.")
        .add_property("chart_session_mode", &S::getChartSessionMode, &S::setChartSessionMode,
                      "Gets or sets the chart session mode.")
        .add_property("chart_session_status", &S::getChartSessionStatus,
                      "Gets or sets the current chart session status.")
        .add_property("user_kind", &S::getUserKind, "Gets the user kind.")
        .add_property("user_name", &S::getUserName, reserved)
        .def("force_close", &S::forceClose, reserved)
        .def("get_report_url", &reportUrl, "Gets a Combined Account Statement (CAS) report URL.")
        .add_property("token", &token, "Gets the token.")
        .def("subscribe_session_status",
             &subscribeListener<&S::subscribeSessionStatus, Status>,
             incref_arg_value_policy<1, S>(), "Subscribes a session status listener.")
        .def("unsubscribe_session_status",
             &unsubscribeListener<&S::unsubscribeSessionStatus, Status>,
             decref_arg_value_policy<1, S>(), "Unsubscribes a session status listener.")
        .def("subscribe_response",
             &subscribeListener<&S::subscribeResponse, Response>,
             incref_arg_value_policy<1, S>(), "Subscribes the session response listener.")
        .def("unsubscribe_response",
             &unsubscribeListener<&S::unsubscribeResponse, Response>,
             decref_arg_value_policy<1, S>(), "Unsubscribes a response listener.")
        .def("subscribe_system_properties_change",
             &subscribeListener<&S::subscribeSystemPropertiesChange, Properties>,
             incref_arg_value_policy<1, S>(), reserved)
        .def("unsubscribe_system_properties_change",
             &unsubscribeListener<&S::unsubscribeSystemPropertiesChange, Properties>,
             decref_arg_value_policy<1, S>(), reserved)
        .def("use_table_manager", &useTableManager, useTableManager_policy(),
             "Defines usage of the table manager.")
        .def("subscribe_chart_session_status",
             &subscribeListener<&S::subscribeChartSessionStatus, Chart>,
             incref_arg_value_policy<1, S>(), "Subscribes a chart session status listener.")
        .def("unsubscribe_chart_session_status",
             &unsubscribeListener<&S::unsubscribeChartSessionStatus, Chart>,
             decref_arg_value_policy<1, S>(), "Unsubscribes a chart session status listener.");
}
