// source/K7R/K7RRequest.h: the request wrapper behind the Python K7RRequest, which the session's
// send_request unwraps.
#pragma once

#include <boost/shared_ptr.hpp>

#include <velvix/Velvix.h>

namespace vexa2 { namespace python {

// Holds exactly one reference to its request, taken at construction and given back by its
// deleter. Never copied.
class K7RRequestHelper
{
public:
    explicit K7RRequestHelper(IK7RRequest* request);
    ~K7RRequestHelper();
    K7RRequestHelper(const K7RRequestHelper&) = delete;
    K7RRequestHelper& operator=(const K7RRequestHelper&) = delete;

    const char* getRequestId() const;
    int getChildrenCount() const;

    // What send_request hands the library; no reference is added for the call.
    IK7RRequest* request() const { return m_request; }

private:
    IK7RRequest* m_request;
};

// The deleter of the shared pointer Python holds.
void deleteRequestHelper(K7RRequestHelper* helper);

// Takes over the reference a library call returned: the wrapper adds its own and the returned
// one is released, also when making the wrapper fails. Null gives an empty pointer (None).
boost::shared_ptr<K7RRequestHelper> wrapRequest(IK7RRequest* returned);

} }  // namespace vexa2::python
