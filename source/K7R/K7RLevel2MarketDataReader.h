// source/K7R/K7RLevel2MarketDataReader.h: the level-2 reader and its own views: the reader view,
// the view of one update (which checks price indices and picks the best prices) and the view of
// one price. Each view counts its own references and holds what it reads from, so any view
// outlives the views and the Python objects that produced it.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <cstddef>
#include <cstdint>

#include <velvix/Velvix.h>

#include "AddRefImpl.h"
#include "ObjectIteratorContainer.h"

namespace vexa2 { namespace python {

class K7RLevel2MarketDataUpdatesReader;

// The reader view's iteration: its updates, each as an update view over a fresh reader view.
std::size_t K7RLevel2MarketDataUpdatesReaderContainerSize(IK7RLevel2MarketDataUpdatesReader* reader);
boost::python::object K7RLevel2MarketDataUpdatesReaderContainerGetter(IK7RLevel2MarketDataUpdatesReader* reader,
                                                                      std::size_t index);

// An update view's iteration: the update views of its whole parent reader view.
std::size_t K7RLevel2MarketDataUpdatesReaderHelperItemSize(K7RLevel2MarketDataUpdatesReader* view);
boost::python::object K7RLevel2MarketDataUpdatesReaderHelperItemGetter(K7RLevel2MarketDataUpdatesReader* view,
                                                                       std::size_t index);

using K7RLevel2MarketDataUpdatesReaderBase =
    K7RObjectIteratorContainer<IK7RLevel2MarketDataUpdatesReader, K7RLevel2MarketDataUpdatesReaderContainerGetter,
                               K7RLevel2MarketDataUpdatesReaderContainerSize>;

// The reader view: holds its own reference to the library reader (through the container base),
// which is never null; each operation forwards to it unchanged, indices unchecked. Starts with one
// reference of its own.
class K7RLevel2MarketDataUpdatesReader : public K7RLevel2MarketDataUpdatesReaderBase,
                                         public TThreadSafeAddRefImpl<IAddRef>
{
public:
    explicit K7RLevel2MarketDataUpdatesReader(IK7RLevel2MarketDataUpdatesReader* reader)
        : K7RLevel2MarketDataUpdatesReaderBase(reader)
    {
    }

    virtual int getPriceQuotesCount() { return reader()->getPriceQuotesCount(); }
    virtual double getDateTime(int i) { return reader()->getDateTime(i); }
    virtual int getSymbolId(int i) { return reader()->getSymbolId(i); }
    virtual int getVolume(int i) { return reader()->getVolume(i); }
    virtual int getPricesCount(int i) { return reader()->getPricesCount(i); }
    virtual bool isBid(int i, int j) { return reader()->isBid(i, j); }
    virtual bool isAsk(int i, int j) { return reader()->isAsk(i, j); }
    virtual bool isLow(int i, int j) { return reader()->isLow(i, j); }
    virtual bool isHigh(int i, int j) { return reader()->isHigh(i, j); }
    virtual double getRate(int i, int j) { return reader()->getRate(i, j); }
    virtual double getAmount(int i, int j) { return reader()->getAmount(i, j); }
    virtual const char* getCondition(int i, int j) { return reader()->getCondition(i, j); }
    virtual const char* getOriginator(int i, int j) { return reader()->getOriginator(i, j); }

    IK7RLevel2MarketDataUpdatesReader* reader() const { return collection(); }

protected:
    ~K7RLevel2MarketDataUpdatesReader() override = default;
};

using K7RLevel2MarketDataUpdatesReaderHelperItemBase =
    K7RObjectIteratorContainer<K7RLevel2MarketDataUpdatesReader, K7RLevel2MarketDataUpdatesReaderHelperItemGetter,
                               K7RLevel2MarketDataUpdatesReaderHelperItemSize>;

// The view of update `index`: holds its parent reader view (through the container base) and the
// library reader, each with a reference of its own. Price indices are checked against the
// update's price count, read again at every call.
class K7RLevel2MarketDataUpdatesReaderHelperItem : public K7RLevel2MarketDataUpdatesReaderHelperItemBase,
                                                   public TThreadSafeAddRefImpl<IAddRef>
{
public:
    K7RLevel2MarketDataUpdatesReaderHelperItem(K7RLevel2MarketDataUpdatesReader* parent, int index);

    int index() const { return m_index; }
    IK7RLevel2MarketDataUpdatesReader* reader() const { return m_reader; }

    int pricesCount() const;
    bool inRange(int j) const { return m_reader && j >= 0 && j < pricesCount(); }

    bool isBid(int j) const { return inRange(j) && m_reader->isBid(m_index, j); }
    bool isAsk(int j) const { return inRange(j) && m_reader->isAsk(m_index, j); }
    bool isLow(int j) const { return inRange(j) && m_reader->isLow(m_index, j); }
    bool isHigh(int j) const { return inRange(j) && m_reader->isHigh(m_index, j); }
    double getRate(int j) const { return inRange(j) ? m_reader->getRate(m_index, j) : 0.0; }
    double getAmount(int j) const { return inRange(j) ? m_reader->getAmount(m_index, j) : 0.0; }
    const char* getCondition(int j) const { return inRange(j) ? m_reader->getCondition(m_index, j) : nullptr; }
    const char* getOriginator(int j) const { return inRange(j) ? m_reader->getOriginator(m_index, j) : nullptr; }

    // The rate of the first price that carries the flag; 0.0 when none does.
    double best(bool (K7RLevel2MarketDataUpdatesReaderHelperItem::*flag)(int) const) const;

protected:
    ~K7RLevel2MarketDataUpdatesReaderHelperItem() override;

private:
    int m_index;
    IK7RLevel2MarketDataUpdatesReader* m_reader;
};

// A new reader view over `reader` (never null; the view adds its own reference), handed to Python
// with the one reference it starts with.
boost::python::object newLevel2Reader(IK7RLevel2MarketDataUpdatesReader* reader);

} }  // namespace vexa2::python

// The view of one price: fixed indices, checked when it was made, and the library reader.
class K7RLevel2MarketDataUpdatesReaderHelperSubItem : public vexa2::python::TThreadSafeAddRefImpl<IAddRef>
{
public:
    K7RLevel2MarketDataUpdatesReaderHelperSubItem(std::uint32_t i, std::uint32_t j,
                                                  IK7RLevel2MarketDataUpdatesReader* reader);

    bool isBid() const { return m_reader && m_reader->isBid(index(), price()); }
    bool isAsk() const { return m_reader && m_reader->isAsk(index(), price()); }
    bool isLow() const { return m_reader && m_reader->isLow(index(), price()); }
    bool isHigh() const { return m_reader && m_reader->isHigh(index(), price()); }
    double getRate() const { return m_reader ? m_reader->getRate(index(), price()) : 0.0; }
    double getAmount() const { return m_reader ? m_reader->getAmount(index(), price()) : 0.0; }
    const char* getCondition() const { return m_reader ? m_reader->getCondition(index(), price()) : nullptr; }
    const char* getOriginator() const { return m_reader ? m_reader->getOriginator(index(), price()) : nullptr; }

protected:
    ~K7RLevel2MarketDataUpdatesReaderHelperSubItem() override;

private:
    int index() const { return static_cast<int>(m_i); }
    int price() const { return static_cast<int>(m_j); }

    std::uint32_t m_i;
    std::uint32_t m_j;
    IK7RLevel2MarketDataUpdatesReader* m_reader;
};

void exportLevel2MarketDataUpdatesReader();
