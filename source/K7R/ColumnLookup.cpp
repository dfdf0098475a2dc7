// source/K7R/ColumnLookup.cpp: the column walk of a row's attribute access, and the per-collection
// lookup that answers as the walk would. Reading a late column by walking costs three library
// calls per column before it; rows of one table share their collection, so it is learnt once.
#include "K7R/ColumnLookup.h"

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "K7R/K7RColumnNames.h"
#include "K7R/K7RTableColumn.h"

namespace vexa2 { namespace python {

namespace {

using Type = IK7RTableColumn::K7RTableColumnType;

// Enough for every collection a program reads at once; rows of a table share theirs.
constexpr std::size_t kMaxCollections = 64;
// Names a program reads are few; beyond this a collection answers from its identifiers alone.
constexpr std::size_t kMaxNames = 256;

// Byte-wise equality of a NUL-terminated identifier and a name.
bool sameText(const char* id, std::string_view name)
{
    for (const char c : name)
    {
        if (*id == '\0' || *id != c)
            return false;
        ++id;
    }
    return *id == '\0';
}

std::string_view translated(int tableType, std::string_view name)
{
    const std::string* id = findColumnName(tableType, name);
    return id ? std::string_view(*id) : std::string_view();
}

std::size_t hashOf(std::string_view text)
{
    return std::hash<std::string_view>()(text);
}

std::size_t hashOf(std::size_t nameHash, int tableType)
{
    return nameHash ^ (static_cast<std::size_t>(static_cast<std::uint32_t>(tableType) + 1)
                       * 0x9E3779B97F4A7C15ull);
}

// An open-addressing table from (table type, text) to a value; texts compare byte-wise with their
// length, so a key holding a NUL byte is a key like any other.
template <class Value>
class NameTable
{
public:
    const Value* find(std::size_t hash, int tableType, std::string_view text) const
    {
        if (m_slots.empty())
            return nullptr;
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask)
        {
            const Slot& slot = m_slots[i];
            if (!slot.used)
                return nullptr;
            if (slot.hash == hash && slot.tableType == tableType
                && std::string_view(slot.text) == text)
                return &slot.value;
        }
    }

    // `text` must not be in the table yet.
    void insert(std::size_t hash, int tableType, std::string_view text, Value value)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            grow();
        const std::size_t mask = m_slots.size() - 1;
        std::size_t i = hash & mask;
        while (m_slots[i].used)
            i = (i + 1) & mask;
        m_slots[i] = Slot{hash, tableType, true, std::string(text), value};
        ++m_count;
    }

    std::size_t size() const { return m_count; }

private:
    struct Slot
    {
        std::size_t hash = 0;
        int tableType = 0;
        bool used = false;
        std::string text;
        Value value{};
    };

    void grow()
    {
        std::vector<Slot> old(std::max<std::size_t>(16, m_slots.size() * 2));
        old.swap(m_slots);
        m_count = 0;
        for (Slot& slot : old)
            if (slot.used)
                insert(slot.hash, slot.tableType, slot.text, slot.value);
    }

    std::vector<Slot> m_slots;
    std::size_t m_count = 0;
};

// What one walk of a collection learnt: each column's type, the first index of each identifier,
// and the answers already given by name.
class KnownCollection
{
public:
    // Takes a reference of its own, once it has learnt the collection.
    explicit KnownCollection(IK7RTableColumnCollection* columns) : m_columns(columns)
    {
        learn();
        m_columns->addRef();
    }

    ~KnownCollection() { m_columns->release(); }

    KnownCollection(const KnownCollection&) = delete;
    KnownCollection& operator=(const KnownCollection&) = delete;

    IK7RTableColumnCollection* columns() const { return m_columns; }
    std::uint64_t lastUse = 0;

    // A collection is fixed once handed out; a size that changed all the same is learnt anew.
    void checkSize(int size)
    {
        if (size != static_cast<int>(m_types.size()))
            learn();
    }

    ColumnMatch find(int tableType, std::string_view name)
    {
        const std::size_t nameHash = hashOf(name);
        const std::size_t hash = hashOf(nameHash, tableType);
        if (const ColumnMatch* known = m_names.find(hash, tableType, name))
            return *known;
        int index = firstIndex(nameHash, name);
        const std::string_view id = translated(tableType, name);
        const int byTranslation = firstIndex(hashOf(id), id);
        if (byTranslation >= 0 && (index < 0 || byTranslation < index))
            index = byTranslation;
        ColumnMatch match;
        if (index >= 0)
            match = ColumnMatch{index, m_types[static_cast<std::size_t>(index)]};
        if (m_names.size() < kMaxNames)
            m_names.insert(hash, tableType, name, match);
        return match;
    }

    // The column at an index below the size: no match where the collection gave no column.
    ColumnMatch at(int index) const
    {
        const std::size_t i = static_cast<std::size_t>(index);
        return m_hasColumn[i] ? ColumnMatch{index, m_types[i]} : ColumnMatch();
    }

private:
    int firstIndex(std::size_t hash, std::string_view id) const
    {
        const int* index = m_ids.find(hash, 0, id);
        return index ? *index : -1;
    }

    void learn()
    {
        m_ids = NameTable<int>();
        m_names = NameTable<ColumnMatch>();
        const int size = std::max(0, m_columns->size());
        m_types.assign(static_cast<std::size_t>(size), Type::Integer);
        m_hasColumn.assign(static_cast<std::size_t>(size), false);
        for (int index = 0; index < size; ++index)
        {
            const OwnedReference<IK7RTableColumn> column(m_columns->get(index));
            if (!column)
                continue;
            m_hasColumn[static_cast<std::size_t>(index)] = true;
            m_types[static_cast<std::size_t>(index)] = column->getType();
            const char* id = column->getId();
            if (!id)
                continue;  // never matches by name
            const std::string_view text(id);
            const std::size_t hash = hashOf(text);
            if (!m_ids.find(hash, 0, text))  // the first of duplicate identifiers answers
                m_ids.insert(hash, 0, text, index);
        }
    }

    IK7RTableColumnCollection* m_columns;
    std::vector<Type> m_types;
    std::vector<bool> m_hasColumn;
    NameTable<int> m_ids;
    NameTable<ColumnMatch> m_names;
};

PyObject* releaseAtExit(PyObject*, PyObject*)
{
    releaseColumnLookups();
    Py_RETURN_NONE;
}

PyMethodDef g_releaseAtExit = {"_release_column_lookups", releaseAtExit, METH_NOARGS, nullptr};

// The known collections; the one read last is looked at first.
class KnownCollections
{
public:
    ColumnMatch find(IK7RTableColumnCollection* columns, int tableType, std::string_view name)
    {
        const int size = columns->size();
        if (size <= 0)
            return ColumnMatch();
        return collection(columns, size).find(tableType, name);
    }

    ColumnMatch at(IK7RTableColumnCollection* columns, int size, int index)
    {
        return collection(columns, size).at(index);
    }

    bool released() const { return m_released; }

    void release()
    {
        m_released = true;
        m_last = nullptr;
        std::vector<std::unique_ptr<KnownCollection>> known;
        known.swap(m_known);
        known.clear();
    }

private:
    // What is known of a collection of `size` columns, learnt now if it is new.
    KnownCollection& collection(IK7RTableColumnCollection* columns, int size)
    {
        KnownCollection* known = m_last && m_last->columns() == columns ? m_last : lookup(columns);
        if (!known)
            known = add(columns);
        else
            known->checkSize(size);
        known->lastUse = ++m_clock;
        m_last = known;
        return *known;
    }

    KnownCollection* lookup(IK7RTableColumnCollection* columns) const
    {
        for (const std::unique_ptr<KnownCollection>& known : m_known)
            if (known->columns() == columns)
                return known.get();
        return nullptr;
    }

    KnownCollection* add(IK7RTableColumnCollection* columns)
    {
        watchExit();
        auto known = std::make_unique<KnownCollection>(columns);
        if (m_known.size() < kMaxCollections)
        {
            m_known.push_back(std::move(known));
            return m_known.back().get();
        }
        auto oldest = std::min_element(
            m_known.begin(), m_known.end(),
            [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; });
        if (m_last == oldest->get())
            m_last = nullptr;
        oldest->swap(known);  // the one let go releases its collection here
        return oldest->get();
    }

    // At exit the library may go before this object would: give the collections back first.
    void watchExit()
    {
        if (m_watching)
            return;
        m_watching = true;
        PyObject* release = PyCFunction_New(&g_releaseAtExit, nullptr);
        PyObject* atexit = PyImport_ImportModule("atexit");
        PyObject* done =
            release && atexit ? PyObject_CallMethod(atexit, "register", "O", release) : nullptr;
        if (!done)
            PyErr_Clear();
        Py_XDECREF(done);
        Py_XDECREF(atexit);
        Py_XDECREF(release);
    }

    std::vector<std::unique_ptr<KnownCollection>> m_known;
    KnownCollection* m_last = nullptr;
    std::uint64_t m_clock = 0;
    bool m_watching = false;
    bool m_released = false;
};

// Never destroyed: at process exit the library may already be gone, so the collections are
// given back only by releaseColumnLookups.
KnownCollections& knownCollections()
{
    static KnownCollections* known = new KnownCollections;
    return *known;
}

}  // namespace

ColumnMatch walkColumns(IK7RTableColumnCollection* columns, int tableType, std::string_view name)
{
    const int count = columns ? columns->size() : 0;
    if (count <= 0)
        return ColumnMatch();
    // The same translation serves every column.
    const std::string_view id = translated(tableType, name);
    for (int index = 0; index < count; ++index)
    {
        const OwnedReference<IK7RTableColumn> column(columns->get(index));
        const char* columnId = column ? column->getId() : nullptr;
        if (columnId && (sameText(columnId, name) || sameText(columnId, id)))
            return ColumnMatch{index, column->getType()};  // the first match decides
    }
    return ColumnMatch();
}

ColumnMatch lookupColumn(IK7RTableColumnCollection* columns, int tableType, std::string_view name)
{
    if (!columns)
        return ColumnMatch();
    KnownCollections& known = knownCollections();
    if (known.released())
        return walkColumns(columns, tableType, name);
    return known.find(columns, tableType, name);
}

ColumnMatch lookupColumnAt(IK7RTableColumnCollection* columns, int size, int index)
{
    KnownCollections& known = knownCollections();
    if (!known.released())
        return known.at(columns, size, index);
    const OwnedReference<IK7RTableColumn> column(columns->get(index));
    return column ? ColumnMatch{index, column->getType()} : ColumnMatch();
}

void releaseColumnLookups()
{
    knownCollections().release();
}

} }  // namespace vexa2::python
