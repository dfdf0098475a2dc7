// source/K7R/K7RMarketDataSnapshotReader.h: the snapshot reader wrapper and its items, through which
// both the reader factory and the synchronous history fetch hand bars and ticks to Python.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <cstddef>

#include <velvix/Velvix.h>

#include "ObjectIteratorContainer.h"

namespace vexa2 { namespace python {

// 0 when there is no reader.
std::size_t K7RMarketDataSnapshotResponseReaderSize(IK7RMarketDataSnapshotResponseReader* reader);

// None for a null reader or an index not below its size; otherwise a new item of that index.
boost::python::object K7RMarketDataSnapshotResponseReaderGetter(
    IK7RMarketDataSnapshotResponseReader* reader, std::size_t index);

using K7RMarketDataSnapshotResponseReaderBase =
    K7RObjectIteratorContainer<IK7RMarketDataSnapshotResponseReader,
                               K7RMarketDataSnapshotResponseReaderGetter,
                               K7RMarketDataSnapshotResponseReaderSize>;

// Holds its own reference to the reader (through the container base): the caller keeps and
// releases what it had. Every operation forwards to the reader, which must not be null for them.
class K7RMarketDataSnapshotResponseReaderHelper : public K7RMarketDataSnapshotResponseReaderBase
{
public:
    explicit K7RMarketDataSnapshotResponseReaderHelper(IK7RMarketDataSnapshotResponseReader* reader)
        : K7RMarketDataSnapshotResponseReaderBase(reader)
    {
    }

    virtual bool isBar() { return collection()->isBar(); }
    virtual int size() { return collection()->size(); }
    virtual double getDate(int i) { return collection()->getDate(i); }
    virtual double getBid(int i) { return collection()->getBid(i); }
    virtual double getAsk(int i) { return collection()->getAsk(i); }
    virtual double getBidOpen(int i) { return collection()->getBidOpen(i); }
    virtual double getBidHigh(int i) { return collection()->getBidHigh(i); }
    virtual double getBidLow(int i) { return collection()->getBidLow(i); }
    virtual double getBidClose(int i) { return collection()->getBidClose(i); }
    virtual double getAskOpen(int i) { return collection()->getAskOpen(i); }
    virtual double getAskHigh(int i) { return collection()->getAskHigh(i); }
    virtual double getAskLow(int i) { return collection()->getAskLow(i); }
    virtual double getAskClose(int i) { return collection()->getAskClose(i); }
    virtual int getVolume(int i) { return collection()->getVolume(i); }
    virtual int getLastBarVolume() { return collection()->getLastBarVolume(); }
    virtual double getLastBarTime() { return collection()->getLastBarTime(); }
};

} }  // namespace vexa2::python

void exportMarketDataSnapshotResponseReader();
