// source/K7R/K7RTableColumn.cpp: the column type enum, K7RTableColumn and the column collection
// classes. A column reports its Python attribute name; the collection finds a column by either
// the library's identifier or the attribute name.
#include "K7R/K7RTableColumn.h"

#include <boost/make_shared.hpp>
#include <boost/python.hpp>

#include <string>

#include "Enums.h"
#include "K7R/K7RColumnNames.h"
#include "K7R/K7RRow.h"
#include "ObjectHandles.h"

namespace vexa2 { namespace python {

namespace bp = boost::python;

bp::object wrapColumnCollection(IK7RTableColumnCollection* returned)
{
    OwnedReference<IK7RTableColumnCollection> reference(returned);
    // Python deletes the object when done; its destructor releases the collection.
    return bp::object(boost::make_shared<K7RTableColumnCollection>(returned));
}

IK7RTableColumn* findColumn(IK7RTableColumnCollection* collection, const char* id)
{
    if (!collection || !id)
        return nullptr;
    if (IK7RTableColumn* column = collection->find(id))
        return column;
    // Not an identifier: an attribute name, in whichever table knows it ("" when none does).
    return collection->find(toColumnName(-1, id).c_str());
}

namespace {

using Collection = K7RTableColumnCollection;

// The attribute name of the column's identifier; the identifier itself is never reported.
std::string getColumnPythonId(IK7RTableColumn& column)
{
    const char* id = column.getId();
    return toPythonName(-1, id ? id : "");
}

bp::object tableColumnCollectionFind(const Collection& collection, const char* id)
{
    return wrapApiObject(findColumn(collection.collection(), id));
}

bp::object tableColumnCollectionKeyColumn(const Collection& collection)
{
    IK7RTableColumnCollection* columns = collection.collection();
    return columns ? wrapApiObject(columns->getKeyColumn()) : bp::object();
}

}  // namespace

} }  // namespace vexa2::python

void exportTableColumns()
{
    namespace bp = boost::python;
    using namespace vexa2::python;
    using Type = IK7RTableColumn::K7RTableColumnType;

    Enum<Type>("K7RTableColumnType",
               "The enum specifies a set of values representing the data type of a table "
               "column.")
        .value("INTEGER", Type::Integer)
        .value("DOUBLE", Type::Double)
        .value("STRING", Type::String)
        .value("DATE", Type::Date)
        .value("BOOLEAN", Type::Boolean);

    bp::class_<IK7RTableColumn, LibraryHandle<IK7RTableColumn>, boost::noncopyable>(
        "K7RTableColumn", "The class provides access to a trading table column.", bp::no_init)
        .add_property("id", &getColumnPythonId, "Gets the unique identifier of a column.")
        .add_property("type", &IK7RTableColumn::getType, "Gets the data type of a column.")
        .add_property("is_key", &IK7RTableColumn::getIsKey,
                      "Defines whether the column is the key column of the table.");

    bp::class_<K7RTableColumnCollectionBase, boost::noncopyable>("_K7RTableColumnCollection",
                                                                 bp::no_init);

    bp::class_<Collection, boost::shared_ptr<Collection>, bp::bases<K7RTableColumnCollectionBase>,
               boost::noncopyable>("K7RTableColumnCollection",
                                   "The class provides access to the list of table columns.",
                                   bp::no_init)
        .def(ContainerMembers<Collection>()
                 .size("Gets the number of columns in a table.")
                 .len("Reserved for future use.")
                 .get("get", "Gets a column by its index."))
        .def("find", &tableColumnCollectionFind, "Gets a column by its unique identifier.")
        .add_property("key_column", &tableColumnCollectionKeyColumn,
                      "Gets the key column of the table.")
        .def(ContainerMembers<Collection>().get("__getitem__", nullptr))
        .def("__iter__", bp::range(&Collection::begin, &Collection::end));
}
