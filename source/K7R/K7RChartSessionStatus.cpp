// source/K7R/K7RChartSessionStatus.cpp: the chart session status listener class
// AK7RChartSessionStatus and its enum K7RChartSessionStatus.
#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include "Constructors.h"
#include "Enums.h"
#include "K7R/K7RChartSessionStatus.h"
#include "Registrations.h"

namespace vexa2 { namespace python {

namespace {

const char* const kFile = "source\\K7R\\K7RChartSessionStatus";

const CallbackSite kStatusChanged{"on_chart_session_status_changed",
                                  "AK7RChartSessionStatus::on_chart_session_status_changed",
                                  "onChartSessionStatusChanged", kFile, 15};
const CallbackSite kLoginFailed{"on_chart_session_login_failed",
                                "AK7RChartSessionStatus::on_chart_session_login_failed",
                                "onChartSessionLoginFailed", kFile, 29};

}  // namespace

void K7RChartSessionStatusHelper::onChartSessionStatusChanged(K7RChartSessionStatus status)
{
    forward(&K7RChartSessionStatusImpl::onChartSessionStatusChanged, status);
}

void K7RChartSessionStatusHelper::onChartSessionLoginFailed(const char* error)
{
    forward(&K7RChartSessionStatusImpl::onChartSessionLoginFailed, error);
}

void K7RChartSessionStatusImpl::onChartSessionStatusChanged(
    IK7RChartSessionStatus::K7RChartSessionStatus status)
{
    dispatch(kStatusChanged, status);
}

void K7RChartSessionStatusImpl::onChartSessionLoginFailed(const char* error)
{
    dispatch(kLoginFailed, error);
}

} }  // namespace vexa2::python

void exportChartSessionStatus()
{
    namespace bp = boost::python;
    using namespace vexa2::python;
    using Status = IK7RChartSessionStatus::K7RChartSessionStatus;

    bp::class_<K7RChartSessionStatusImpl, boost::shared_ptr<K7RChartSessionStatusImpl>,
               boost::noncopyable>
        listener("AK7RChartSessionStatus", "Reserved for future use.",
                 checkedInit<K7RChartSessionStatusImpl>());
    defCallback(listener, "on_chart_session_status_changed",
                &K7RChartSessionStatusImpl::onChartSessionStatusChanged,
                "The method processes notifications about session status changes.");
    defCallback(listener, "on_chart_session_login_failed",
                &K7RChartSessionStatusImpl::onChartSessionLoginFailed,
                "The method processes notifications about login failures.");

    // No value 2: the library may still report it, and it reaches Python as an unnamed value.
    bp::scope inListener(listener);
    Enum<Status>("K7RChartSessionStatus",
                 "The enum specifies a set of values representing the chart session status.")
        .value("DISCONNECTED", Status::Disconnected)
        .value("CONNECTING", Status::Connecting)
        .value("CONNECTED", Status::Connected)
        .value("RECONNECTING", Status::Reconnecting)
        .value("DISCONNECTING", Status::Disconnecting)
        .value("SESSION_LOST", Status::SessionLost);
}
