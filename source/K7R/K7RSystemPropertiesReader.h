// source/K7R/K7RSystemPropertiesReader.h: the system properties reader wrapper and the property
// value class: properties are read by index, by name, by subscript and as attributes.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <cstddef>
#include <string>

#include <velvix/Velvix.h>

#include "ObjectIteratorContainer.h"

// One property, copied out of the reader: a null text reads as "".
class SystemProperty
{
public:
    SystemProperty(const char* name, const char* value) : m_name(name ? name : ""), m_value(value ? value : "") {}

    const char* name() const { return m_name.c_str(); }
    const char* value() const { return m_value.c_str(); }

private:
    std::string m_name;
    std::string m_value;
};

namespace vexa2 { namespace python {

// IndexError 1001 for an index not below the reader's size; otherwise the property there.
boost::python::object systemPropertiesReaderGetter(IK7RSystemPropertiesReader* reader, std::size_t index);

using K7RSystemPropertiesReaderBase =
    K7RObjectIteratorContainer<IK7RSystemPropertiesReader, systemPropertiesReaderGetter,
                               defaultSize<IK7RSystemPropertiesReader>>;

// Holds its own reference to the reader (through the container base).
class K7RSystemPropertiesReaderHelper : public K7RSystemPropertiesReaderBase
{
public:
    explicit K7RSystemPropertiesReaderHelper(IK7RSystemPropertiesReader* reader)
        : K7RSystemPropertiesReaderBase(reader)
    {
    }

    // Null without a reader.
    virtual const char* findProperty(const char* name)
    {
        return collection() ? collection()->findProperty(name) : nullptr;
    }

    // None without a reader or outside 0..size-1.
    boost::python::object getByIndex(int index) const;
};

} }  // namespace vexa2::python

void exportSystemPropertiesReader();
