// source/K7R/K7RTableIterator.h: the row searches of K7RTable: the search values and objects, the
// finders that run one library search, and the iterable that Python walks the found rows with.
#pragma once

#include <boost/python/list.hpp>
#include <boost/python/object.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include <velvix/Velvix.h>

#include "AddRefImpl.h"

class CK7RTable;

// A search value as the library reads it through a pointer: tag 0 int32, 1 double, 2 boolean,
// 3 text. A new value is integer 0.
using K7RColumnValue = std::variant<std::int32_t, double, bool, std::string>;

// The pointer a search hands the library for `value`; valid while `value` is unchanged.
const void* columnValuePointer(const K7RColumnValue& value);

// The search objects are counted like library objects, since iterators and their copies share
// them; the finders recognise their own by a dynamic cast.
class NextGenericRowByColumnValue : public vexa2::python::TThreadSafeAddRefImpl<IAddRef>
{
public:
    std::string columnId;
    K7RColumnValue value;
};

// Used by both the values search and the condition search.
class NextGenericRowByColumnValues : public vexa2::python::TThreadSafeAddRefImpl<IAddRef>
{
public:
    std::string columnId;
    K7RRelationalOperators op = K7RRelationalOperators::EqualTo;
    std::vector<K7RColumnValue> values;
    // The library's array, built once the values are stored (they never change afterwards).
    std::vector<const void*> valuePointers;
};

class NextGenericRowByMultiColumnValues : public vexa2::python::TThreadSafeAddRefImpl<IAddRef>
{
public:
    std::vector<std::string> columnIds;
    std::vector<K7RRelationalOperators> operators;
    std::vector<K7RColumnValue> values;
    K7RLogicOperators logic = K7RLogicOperators::OperatorAnd;
    // The library's arrays, built once the search is filled.
    std::vector<const char*> columnIdPointers;
    std::vector<const void*> valuePointers;
};

// Runs one library search from `iterator` (advancing it): the found row, add-referenced, or null;
// also null for a null table or a search object of another kind.
using K7RRowFinder = IK7RRow* (*)(CK7RTable* table, IK7RTableIterator& iterator, IAddRef* search);

IK7RRow* nextRowByColumnValue(CK7RTable* table, IK7RTableIterator& iterator, IAddRef* search);
IK7RRow* nextRowByColumnValues(CK7RTable* table, IK7RTableIterator& iterator, IAddRef* search);
IK7RRow* nextRowByCondition(CK7RTable* table, IK7RTableIterator& iterator, IAddRef* search);
IK7RRow* nextRowByMultiColumnValues(CK7RTable* table, IK7RTableIterator& iterator,
                                    IAddRef* search);

// One position of a search. The begin value walks the table; the end value never moves and is
// met once a search from the running position would find nothing more.
class K7RTableRowIterator
{
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = boost::python::object;
    using difference_type = std::ptrdiff_t;
    using pointer = const boost::python::object*;
    using reference = boost::python::object;

    // Adds its own references to `table` and `search`.
    K7RTableRowIterator(CK7RTable* table, IAddRef* search, K7RRowFinder finder, bool atEnd);
    K7RTableRowIterator(const K7RTableRowIterator& other);
    K7RTableRowIterator& operator=(const K7RTableRowIterator& other);
    ~K7RTableRowIterator();

    // The found row of the last advance, wrapped; IndexError 1018 if that advance found none.
    boost::python::object operator*();

    K7RTableRowIterator& operator++();

    // The Python iterator's step reads `*it++`: advance this iterator, then read this same one,
    // so the row found by the advance is the one returned and kept here.
    struct Advanced
    {
        K7RTableRowIterator* self;
        boost::python::object operator*() const { return **self; }
    };
    Advanced operator++(int);

    bool operator==(const K7RTableRowIterator& other) const;
    bool operator!=(const K7RTableRowIterator& other) const { return !(*this == other); }

private:
    void swap(K7RTableRowIterator& other) noexcept;

    CK7RTable* m_table;
    IK7RRow* m_row = nullptr;
    IAddRef* m_search;
    boost::python::object m_current;
    IK7RTableIterator m_position;
    bool m_atEnd;
    K7RRowFinder m_finder;
};

// What a search method returns (Python K7RTableIterator): every __iter__ starts the search anew.
class K7RTableIteratorContainer
{
public:
    // Adds its own references to `table` and `search`.
    K7RTableIteratorContainer(CK7RTable* table, IAddRef* search, K7RRowFinder finder);
    ~K7RTableIteratorContainer();
    K7RTableIteratorContainer(const K7RTableIteratorContainer&) = delete;
    K7RTableIteratorContainer& operator=(const K7RTableIteratorContainer&) = delete;

    K7RTableRowIterator begin() const;
    K7RTableRowIterator end() const;

private:
    CK7RTable* m_table;
    IAddRef* m_search;
    K7RRowFinder m_finder;
};

using K7RTableIteratorHandle = boost::shared_ptr<K7RTableIteratorContainer>;

// The four search members of K7RTable.
K7RTableIteratorHandle getRowsByColumnValue(CK7RTable& table, const char* column,
                                            const boost::python::object& value);
K7RTableIteratorHandle getRowsByColumnValues(CK7RTable& table, const char* column,
                                             K7RRelationalOperators op,
                                             const boost::python::list& values);
K7RTableIteratorHandle getRowsByCondition(CK7RTable& table, const char* column,
                                          K7RRelationalOperators op,
                                          const boost::python::list& values);
K7RTableIteratorHandle getRowsByMultiColumnValues(CK7RTable& table,
                                                  const boost::python::list& columns,
                                                  const boost::python::list& operators,
                                                  const boost::python::list& values,
                                                  K7RLogicOperators logic);

// Registers the Python class K7RTableIterator.
void exportTableIterator();
