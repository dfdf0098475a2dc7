// source/K7R/K7RTablesUpdatesReader.h: the tables updates reader wrapper, which reads a stream of
// row changes by index or item by item.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <cstddef>

#include <velvix/Velvix.h>

#include "ObjectIteratorContainer.h"

namespace vexa2 { namespace python {

// 0 when there is no reader.
std::size_t K7RTablesUpdatesReaderContainerSize(IK7RTablesUpdatesReader* reader);

// None for a null reader, an index not below its size, an update of the summary or of a table
// outside the six with rows, or a null row; otherwise a new item of that update.
boost::python::object K7RTablesUpdatesReaderContainerGetter(IK7RTablesUpdatesReader* reader, std::size_t index);

using K7RTablesUpdatesReaderBase =
    K7RObjectIteratorContainer<IK7RTablesUpdatesReader, K7RTablesUpdatesReaderContainerGetter,
                               K7RTablesUpdatesReaderContainerSize>;

// Holds its own reference to the reader (through the container base), never null. Every
// operation forwards unchanged, indices unchecked.
class K7RTablesUpdatesReaderHelper : public K7RTablesUpdatesReaderBase
{
public:
    explicit K7RTablesUpdatesReaderHelper(IK7RTablesUpdatesReader* reader) : K7RTablesUpdatesReaderBase(reader) {}

    virtual double getServerTime() { return collection()->getServerTime(); }
    virtual int size() { return collection()->size(); }
    virtual K7RTableUpdateType getUpdateType(int i) { return collection()->getUpdateType(i); }
    virtual K7RTable getUpdateTable(int i) { return collection()->getUpdateTable(i); }
    virtual IK7ROfferRow* getOfferRow(int i) { return collection()->getOfferRow(i); }
    virtual IK7RAccountRow* getAccountRow(int i) { return collection()->getAccountRow(i); }
    virtual IK7ROrderRow* getOrderRow(int i) { return collection()->getOrderRow(i); }
    virtual IK7RTradeRow* getTradeRow(int i) { return collection()->getTradeRow(i); }
    virtual IK7RClosedTradeRow* getClosedTradeRow(int i) { return collection()->getClosedTradeRow(i); }
    virtual IK7RMessageRow* getMessageRow(int i) { return collection()->getMessageRow(i); }
};

} }  // namespace vexa2::python

void exportTablesUpdatesReader();
