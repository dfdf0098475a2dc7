// source/K7R/K7RMarketDataSnapshotReader.cpp: the snapshot reader classes: the reader, its container
// base and its items. Histories of a hundred thousand bars are read through here, so dates take
// the direct OLE road and nothing is looked up per item beyond the class converter.
#include "K7R/K7RMarketDataSnapshotReader.h"

#include <boost/python.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "DateTime.h"
#include "ObjectHandles.h"

namespace bp = boost::python;

// One bar or tick. Keeps its own reference to the reader, so it stays readable after the reader
// object is gone.
class K7RMarketDataSnapshotResponseReaderItem
{
public:
    K7RMarketDataSnapshotResponseReaderItem(IK7RMarketDataSnapshotResponseReader* reader, int index)
        : m_reader(reader), m_index(index)
    {
        m_reader->addRef();
    }

    ~K7RMarketDataSnapshotResponseReaderItem() { m_reader->release(); }

    K7RMarketDataSnapshotResponseReaderItem(const K7RMarketDataSnapshotResponseReaderItem&) = delete;
    K7RMarketDataSnapshotResponseReaderItem& operator=(const K7RMarketDataSnapshotResponseReaderItem&) =
        delete;

    double getDate() const { return m_reader->getDate(m_index); }
    double getBid() const { return m_reader->getBid(m_index); }
    double getAsk() const { return m_reader->getAsk(m_index); }
    double getBidOpen() const { return m_reader->getBidOpen(m_index); }
    double getBidHigh() const { return m_reader->getBidHigh(m_index); }
    double getBidLow() const { return m_reader->getBidLow(m_index); }
    double getBidClose() const { return m_reader->getBidClose(m_index); }
    double getAskOpen() const { return m_reader->getAskOpen(m_index); }
    double getAskHigh() const { return m_reader->getAskHigh(m_index); }
    double getAskLow() const { return m_reader->getAskLow(m_index); }
    double getAskClose() const { return m_reader->getAskClose(m_index); }
    int getVolume() const { return m_reader->getVolume(m_index); }

private:
    IK7RMarketDataSnapshotResponseReader* m_reader;
    int m_index;
};

namespace vexa2 { namespace python {

std::size_t K7RMarketDataSnapshotResponseReaderSize(IK7RMarketDataSnapshotResponseReader* reader)
{
    return defaultSize(reader);
}

bp::object K7RMarketDataSnapshotResponseReaderGetter(IK7RMarketDataSnapshotResponseReader* reader,
                                                     std::size_t index)
{
    if (!indexInRange<IK7RMarketDataSnapshotResponseReader, K7RMarketDataSnapshotResponseReaderSize>(
            reader, index))
        return bp::object();
    // A history is read a hundred thousand items at a time: one allocation for the item and its
    // count, and the Python object made straight as the item's class.
    using Item = K7RMarketDataSnapshotResponseReaderItem;
    using Holder = bp::objects::pointer_holder<boost::shared_ptr<Item>, Item>;
    boost::shared_ptr<Item> item = boost::make_shared<Item>(reader, static_cast<int>(index));
    PyObject* object = bp::objects::make_ptr_instance<Item, Holder>::execute(item);
    if (!object)
        bp::throw_error_already_set();
    return bp::object(bp::handle<>(object));
}

} }  // namespace vexa2::python

namespace {

using namespace vexa2::python;
using Item = K7RMarketDataSnapshotResponseReaderItem;
using Helper = K7RMarketDataSnapshotResponseReaderHelper;
using Base = K7RMarketDataSnapshotResponseReaderBase;

bp::object snapshotItemDate(const Item& item)
{
    return oleDateToPython(item.getDate());
}

bp::object snapshotReaderGetDate(Helper& reader, int i)
{
    return oleDateToPython(reader.getDate(i));
}

bp::object snapshotReaderGetLastBarTime(Helper& reader)
{
    return oleDateToPython(reader.getLastBarTime());
}

}  // namespace

void exportMarketDataSnapshotResponseReader()
{
    const char* const reserved = "Reserved for future use.";

    // Each class's shared-pointer converters come with its held type.
    bp::class_<Item, boost::shared_ptr<Item>, boost::noncopyable>(
        "K7RMarketDataSnapshotResponseReaderItem", reserved, bp::no_init)
        .add_property("date", &snapshotItemDate, reserved)
        .add_property("bid", &Item::getBid, reserved)
        .add_property("ask", &Item::getAsk, reserved)
        .add_property("bid_open", &Item::getBidOpen, reserved)
        .add_property("bid_high", &Item::getBidHigh, reserved)
        .add_property("bid_low", &Item::getBidLow, reserved)
        .add_property("bid_close", &Item::getBidClose, reserved)
        .add_property("ask_open", &Item::getAskOpen, reserved)
        .add_property("ask_high", &Item::getAskHigh, reserved)
        .add_property("ask_low", &Item::getAskLow, reserved)
        .add_property("ask_close", &Item::getAskClose, reserved)
        .add_property("volume", &Item::getVolume, reserved);

    bp::class_<Base, boost::shared_ptr<Base>, boost::noncopyable>(
        "_K7RMarketDataSnapshotResponseReader", bp::no_init);

    // size and __len__ read the library's size() directly; there is no get-by-index member.
    bp::class_<Helper, boost::shared_ptr<Helper>, bp::bases<Base>, boost::noncopyable>(
        "K7RMarketDataSnapshotResponseReader", reserved, bp::no_init)
        .def("__iter__", bp::range(&Helper::begin, &Helper::end))
        .add_property("is_bar", &Helper::isBar, reserved)
        .add_property("size", &Helper::size, reserved)
        .def("__len__", &Helper::size, reserved)
        .def("get_date", &snapshotReaderGetDate, reserved)
        .def("get_bid", &Helper::getBid, reserved)
        .def("get_ask", &Helper::getAsk, reserved)
        .def("get_bid_open", &Helper::getBidOpen, reserved)
        .def("get_bid_high", &Helper::getBidHigh, reserved)
        .def("get_bid_low", &Helper::getBidLow, reserved)
        .def("get_bid_close", &Helper::getBidClose, reserved)
        .def("get_ask_open", &Helper::getAskOpen, reserved)
        .def("get_ask_high", &Helper::getAskHigh, reserved)
        .def("get_ask_low", &Helper::getAskLow, reserved)
        .def("get_ask_close", &Helper::getAskClose, reserved)
        .def("get_volume", &Helper::getVolume, reserved)
        .def("get_last_bar_volume", &Helper::getLastBarVolume, reserved)
        .def("get_last_bar_time", &snapshotReaderGetLastBarTime, reserved);
}
