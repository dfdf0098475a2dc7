// source/K7R/K7RSessionStatus.cpp: the session status listener class AK7RSessionStatus and its enum
// K7RSessionStatus, through which a script follows its session's state.
#include <boost/python.hpp>

#include "Constructors.h"
#include "Enums.h"
#include "K7R/K7RSessionStatus.h"
#include "Registrations.h"

namespace vexa2 { namespace python {

namespace {

const char* const kFile = "source\\K7R\\K7RSessionStatus";

const CallbackSite kStatusChanged{"on_session_status_changed",
                                  "AK7RSessionStatus::on_session_status_changed",
                                  "onSessionStatusChanged", kFile, 16};
const CallbackSite kLoginFailed{"on_login_failed", "AK7RSessionStatus::on_login_failed",
                                "onLoginFailed", kFile, 30};

}  // namespace

void K7RSessionStatusHelper::onSessionStatusChanged(K7RSessionStatus status)
{
    forward(&K7RSessionStatusImpl::onSessionStatusChanged, status);
}

void K7RSessionStatusHelper::onLoginFailed(const char* error)
{
    forward(&K7RSessionStatusImpl::onLoginFailed, error);
}

void K7RSessionStatusImpl::onSessionStatusChanged(IK7RSessionStatus::K7RSessionStatus status)
{
    dispatch(kStatusChanged, status);
}

void K7RSessionStatusImpl::onLoginFailed(const char* error)
{
    dispatch(kLoginFailed, error);
}

} }  // namespace vexa2::python

void exportSessionStatus()
{
    namespace bp = boost::python;
    using namespace vexa2::python;
    using Status = IK7RSessionStatus::K7RSessionStatus;

    bp::class_<K7RSessionStatusImpl, boost::noncopyable> listener(
        "AK7RSessionStatus",
        "The abstract class provides the method signatures to process notifications about session "
        "status changes and login failure.",
        checkedInit<K7RSessionStatusImpl>());
    defCallback(listener, "on_session_status_changed", &K7RSessionStatusImpl::onSessionStatusChanged,
                "Processes notifications about the session status change.");
    defCallback(listener, "on_login_failed", &K7RSessionStatusImpl::onLoginFailed,
                "Processes notifications about the login failure.");

    bp::scope inListener(listener);
    Enum<Status>("K7RSessionStatus",
                 "The enum specifies a set of values representing the session status.")
        .value("DISCONNECTED", Status::Disconnected)
        .value("CONNECTING", Status::Connecting)
        .value("TRADING_SESSION_REQUESTED", Status::TradingSessionRequested)
        .value("CONNECTED", Status::Connected)
        .value("RECONNECTING", Status::Reconnecting)
        .value("DISCONNECTING", Status::Disconnecting)
        .value("SESSION_LOST", Status::SessionLost)
        .value("PRICE_SESSION_RECONNECTING", Status::PriceSessionReconnecting)
        .value("CONNECTED_WITH_NEED_TO_CHANGE_PASSWORD", Status::ConnectedWithNeedToChangePassword)
        .value("CHART_SESSION_RECONNECTING", Status::ChartSessionReconnecting)
        .export_values();
}
