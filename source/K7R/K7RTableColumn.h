// source/K7R/K7RTableColumn.h: the column collection object that rows and table readers hand to
// Python, and the lookups of a column by either spelling of its name.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <memory>

#include <velvix/Velvix.h>

#include "ObjectIteratorContainer.h"

namespace vexa2 { namespace python {

// A reference owned for one call: released on every way out, without the handle's allocation.
struct ReleaseDeleter
{
    template <class T>
    void operator()(T* object) const
    {
        releaseObject(object);
    }
};
template <class T>
using OwnedReference = std::unique_ptr<T, ReleaseDeleter>;

using K7RTableColumnCollectionBase = K7RObjectIteratorContainer<IK7RTableColumnCollection>;

// Keeps the library collection (null allowed) alive through a reference of its own, so it
// outlives the row or table it came from.
class K7RTableColumnCollection : public K7RTableColumnCollectionBase
{
public:
    explicit K7RTableColumnCollection(IK7RTableColumnCollection* collection)
        : K7RTableColumnCollectionBase(collection)
    {
    }
};

// A K7RTableColumnCollection Python object over `returned`, also when it is null. Takes over the
// reference a library getter returned: the new object holds its own and this one is released.
boost::python::object wrapColumnCollection(IK7RTableColumnCollection* returned);

// The column of `id` taken as the library's identifier, else as an attribute name of any table;
// add-referenced, or null. A null id or collection finds nothing.
IK7RTableColumn* findColumn(IK7RTableColumnCollection* collection, const char* id);

} }  // namespace vexa2::python
