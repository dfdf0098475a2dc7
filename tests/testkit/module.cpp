// tests/testkit/module.cpp: the test-only extension that binds the bridge core's lock guard, call
// policies, object handles and container directly, so that they are tested before any binding of
// the real module uses them. Never import it in a process that imports dedezi.
#include <boost/python.hpp>

#include "Bindings.h"

BOOST_PYTHON_MODULE(dedezi_testkit)
{
    boost::python::docstring_options options(true, false, false);
    bindLockRelease();
    bindSubscriptionPolicies();
    bindLibraryObjects();
}
