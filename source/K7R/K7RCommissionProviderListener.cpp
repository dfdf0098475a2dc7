// source/K7R/K7RCommissionProviderListener.cpp: the AK7RCommissionProviderListener class, through
// which a script follows the commissions provider's status and hears when commissions change.
#include <boost/python.hpp>

#include "Constructors.h"
#include "K7R/K7RCommissionProviderListener.h"
#include "K7R/K7RSessionServices.h"

namespace vexa2 { namespace python {

namespace {

const char* const kFile = "source\\K7R\\K7RCommissionProviderListener";

const CallbackSite kStatusChanged{"on_change_commission_provider_status",
                                  "AK7RCommissionProviderListener::on_change_commission_provider_status",
                                  "onChangeCommissionProviderStatus", kFile, 15};
const CallbackSite kNeedUpdate{"on_need_update_commissions",
                               "AK7RCommissionProviderListener::on_need_update_commissions",
                               "onNeedUpdateCommissions", kFile, 29};

}  // namespace

void K7RCommissionProviderListenerHelper::onChangeCommissionProviderStatus(K7RCommissionStatus status)
{
    forward(&K7RCommissionProviderListenerImpl::onChangeCommissionProviderStatus, status);
}

void K7RCommissionProviderListenerHelper::onNeedUpdateCommissions()
{
    forward(&K7RCommissionProviderListenerImpl::onNeedUpdateCommissions);
}

void K7RCommissionProviderListenerImpl::onChangeCommissionProviderStatus(K7RCommissionStatus status)
{
    dispatch(kStatusChanged, status);
}

void K7RCommissionProviderListenerImpl::onNeedUpdateCommissions()
{
    dispatch(kNeedUpdate);
}

} }  // namespace vexa2::python

void exportCommissionProviderListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RCommissionProviderListenerImpl;
    using vexa2::python::checkedInit;

    bp::class_<K7RCommissionProviderListenerImpl,
               boost::shared_ptr<K7RCommissionProviderListenerImpl>, boost::noncopyable>
        listener("AK7RCommissionProviderListener",
                 "The abstract class provides the method signatures to process notifications "
                 "about commissions.",
                 checkedInit<K7RCommissionProviderListenerImpl>());
    vexa2::python::defCallback(listener, "on_change_commission_provider_status",
                               &K7RCommissionProviderListenerImpl::onChangeCommissionProviderStatus,
                               "Processes notifications about commission status changes.");
    vexa2::python::defCallback(listener, "on_need_update_commissions",
                               &K7RCommissionProviderListenerImpl::onNeedUpdateCommissions,
                               "Processes notifications about commission updating. The commissions "
                               "must be recalculated.");
}
