// source/K7R/K7RTimeframe.cpp: the timeframe classes: the time frame unit enum, K7RTimeFrame and the
// timeframe collections.
#include "K7R/K7RTimeframe.h"

#include <boost/python.hpp>

#include <string>

#include "Enums.h"
#include "Messages.h"
#include "Registrations.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

LibraryHandle<IK7RTimeframe> makeTimeframePtr(IK7RTimeframe* timeframe, TimeframeDeleter deleter)
{
    if (!timeframe)
        return LibraryHandle<IK7RTimeframe>();
    return LibraryHandle<IK7RTimeframe>(timeframe, std::move(deleter));
}

bp::object timeframeToPython(IK7RTimeframe* timeframe, TimeframeDeleter deleter)
{
    if (!timeframe)
        return bp::object();
    return bp::object(makeTimeframePtr(timeframe, std::move(deleter)));
}

LibraryHandle<IK7RTimeframe> K7RTimeframeCollectionHelper::getById(const std::string& id) const
{
    if (!collection())
        return LibraryHandle<IK7RTimeframe>();
    return makeTimeframePtr(collection()->getById(id.c_str()));
}

LibraryHandle<IK7RTimeframe> K7RTimeframeCollectionHelper::lookup(const bp::object& key) const
{
    bp::extract<std::string> id(key);
    if (id.check())
        return getById(id());
    bp::extract<int> index(key);
    if (index.check())
    {
        const int i = index();
        if (!collection())
            return LibraryHandle<IK7RTimeframe>();
        // No range check: what the library gives outside 0..size-1 is the answer.
        return makeTimeframePtr(collection()->get(i));
    }
    raiseMessage(PyExc_ValueError, msgOnlyStringOrIntegerValue());
}

} }  // namespace vexa2::python

void exportTimeframe()
{
    using namespace vexa2::python;
    using Helper = K7RTimeframeCollectionHelper;
    using Base = K7RTimeframeCollectionBase;
    using Unit = K7RTimeframeUnit;
    const char* const reserved = "Reserved for future use.";

    // Each class's shared-pointer converters come with its held type.
    Enum<Unit>("K7RTimeFrameUnit",
               "The enum specifies a set of values representing the unit of measurement of "
               "the historical prices timeframe.")
        .value("TICK", Unit::Tick)
        .value("MIN", Unit::Min)
        .value("HOUR", Unit::Hour)
        .value("DAY", Unit::Day)
        .value("WEEK", Unit::Week)
        .value("MONTH", Unit::Month)
        .value("YEAR", Unit::Year);

    bp::class_<IK7RTimeframe, LibraryHandle<IK7RTimeframe>, boost::noncopyable>(
        "K7RTimeFrame", "A timeframe description.", bp::no_init)
        .add_property("id", &IK7RTimeframe::getId, "Gets the unique identifier of the timeframe.")
        .add_property("unit", &IK7RTimeframe::getUnit,
                      "Gets the time measurement unit of the timeframe.")
        .add_property("query_depth", &IK7RTimeframe::getQueryDepth,
                      "Gets the query depth of the timeframe.")
        .add_property("size", &IK7RTimeframe::getSize,
                      "Gets the number of time measurement units in the timeframe.")
        .def("__len__", &IK7RTimeframe::getSize, reserved);

    bp::class_<Base, boost::shared_ptr<Base>, boost::noncopyable>("_K7RTimeFrameCollection",
                                                                  bp::no_init);

    bp::class_<Helper, boost::shared_ptr<Helper>, bp::bases<Base>, boost::noncopyable>(
        "K7RTimeFrameCollection", "A collection of the timeframes available for the session.",
        bp::no_init)
        .def("get_by_id", &Helper::getById, "Gets a timeframe by ID.")
        .def("__getitem__", &Helper::lookup)
        .def(ContainerMembers<Helper>()
                 .size("Gets the number of timeframe elements in the collection.")
                 .len(reserved))
        .def("get", &Helper::lookup, "Gets a timeframe by its index.")
        .def("__iter__", bp::range(&Helper::begin, &Helper::end));
}
