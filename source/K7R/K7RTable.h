// source/K7R/K7RTable.h: the reader over the rows of a table or of a table response, and CK7RTable,
// the module's own counted wrapper of one library table, which iterators and jobs keep alive.
#pragma once

#include <boost/python/object_fwd.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>

#include <velvix/Velvix.h>

#include "AddRefImpl.h"
#include "ObjectIteratorContainer.h"

namespace vexa2 { namespace python {

// None for a null reader, an index not below its size or a null row; otherwise the row wrapped as
// its most specific class (the reference from getRow goes with it).
boost::python::object K7RGenericTableResponseReaderGetter(IK7RGenericTableResponseReader* reader,
                                                          std::size_t index);

// The same for an index already found below the reader's size: a table's size takes its lock, so
// a step of the iteration asks it once.
boost::python::object K7RGenericTableResponseReaderRowAt(IK7RGenericTableResponseReader* reader,
                                                         std::size_t index);

using K7RGenericTableResponseReaderBase =
    K7RObjectIteratorContainer<IK7RGenericTableResponseReader, K7RGenericTableResponseReaderGetter,
                               defaultSize<IK7RGenericTableResponseReader>,
                               K7RGenericTableResponseReaderRowAt>;

// Holds its own reference to the reader (through the container base).
class K7RGenericTableResponseReader : public K7RGenericTableResponseReaderBase
{
public:
    explicit K7RGenericTableResponseReader(IK7RGenericTableResponseReader* reader)
        : K7RGenericTableResponseReaderBase(reader)
    {
    }
};

} }  // namespace vexa2::python

// One library table: the reader base holds the one library reference; the IAddRef part counts the
// module's own holders (Python handles, iterators, queue handles, posted jobs), and the last
// release deletes the wrapper, which lets go of the table.
class CK7RTable : public vexa2::python::K7RGenericTableResponseReader,
                  public vexa2::python::TThreadSafeAddRefImpl<IAddRef>
{
public:
    // Adds its own reference to `table`; the caller keeps or drops what it had.
    explicit CK7RTable(IK7RTable* table)
        : vexa2::python::K7RGenericTableResponseReader(table), m_table(table)
    {
    }

    IK7RTable* table() const { return m_table; }

private:
    ~CK7RTable() override = default;

    IK7RTable* m_table;  // the reader base's object; no second reference
};

// Subscriptions are made at the library table: two wrappers of one table are one target.
inline const void* subscriptionTarget(const CK7RTable& table)
{
    return table.table();
}

// The handle Python holds: its deleter releases through the IAddRef part, never deletes.
boost::shared_ptr<CK7RTable> makeTableHandle(CK7RTable* table);
