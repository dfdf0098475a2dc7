// source/ObjectIteratorContainer.h: the generic container that makes a library collection or
// reader a Python sequence, and the helper that registers the members each class offers.
// Containers and their iterators are used only by Python threads holding the interpreter lock.
#pragma once

#include "ObjectHandles.h"

#include <boost/python.hpp>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>

namespace vexa2 { namespace python {

// 0 for a null collection; otherwise the library's 32-bit signed size, widened with its sign.
template <class Coll>
std::size_t defaultSize(Coll* collection)
{
    if (!collection)
        return 0;
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(collection->size()));
}

// True when `index` is a position the library may be asked for: below the size and within the
// library's non-negative 32-bit index.
template <class Coll, std::size_t (*Size)(Coll*) = defaultSize<Coll>>
bool indexInRange(Coll* collection, std::size_t index)
{
    return collection && index <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())
        && index < Size(collection);
}

// None past the end; otherwise the add-referenced item, wrapped.
template <class Coll>
boost::python::object defaultGetter(Coll* collection, std::size_t index)
{
    if (!indexInRange(collection, index))
        return boost::python::object();
    return wrapApiObject(collection->get(static_cast<int>(index)));
}

template <class Coll>
using ContainerGetter = boost::python::object (*)(Coll*, std::size_t);
template <class Coll>
using ContainerSize = std::size_t (*)(Coll*);

// A position in a container. The end iterator carries only its flag; it meets a running
// iterator once that one's index reaches the size, which is read afresh at every comparison,
// so items added while iterating are reached and a shrinking collection ends early.
//
// The Python iterator's step is `if (it == end) stop; return *it++;`: it reads the size once, in
// the comparison, and the item at an index that comparison found below the size is fetched with
// InRangeGetter, which need not ask the size again. Stepping makes no copy of the iterator.
template <class Coll, ContainerGetter<Coll> Getter = defaultGetter<Coll>,
          ContainerSize<Coll> Size = defaultSize<Coll>, ContainerGetter<Coll> InRangeGetter = Getter>
class K7RObjectIterator
{
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = boost::python::object;
    using difference_type = std::ptrdiff_t;
    using pointer = const boost::python::object*;
    using reference = boost::python::object;

    K7RObjectIterator(Coll* collection, bool atEnd) : m_collection(collection), m_atEnd(atEnd)
    {
        if (m_collection)
            m_collection->addRef();
    }

    K7RObjectIterator(const K7RObjectIterator& other)
        : m_index(other.m_index), m_collection(other.m_collection), m_current(other.m_current),
          m_atEnd(other.m_atEnd)
    {
        if (m_collection)
            m_collection->addRef();
    }

    K7RObjectIterator& operator=(const K7RObjectIterator& other)
    {
        K7RObjectIterator copy(other);
        std::swap(m_index, copy.m_index);
        std::swap(m_collection, copy.m_collection);
        std::swap(m_current, copy.m_current);
        std::swap(m_atEnd, copy.m_atEnd);
        std::swap(m_inRange, copy.m_inRange);
        return *this;
    }

    ~K7RObjectIterator()
    {
        if (m_collection)
            m_collection->release();
    }

    // The item here, fetched now and kept as the current item.
    boost::python::object operator*() const { return itemAt(m_index); }

    K7RObjectIterator& operator++()
    {
        ++m_index;
        return *this;
    }

    // `*it++` reads the item at the index before the step, from this same iterator.
    struct Stepped
    {
        const K7RObjectIterator* self;
        std::size_t index;
        boost::python::object operator*() const { return self->itemAt(index); }
    };

    Stepped operator++(int)
    {
        return Stepped{this, m_index++};
    }

    bool operator==(const K7RObjectIterator& other) const
    {
        if (m_atEnd && other.m_atEnd)
            return true;
        if (!m_atEnd && !other.m_atEnd)
            return m_index == other.m_index;
        const K7RObjectIterator& running = m_atEnd ? other : *this;
        const bool atEnd = running.m_index >= Size(running.m_collection);
        running.m_inRange = atEnd ? kNone : running.m_index;
        return atEnd;
    }

    bool operator!=(const K7RObjectIterator& other) const { return !(*this == other); }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    boost::python::object itemAt(std::size_t index) const
    {
        m_current = index == m_inRange ? InRangeGetter(m_collection, index)
                                       : Getter(m_collection, index);
        return m_current;
    }

    std::size_t m_index = 0;
    Coll* m_collection;
    mutable boost::python::object m_current;
    bool m_atEnd;
    // The index the last comparison with the end found below the size.
    mutable std::size_t m_inRange = kNone;
};

// Holds its own reference to the collection (null allowed) for its whole life. InRangeGetter
// gives the item at an index already found below the size (see K7RObjectIterator).
template <class Coll, ContainerGetter<Coll> Getter = defaultGetter<Coll>,
          ContainerSize<Coll> Size = defaultSize<Coll>, ContainerGetter<Coll> InRangeGetter = Getter>
class K7RObjectIteratorContainer
{
public:
    using collection_type = Coll;
    using iterator = K7RObjectIterator<Coll, Getter, Size, InRangeGetter>;

    // Adds a reference; the caller keeps or releases its own.
    explicit K7RObjectIteratorContainer(Coll* collection) : m_collection(collection)
    {
        if (m_collection)
            m_collection->addRef();
    }

    virtual ~K7RObjectIteratorContainer()
    {
        if (m_collection)
            m_collection->release();
    }

    K7RObjectIteratorContainer(const K7RObjectIteratorContainer&) = delete;
    K7RObjectIteratorContainer& operator=(const K7RObjectIteratorContainer&) = delete;

    std::size_t size() const { return Size(m_collection); }
    boost::python::object get(std::size_t index) const { return Getter(m_collection, index); }
    iterator begin() const { return iterator(m_collection, false); }
    iterator end() const { return iterator(m_collection, true); }
    Coll* collection() const { return m_collection; }

private:
    Coll* m_collection;
};

// Registers the Python members a container class offers; each is named and documented by the
// registration, and the ones it leaves out do not exist:
//
//     class_<Descriptors, boost::shared_ptr<Descriptors>, boost::noncopyable>("...", doc, no_init)
//         .def(ContainerMembers<Descriptors>()
//                  .size("size doc").len("len doc").get("get", "get doc").iter("iter doc"));
template <class Container>
class ContainerMembers : public boost::python::def_visitor<ContainerMembers<Container>>
{
public:
    // The read-only property `size`.
    ContainerMembers size(const char* doc) const { return with(&ContainerMembers::m_sizeDoc, doc); }
    // The method __len__, giving the same value.
    ContainerMembers len(const char* doc) const { return with(&ContainerMembers::m_lenDoc, doc); }
    // The get-by-index method under `name` (get, get_row, __getitem__).
    ContainerMembers get(const char* name, const char* doc) const
    {
        ContainerMembers copy = with(&ContainerMembers::m_getDoc, doc);
        copy.m_getName = name;
        return copy;
    }
    // __iter__, over begin() to end(), items by value.
    ContainerMembers iter(const char* doc) const { return with(&ContainerMembers::m_iterDoc, doc); }

private:
    friend class boost::python::def_visitor_access;

    ContainerMembers with(const char* ContainerMembers::*field, const char* doc) const
    {
        ContainerMembers copy(*this);
        copy.*field = doc;
        return copy;
    }

    template <class Class>
    void visit(Class& cls) const
    {
        namespace bp = boost::python;
        if (m_sizeDoc)
            cls.add_property("size", &Container::size, m_sizeDoc);
        if (m_lenDoc)
            cls.def("__len__", &Container::size, m_lenDoc);
        if (m_getName)
            cls.def(m_getName, &Container::get, m_getDoc);
        if (m_iterDoc)
            cls.def("__iter__", bp::range(&Container::begin, &Container::end), m_iterDoc);
    }

    const char* m_sizeDoc = nullptr;
    const char* m_lenDoc = nullptr;
    const char* m_getName = nullptr;
    const char* m_getDoc = nullptr;
    const char* m_iterDoc = nullptr;
};

} }  // namespace vexa2::python
