// source/K7R/K7RTableIterator.cpp: the row searches of K7RTable: Python names and values turned
// into search objects, and the iterator that asks the library for one found row at a time.
#include "K7R/K7RTableIterator.h"

#include <boost/make_shared.hpp>
#include <boost/python.hpp>

#include <utility>

#include "K7R/K7RColumnNames.h"
#include "K7R/K7RTable.h"
#include "K7R/RowWrapping.h"
#include "Messages.h"

namespace bp = boost::python;
using namespace vexa2::python;

namespace {

// None gives the empty id; so does a name the table's column-name table does not hold, the
// library's own identifier included.
std::string toColumnId(CK7RTable& table, const char* column)
{
    if (!column)
        return std::string();
    const std::string* id = findColumnName(static_cast<int>(table.table()->getType()), column);
    return id ? *id : std::string();
}

// The first of the binding library's conversions that accepts the object, in tag order; nothing
// accepting it gives integer 0. An int out of the 32-bit range raises its overflow error.
K7RColumnValue pythonToColumnValue(const bp::object& value)
{
    bp::extract<std::int32_t> asInteger(value);
    if (asInteger.check())
        return K7RColumnValue(std::in_place_index<0>, asInteger());
    bp::extract<double> asDouble(value);
    if (asDouble.check())
        return K7RColumnValue(std::in_place_index<1>, asDouble());
    bp::extract<bool> asBoolean(value);
    if (asBoolean.check())
        return K7RColumnValue(std::in_place_index<2>, asBoolean());
    bp::extract<std::string> asText(value);
    if (asText.check())
        return K7RColumnValue(std::in_place_index<3>, asText());
    return K7RColumnValue();
}

// The container holds its own reference on the search object; the creator's first one goes.
template <class Search>
K7RTableIteratorHandle makeIterable(CK7RTable& table, Search* search, K7RRowFinder finder)
{
    K7RTableIteratorHandle iterable;
    try
    {
        iterable = boost::make_shared<K7RTableIteratorContainer>(&table, search, finder);
    }
    catch (...)
    {
        search->release();
        throw;
    }
    search->release();
    return iterable;
}

std::vector<const void*> valuePointers(const std::vector<K7RColumnValue>& values)
{
    std::vector<const void*> pointers;
    pointers.reserve(values.size());
    for (const K7RColumnValue& value : values)
        pointers.push_back(columnValuePointer(value));
    return pointers;
}

// The search object of the values and condition searches, filled from the Python list. The
// object is owned by the returned pointer's first reference.
NextGenericRowByColumnValues* makeValuesSearch(CK7RTable& table, const char* column,
                                               K7RRelationalOperators op, const bp::list& values,
                                               Py_ssize_t count)
{
    auto* search = new NextGenericRowByColumnValues;
    try
    {
        search->columnId = toColumnId(table, column);
        search->op = op;
        search->values.resize(static_cast<std::size_t>(count));
        for (Py_ssize_t i = 0; i < count; ++i)
            search->values[static_cast<std::size_t>(i)] = pythonToColumnValue(values[i]);
        search->valuePointers = valuePointers(search->values);
    }
    catch (...)
    {
        search->release();
        throw;
    }
    return search;
}

// The row a library search stored, or null when it found none.
IK7RRow* foundRow(bool found, IK7RRow* row)
{
    if (found)
        return row;
    if (row)
        row->release();
    return nullptr;
}

}  // namespace

const void* columnValuePointer(const K7RColumnValue& value)
{
    switch (value.index())
    {
    case 0: return std::get_if<0>(&value);
    case 1: return std::get_if<1>(&value);
    case 2: return std::get_if<2>(&value);
    default: return std::get<3>(value).c_str();
    }
}

IK7RRow* nextRowByColumnValue(CK7RTable* table, IK7RTableIterator& iterator, IAddRef* search)
{
    auto* by = dynamic_cast<NextGenericRowByColumnValue*>(search);
    if (!table || !by)
        return nullptr;
    IK7RRow* row = nullptr;
    const bool found = table->table()->getNextGenericRowByColumnValue(
        by->columnId.c_str(), columnValuePointer(by->value), iterator, row);
    return foundRow(found, row);
}

IK7RRow* nextRowByColumnValues(CK7RTable* table, IK7RTableIterator& iterator, IAddRef* search)
{
    auto* by = dynamic_cast<NextGenericRowByColumnValues*>(search);
    if (!table || !by)
        return nullptr;
    IK7RRow* row = nullptr;
    const bool found = table->table()->getNextGenericRowByColumnValues(
        by->columnId.c_str(), by->op, static_cast<int>(by->valuePointers.size()),
        by->valuePointers.data(), iterator, row);
    return foundRow(found, row);
}

IK7RRow* nextRowByCondition(CK7RTable* table, IK7RTableIterator& iterator, IAddRef* search)
{
    auto* by = dynamic_cast<NextGenericRowByColumnValues*>(search);
    if (!table || !by)
        return nullptr;
    IK7RRow* row = nullptr;
    const bool found = table->table()->getNextGenericRowByCondition(
        by->columnId.c_str(), by->op, by->valuePointers.data(), iterator, row);
    return foundRow(found, row);
}

IK7RRow* nextRowByMultiColumnValues(CK7RTable* table, IK7RTableIterator& iterator,
                                    IAddRef* search)
{
    auto* by = dynamic_cast<NextGenericRowByMultiColumnValues*>(search);
    if (!table || !by)
        return nullptr;
    IK7RRow* row = nullptr;
    const bool found = table->table()->getNextGenericRowByMultiColumnValues(
        static_cast<int>(by->columnIdPointers.size()), by->columnIdPointers.data(),
        by->operators.data(), by->valuePointers.data(), by->logic, iterator, row);
    return foundRow(found, row);
}

// --- K7RTableRowIterator

K7RTableRowIterator::K7RTableRowIterator(CK7RTable* table, IAddRef* search, K7RRowFinder finder,
                                         bool atEnd)
    : m_table(table), m_search(search), m_atEnd(atEnd), m_finder(finder)
{
    if (m_table)
        m_table->addRef();
    if (m_search)
        m_search->addRef();
}

// The copy starts with no Python object of its own.
K7RTableRowIterator::K7RTableRowIterator(const K7RTableRowIterator& other)
    : m_table(other.m_table), m_row(other.m_row), m_search(other.m_search),
      m_position(other.m_position), m_atEnd(other.m_atEnd), m_finder(other.m_finder)
{
    if (m_table)
        m_table->addRef();
    if (m_row)
        m_row->addRef();
    if (m_search)
        m_search->addRef();
}

K7RTableRowIterator& K7RTableRowIterator::operator=(const K7RTableRowIterator& other)
{
    K7RTableRowIterator copy(other);
    swap(copy);
    return *this;
}

K7RTableRowIterator::~K7RTableRowIterator()
{
    if (m_table)
        m_table->release();
    if (m_row)
        m_row->release();
    if (m_search)
        m_search->release();
}

void K7RTableRowIterator::swap(K7RTableRowIterator& other) noexcept
{
    std::swap(m_table, other.m_table);
    std::swap(m_row, other.m_row);
    std::swap(m_search, other.m_search);
    std::swap(m_current, other.m_current);
    std::swap(m_position, other.m_position);
    std::swap(m_atEnd, other.m_atEnd);
    std::swap(m_finder, other.m_finder);
}

bp::object K7RTableRowIterator::operator*()
{
    if (!m_row)
        raiseMessage(PyExc_IndexError, msgIteratorReachedEnd());
    m_row->addRef();
    m_current = rowToPythonObject(m_row);
    return m_current;
}

K7RTableRowIterator& K7RTableRowIterator::operator++()
{
    IK7RRow* found = m_finder ? m_finder(m_table, m_position, m_search) : nullptr;
    if (m_row)
        m_row->release();
    m_row = found;
    return *this;
}

K7RTableRowIterator::Advanced K7RTableRowIterator::operator++(int)
{
    ++*this;
    return Advanced{this};
}

// The end value meets a running one when a search from the running position would find nothing;
// that search runs on a copy of the position, so the running one does not move.
bool K7RTableRowIterator::operator==(const K7RTableRowIterator& other) const
{
    if (!m_atEnd && !other.m_atEnd)
        return m_position == other.m_position;
    if (m_atEnd && other.m_atEnd)
        return true;
    IK7RTableIterator probe(m_atEnd ? other.m_position : m_position);
    if (!m_finder)
        return true;
    IK7RRow* row = m_finder(m_table, probe, m_search);
    if (!row)
        return true;
    row->release();
    return false;
}

// --- K7RTableIteratorContainer

K7RTableIteratorContainer::K7RTableIteratorContainer(CK7RTable* table, IAddRef* search,
                                                     K7RRowFinder finder)
    : m_table(table), m_search(search), m_finder(finder)
{
    if (m_table)
        m_table->addRef();
    if (m_search)
        m_search->addRef();
}

K7RTableIteratorContainer::~K7RTableIteratorContainer()
{
    if (m_table)
        m_table->release();
    if (m_search)
        m_search->release();
}

// A begin value only when the search finds a first row; that probe's row is let go, and the
// begin value starts from a fresh position of its own.
K7RTableRowIterator K7RTableIteratorContainer::begin() const
{
    if (m_finder)
    {
        IK7RTableIterator probe;
        if (IK7RRow* row = m_finder(m_table, probe, m_search))
        {
            row->release();
            return K7RTableRowIterator(m_table, m_search, m_finder, false);
        }
    }
    return end();
}

K7RTableRowIterator K7RTableIteratorContainer::end() const
{
    return K7RTableRowIterator(m_table, m_search, m_finder, true);
}

// --- The search members

K7RTableIteratorHandle getRowsByColumnValue(CK7RTable& table, const char* column,
                                            const bp::object& value)
{
    auto* search = new NextGenericRowByColumnValue;
    try
    {
        search->value = pythonToColumnValue(value);
        search->columnId = toColumnId(table, column);
    }
    catch (...)
    {
        search->release();
        throw;
    }
    return makeIterable(table, search, &nextRowByColumnValue);
}

K7RTableIteratorHandle getRowsByColumnValues(CK7RTable& table, const char* column,
                                             K7RRelationalOperators op, const bp::list& values)
{
    const Py_ssize_t count = bp::len(values);
    return makeIterable(table, makeValuesSearch(table, column, op, values, count),
                        &nextRowByColumnValues);
}

K7RTableIteratorHandle getRowsByCondition(CK7RTable& table, const char* column,
                                          K7RRelationalOperators op, const bp::list& values)
{
    const Py_ssize_t count = bp::len(values);
    if (count != 2)
        raiseMessage(PyExc_IndexError, msgOnlyTwoValues());
    return makeIterable(table, makeValuesSearch(table, column, op, values, count),
                        &nextRowByCondition);
}

K7RTableIteratorHandle getRowsByMultiColumnValues(CK7RTable& table, const bp::list& columns,
                                                  const bp::list& operators,
                                                  const bp::list& values, K7RLogicOperators logic)
{
    const Py_ssize_t count = bp::len(columns);
    if (bp::len(operators) != count || bp::len(values) != count)
        raiseMessage(PyExc_IndexError, msgArraysLengthsNotEqual());

    auto* search = new NextGenericRowByMultiColumnValues;
    try
    {
        const auto size = static_cast<std::size_t>(count);
        search->logic = logic;
        search->columnIds.resize(size);
        search->operators.resize(size);
        search->values.resize(size);
        for (std::size_t i = 0; i < size; ++i)
        {
            const bp::object columnItem = columns[i];
            bp::extract<std::string> column(columnItem);
            if (!column.check())
                raiseMessage(PyExc_IndexError, msgColumnNamesMustBeStrings());
            const bp::object operatorItem = operators[i];
            bp::extract<K7RRelationalOperators> op(operatorItem);
            if (!op.check())
                raiseMessage(PyExc_IndexError, msgConditionsMustBeRelationalOperators());
            search->columnIds[i] = toColumnId(table, column().c_str());
            search->operators[i] = op();
            search->values[i] = pythonToColumnValue(values[i]);
        }
        search->columnIdPointers.reserve(size);
        for (const std::string& id : search->columnIds)
            search->columnIdPointers.push_back(id.c_str());
        search->valuePointers = valuePointers(search->values);
    }
    catch (...)
    {
        search->release();
        throw;
    }
    return makeIterable(table, search, &nextRowByMultiColumnValues);
}

void exportTableIterator()
{
    bp::class_<K7RTableIteratorContainer, K7RTableIteratorHandle, boost::noncopyable>(
        "K7RTableIterator", "The class iterates through rows of a table.", bp::no_init)
        .def("__iter__",
             bp::range(&K7RTableIteratorContainer::begin, &K7RTableIteratorContainer::end));
}
