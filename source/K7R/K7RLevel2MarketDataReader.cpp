// source/K7R/K7RLevel2MarketDataReader.cpp: the level-2 classes: the reader view with its flat
// methods, the update view, the price view and their container bases. The flat methods are bound
// straight to the view's forwarding operations: they are the hot path.
#include "K7R/K7RLevel2MarketDataReader.h"

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <limits>

#include "ObjectHandles.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

namespace {

// The deleter of the two views Python holds: gives back one reference, never deletes.
template <class View>
void releaseAddRefBase(View* view)
{
    if (view)
        static_cast<IAddRef*>(view)->release();
}

// Takes over the creator's reference.
template <class View>
bp::object toPython(View* view)
{
    if (!view)
        return bp::object();
    return bp::object(boost::shared_ptr<View>(view, &releaseAddRefBase<View>));
}

// newLevel2Item: the view of update `i` of `view`, or null outside its updates.
K7RLevel2MarketDataUpdatesReaderHelperItem* newLevel2Item(K7RLevel2MarketDataUpdatesReader* view, long long i)
{
    if (i < 0 || i >= view->getPriceQuotesCount())
        return nullptr;
    return new K7RLevel2MarketDataUpdatesReaderHelperItem(view, static_cast<int>(i));
}

// newLevel2Price: the view of price `j` of the update, or null outside its prices.
K7RLevel2MarketDataUpdatesReaderHelperSubItem* newLevel2Price(const K7RLevel2MarketDataUpdatesReaderHelperItem& item,
                                                              unsigned j)
{
    if (!item.reader())
        return nullptr;
    const int count = item.pricesCount();
    if (count <= 0 || j >= static_cast<unsigned>(count))
        return nullptr;
    return new K7RLevel2MarketDataUpdatesReaderHelperSubItem(static_cast<std::uint32_t>(item.index()), j,
                                                             item.reader());
}

}  // namespace

bp::object newLevel2Reader(IK7RLevel2MarketDataUpdatesReader* reader)
{
    return toPython(new K7RLevel2MarketDataUpdatesReader(reader));
}

std::size_t K7RLevel2MarketDataUpdatesReaderContainerSize(IK7RLevel2MarketDataUpdatesReader* reader)
{
    if (!reader)
        return 0;
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(reader->getPriceQuotesCount()));
}

bp::object K7RLevel2MarketDataUpdatesReaderContainerGetter(IK7RLevel2MarketDataUpdatesReader* reader,
                                                           std::size_t index)
{
    if (!indexInRange<IK7RLevel2MarketDataUpdatesReader, K7RLevel2MarketDataUpdatesReaderContainerSize>(reader,
                                                                                                         index))
        return bp::object();
    // The update view keeps the fresh reader view alive; the creator's reference goes on every way out.
    K7RLevel2MarketDataUpdatesReader* fresh = new K7RLevel2MarketDataUpdatesReader(reader);
    const boost::shared_ptr<K7RLevel2MarketDataUpdatesReader> creator(fresh,
                                                                      &releaseAddRefBase<K7RLevel2MarketDataUpdatesReader>);
    return toPython(newLevel2Item(fresh, static_cast<long long>(index)));
}

std::size_t K7RLevel2MarketDataUpdatesReaderHelperItemSize(K7RLevel2MarketDataUpdatesReader* view)
{
    return view ? K7RLevel2MarketDataUpdatesReaderContainerSize(view->reader()) : 0;
}

bp::object K7RLevel2MarketDataUpdatesReaderHelperItemGetter(K7RLevel2MarketDataUpdatesReader* view,
                                                            std::size_t index)
{
    if (!view || index > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return bp::object();
    return toPython(newLevel2Item(view, static_cast<long long>(index)));
}

K7RLevel2MarketDataUpdatesReaderHelperItem::K7RLevel2MarketDataUpdatesReaderHelperItem(
    K7RLevel2MarketDataUpdatesReader* parent, int index)
    : K7RLevel2MarketDataUpdatesReaderHelperItemBase(parent), m_index(index), m_reader(parent->reader())
{
    if (m_reader)
        m_reader->addRef();
}

// The library reader goes first, then (in the container base) the parent view.
K7RLevel2MarketDataUpdatesReaderHelperItem::~K7RLevel2MarketDataUpdatesReaderHelperItem()
{
    if (m_reader)
        m_reader->release();
}

int K7RLevel2MarketDataUpdatesReaderHelperItem::pricesCount() const
{
    return m_reader ? m_reader->getPricesCount(m_index) : 0;
}

double K7RLevel2MarketDataUpdatesReaderHelperItem::best(
    bool (K7RLevel2MarketDataUpdatesReaderHelperItem::*flag)(int) const) const
{
    if (!m_reader)
        return 0.0;
    const int n = pricesCount();
    for (int j = 0; j < n; ++j)
        if ((this->*flag)(j))
            return getRate(j);
    return 0.0;
}

} }  // namespace vexa2::python

K7RLevel2MarketDataUpdatesReaderHelperSubItem::K7RLevel2MarketDataUpdatesReaderHelperSubItem(
    std::uint32_t i, std::uint32_t j, IK7RLevel2MarketDataUpdatesReader* reader)
    : m_i(i), m_j(j), m_reader(reader)
{
    if (m_reader)
        m_reader->addRef();
}

K7RLevel2MarketDataUpdatesReaderHelperSubItem::~K7RLevel2MarketDataUpdatesReaderHelperSubItem()
{
    if (m_reader)
        m_reader->release();
}

namespace {

using namespace vexa2::python;
using View = K7RLevel2MarketDataUpdatesReader;
using ViewBase = K7RLevel2MarketDataUpdatesReaderBase;
using Item = K7RLevel2MarketDataUpdatesReaderHelperItem;
using ItemBase = K7RLevel2MarketDataUpdatesReaderHelperItemBase;
using Price = K7RLevel2MarketDataUpdatesReaderHelperSubItem;

bp::object level2ReaderGetPrices(View& view, int i)
{
    return toPython(newLevel2Item(&view, i));
}

bp::object level2ItemGetPrice(Item& item, unsigned j)
{
    Price* price = newLevel2Price(item, j);
    return price ? bp::object(makeLibraryHandle(price)) : bp::object();
}

double level2ItemBestBid(Item& item) { return item.best(&Item::isBid); }
double level2ItemBestAsk(Item& item) { return item.best(&Item::isAsk); }
double level2ItemBestLow(Item& item) { return item.best(&Item::isLow); }
double level2ItemBestHigh(Item& item) { return item.best(&Item::isHigh); }

}  // namespace

void exportLevel2MarketDataUpdatesReader()
{
    const char* const reserved = "Reserved for future use.";

    // Each class's shared-pointer converters come with its held type.
    bp::class_<ViewBase, boost::shared_ptr<ViewBase>, boost::noncopyable>("_K7RLevel2MarketDataUpdatesReader",
                                                                         bp::no_init);

    bp::class_<View, boost::shared_ptr<View>, bp::bases<ViewBase>, boost::noncopyable>(
        "K7RLevel2MarketDataUpdatesReader", reserved, bp::no_init)
        .def("__iter__", bp::range(&View::begin, &View::end))
        .add_property("price_quotes_count", &View::getPriceQuotesCount, reserved)
        .def("get_date_time", &View::getDateTime, reserved)
        .def("get_symbol_id", &View::getSymbolId, reserved)
        .def("get_volume", &View::getVolume, reserved)
        .def("get_prices_count", &View::getPricesCount, reserved)
        .def("is_bid", &View::isBid, reserved)
        .def("is_ask", &View::isAsk, reserved)
        .def("is_low", &View::isLow, reserved)
        .def("is_high", &View::isHigh, reserved)
        .def("get_rate", &View::getRate, reserved)
        .def("get_amount", &View::getAmount, reserved)
        .def("get_condition", &View::getCondition, reserved)
        .def("get_originator", &View::getOriginator, reserved)
        .def("get_prices", &level2ReaderGetPrices, reserved);

    bp::class_<ItemBase, boost::shared_ptr<ItemBase>, boost::noncopyable>("_K7RLevel2MarketDataUpdatesReaderL1",
                                                                         bp::no_init);

    bp::class_<Item, boost::shared_ptr<Item>, bp::bases<ItemBase>, boost::noncopyable>(
        "K7RLevel2MarketDataUpdatesReaderL1", reserved, bp::no_init)
        .def("__iter__", bp::range(&Item::begin, &Item::end))
        .add_property("prices_count", &Item::pricesCount, reserved)
        .def("get_price", &level2ItemGetPrice, reserved)
        .def("is_bid", &Item::isBid, reserved)
        .def("is_ask", &Item::isAsk, reserved)
        .def("is_low", &Item::isLow, reserved)
        .def("is_high", &Item::isHigh, reserved)
        .def("get_rate", &Item::getRate, reserved)
        .def("get_amount", &Item::getAmount, reserved)
        .def("get_condition", &Item::getCondition, reserved)
        .def("get_originator", &Item::getOriginator, reserved)
        .def("get_bid", &level2ItemBestBid, reserved)
        .def("get_ask", &level2ItemBestAsk, reserved)
        .def("get_low", &level2ItemBestLow, reserved)
        .def("get_high", &level2ItemBestHigh, reserved);

    bp::class_<Price, LibraryHandle<Price>, boost::noncopyable>("K7RLevel2MarketDataUpdatesReaderPrice", reserved,
                                                                bp::no_init)
        .add_property("is_bid", &Price::isBid, reserved)
        .add_property("is_ask", &Price::isAsk, reserved)
        .add_property("is_low", &Price::isLow, reserved)
        .add_property("is_high", &Price::isHigh, reserved)
        .add_property("rate", &Price::getRate, reserved)
        .add_property("amount", &Price::getAmount, reserved)
        .add_property("condition", &Price::getCondition, reserved)
        .add_property("originator", &Price::getOriginator, reserved);
}
