// bench/native/floors.cpp: the floors of the reading benchmarks: what the binding library itself
// costs to hand Python one new wrapped object per step and to read its properties, measured with
// the most trivial class it can bind, so that a reader's cost can be split into ours and its.
#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <iterator>

namespace bp = boost::python;

namespace {

// Ten plain fields, each a read-only property: nothing between the binding and the value.
struct FloorItem
{
    double field[10] = {0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5};

    template <int N>
    double get() const
    {
        return field[N];
    }

    // A second new wrapped object, as a tables update's row is, and a method call on it.
    boost::shared_ptr<FloorItem> row() const { return boost::shared_ptr<FloorItem>(new FloorItem); }
    double cell(int index) const { return field[index % 10]; }
};

// A sequence of n items, each made anew when asked for, as a reader makes its rows and bars.
class FloorItems
{
public:
    explicit FloorItems(std::size_t count) : m_count(count) {}

    boost::shared_ptr<FloorItem> get(std::size_t) const
    {
        return boost::shared_ptr<FloorItem>(new FloorItem);
    }

    std::size_t size() const { return m_count; }

    // The plainest iterator the binding's range can walk: an index and nothing else.
    class iterator
    {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = boost::shared_ptr<FloorItem>;
        using difference_type = std::ptrdiff_t;
        using pointer = const value_type*;
        using reference = value_type;

        explicit iterator(std::size_t index) : m_index(index) {}
        value_type operator*() const { return value_type(new FloorItem); }
        iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        iterator operator++(int)
        {
            iterator before(*this);
            ++m_index;
            return before;
        }
        bool operator==(const iterator& other) const { return m_index == other.m_index; }
        bool operator!=(const iterator& other) const { return m_index != other.m_index; }

    private:
        std::size_t m_index;
    };

    iterator begin() const { return iterator(0); }
    iterator end() const { return iterator(m_count); }

private:
    std::size_t m_count;
};

}  // namespace

void exportFloors()
{
    bp::class_<FloorItem, boost::shared_ptr<FloorItem>, boost::noncopyable>("FloorItem", bp::no_init)
        .add_property("f0", &FloorItem::get<0>)
        .add_property("f1", &FloorItem::get<1>)
        .add_property("f2", &FloorItem::get<2>)
        .add_property("f3", &FloorItem::get<3>)
        .add_property("f4", &FloorItem::get<4>)
        .add_property("f5", &FloorItem::get<5>)
        .add_property("f6", &FloorItem::get<6>)
        .add_property("f7", &FloorItem::get<7>)
        .add_property("f8", &FloorItem::get<8>)
        .add_property("f9", &FloorItem::get<9>)
        .add_property("row", &FloorItem::row)
        .def("cell", &FloorItem::cell);

    bp::class_<FloorItems, boost::shared_ptr<FloorItems>, boost::noncopyable>(
        "FloorItems", bp::init<std::size_t>())
        .def("get", &FloorItems::get)
        .def("__len__", &FloorItems::size)
        .def("__iter__", bp::range(&FloorItems::begin, &FloorItems::end));
}
