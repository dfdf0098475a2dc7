// tests/testkit/library_objects.cpp: stand-in library objects handed to Python through library
// object handles, and the session descriptor collection through the generic container.
#include <boost/python.hpp>

#include "Bindings.h"
#include "ObjectHandles.h"
#include "ObjectIteratorContainer.h"

#include <velvix/Velvix.h>

#include <boost/make_shared.hpp>

#include <string>

using namespace boost::python;
using vexa2::python::ContainerMembers;
using vexa2::python::K7RObjectIteratorContainer;
using vexa2::python::LibraryHandle;
using vexa2::python::wrapApiObject;

namespace {

using Descriptors = K7RObjectIteratorContainer<IK7RSessionDescriptorCollection>;

object createSession()
{
    return wrapApiObject(CK7RTransport::createSession());
}

// A second, separate handle over the same library object, owning a reference of its own.
object anotherHandle(IK7RSession& session)
{
    session.addRef();
    return wrapApiObject(&session);
}

object nullSession()
{
    return wrapApiObject(static_cast<IK7RSession*>(nullptr));
}

// The container adds its own reference; the one the library returned is given back here.
boost::shared_ptr<Descriptors> descriptors(IK7RSession& session)
{
    IK7RSessionDescriptorCollection* collection = session.getTradingSessionDescriptors();
    auto container = boost::make_shared<Descriptors>(collection);
    if (collection)
        collection->release();
    return container;
}

std::string descriptorId(IK7RSessionDescriptor& descriptor)
{
    const char* id = descriptor.getId();
    return id ? id : "";
}

// An own getter, as some readers have: the identifiers themselves, through the shared bounds.
object idGetter(IK7RSessionDescriptorCollection* collection, std::size_t index)
{
    if (!vexa2::python::indexInRange(collection, index))
        return object();
    LibraryHandle<IK7RSessionDescriptor> descriptor =
        vexa2::python::makeLibraryHandle(collection->get(static_cast<int>(index)));
    return descriptor ? object(descriptorId(*descriptor)) : object();
}

// A class that offers only __iter__, as some readers do.
using DescriptorIds = K7RObjectIteratorContainer<IK7RSessionDescriptorCollection, idGetter>;

boost::shared_ptr<DescriptorIds> descriptorIds(IK7RSession& session)
{
    IK7RSessionDescriptorCollection* collection = session.getTradingSessionDescriptors();
    auto container = boost::make_shared<DescriptorIds>(collection);
    if (collection)
        collection->release();
    return container;
}

}  // namespace

void bindLibraryObjects()
{
    class_<IK7RSession, LibraryHandle<IK7RSession>, boost::noncopyable>("Session", no_init)
        .def("descriptors", &descriptors, "The session descriptors in a container.")
        .def("descriptor_ids", &descriptorIds, "The descriptor identifiers in an iterate-only container.");
    class_<IK7RSessionDescriptor, LibraryHandle<IK7RSessionDescriptor>, boost::noncopyable>(
        "SessionDescriptor", no_init)
        .add_property("id", &descriptorId, "The descriptor's identifier.");
    class_<Descriptors, boost::shared_ptr<Descriptors>, boost::noncopyable>("SessionDescriptors", no_init)
        .def(ContainerMembers<Descriptors>()
                 .size("The count.")
                 .len("The count.")
                 .get("get", "The descriptor at an index, None past the end.")
                 .iter("Iterates the descriptors."));
    class_<DescriptorIds, boost::shared_ptr<DescriptorIds>, boost::noncopyable>("DescriptorIds", no_init)
        .def(ContainerMembers<DescriptorIds>().iter("Iterates the descriptor identifiers."));
    def("create_session", &createSession, "A new stand-in session in a handle.");
    def("another_handle", &anotherHandle, "A second handle over the same session.");
    def("null_session", &nullSession, "The wrapping of a null pointer.");
}
