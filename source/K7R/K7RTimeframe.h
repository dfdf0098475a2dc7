// source/K7R/K7RTimeframe.h: timeframes as Python sees them, and the collection wrapper; shared with
// the historical-price bindings, which hand out the same timeframe and collection classes.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <functional>
#include <string>

#include <velvix/Velvix.h>

#include "ObjectHandles.h"
#include "ObjectIteratorContainer.h"

namespace vexa2 { namespace python {

using TimeframeDeleter = std::function<void(IK7RTimeframe*)>;

// Takes over the caller's reference; an empty handle (None in Python) for null.
LibraryHandle<IK7RTimeframe> makeTimeframePtr(IK7RTimeframe* timeframe,
                                              TimeframeDeleter deleter = &releaseObject<IK7RTimeframe>);

// The same, as the Python object.
boost::python::object timeframeToPython(IK7RTimeframe* timeframe,
                                        TimeframeDeleter deleter = &releaseObject<IK7RTimeframe>);

using K7RTimeframeCollectionBase = K7RObjectIteratorContainer<IK7RTimeframeCollection>;

// The Python K7RTimeFrameCollection. Adds its own reference to the collection: the caller keeps
// and releases what it had.
class K7RTimeframeCollectionHelper : public K7RTimeframeCollectionBase
{
public:
    explicit K7RTimeframeCollectionHelper(IK7RTimeframeCollection* collection)
        : K7RTimeframeCollectionBase(collection)
    {
    }

    LibraryHandle<IK7RTimeframe> getById(const std::string& id) const;

    // A str is an identifier, an int an index handed to the library as it is; anything else is
    // ValueError 1020.
    LibraryHandle<IK7RTimeframe> lookup(const boost::python::object& key) const;
};

} }  // namespace vexa2::python
