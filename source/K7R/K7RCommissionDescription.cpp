// source/K7R/K7RCommissionDescription.cpp: the K7RCommissionDescription class and its collection,
// K7RCommissionDescriptionsCollection, as the commissions provider hands them out.
#include <boost/python.hpp>

#include <velvix/Velvix.h>

#include "K7R/K7RSessionServices.h"
#include "ObjectHandles.h"
#include "ObjectIteratorContainer.h"

void exportCommissionDescription()
{
    namespace bp = boost::python;
    using namespace vexa2::python;
    using D = IK7RCommissionDescription;
    using Descriptions = K7RObjectIteratorContainer<IK7RCommissionDescriptionsCollection>;

    bp::class_<D, LibraryHandle<D>, boost::noncopyable>(
        "K7RCommissionDescription", "A trading commissions descriptor.", bp::no_init)
        .add_property("stage", &D::getStage, "Gets the commission action.")
        .add_property("unit_type", &D::getUnitType, "Gets the commission unit type.")
        .add_property("commission_value", &D::getCommissionValue, "Gets the commission value.")
        .add_property("min_commission", &D::getMinCommission, "Gets the minimum commission value.");

    bp::class_<Descriptions, boost::shared_ptr<Descriptions>, boost::noncopyable>(
        "K7RCommissionDescriptionsCollection", "A collection of commission descriptors.", bp::no_init)
        .def(ContainerMembers<Descriptions>()
                 .size("Gets the number of commission descriptors.")
                 .len("Reserved for future use.")
                 .get("get", "Gets the commission descriptor by its index."))
        .def("__iter__", bp::range(&Descriptions::begin, &Descriptions::end));
}
