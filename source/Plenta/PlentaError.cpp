// source/Plenta/PlentaError.cpp: the error code enums and the read-only PlentaError and
// ZorvatError classes that listener callbacks hand to Python.
#include <boost/python.hpp>

#include <plenta/Plenta.h>
#include <zorvat/Zorvat.h>

#include "Enums.h"
#include "ObjectHandles.h"
#include "Plenta/PlentaCommunicator.h"

namespace bp = boost::python;

namespace {

using namespace vexa2::python;

// getZorvatError gives a new reference: the handle takes it over.
bp::object nestedZorvatError(plenta::IError& error)
{
    return wrapApiObject(error.getZorvatError());
}

}  // namespace

void exportPlentaErrors()
{
    const char* const reserved = "Reserved for future use.";
    using PlentaCode = plenta::IError::Code;
    using ZorvatCode = zorvat::IError::Code;

    // Values stay inside the enum classes: no export_values.
    Enum<PlentaCode>("PlentaErrorCode", "The Plenta error codes.")
        .value("ZORVAT_ERROR", plenta::IError::ZORVAT_ERROR)
        .value("NOT_READY", plenta::IError::NOT_READY)
        .value("BAD_ARGUMENTS", plenta::IError::BAD_ARGUMENTS)
        .value("OTHER_ERROR", plenta::IError::OTHER_ERROR);

    Enum<ZorvatCode>("ZorvatErrorCode", "The Zorvat error codes.")
        .value("LOCKED", zorvat::IError::LOCKED)
        .value("QUOTES_CATALOG_BUSY", zorvat::IError::QUOTES_CATALOG_BUSY)
        .value("QUOTES_CACHE_BUSY", zorvat::IError::QUOTES_CACHE_BUSY)
        .value("QUOTES_CACHE_CORRUPTED", zorvat::IError::QUOTES_CACHE_CORRUPTED)
        .value("QUOTES_SERVER_CONNECTION_ERROR", zorvat::IError::QUOTES_SERVER_CONNECTION_ERROR)
        .value("LOADING_ERROR", zorvat::IError::LOADING_ERROR)
        .value("QUOTES_LOADER_ERROR", zorvat::IError::QUOTES_LOADER_ERROR)
        .value("QUOTES_NOT_FOUND", zorvat::IError::QUOTES_NOT_FOUND)
        .value("BAD_ARGUMENT", zorvat::IError::BAD_ARGUMENT)
        .value("OTHER_ERROR", zorvat::IError::OTHER_ERROR)
        .value("LIMIT_REACHED", zorvat::IError::LIMIT_REACHED);

    bp::class_<plenta::IError, LibraryHandle<plenta::IError>, boost::noncopyable>(
        "PlentaError", reserved, bp::no_init)
        .add_property("message", &plenta::IError::getMessage, reserved)
        .add_property("code", &plenta::IError::getCode, reserved)
        .add_property("zorvat_error", &nestedZorvatError, reserved);

    bp::class_<zorvat::IError, LibraryHandle<zorvat::IError>, boost::noncopyable>(
        "ZorvatError", reserved, bp::no_init)
        .add_property("message", &zorvat::IError::getMessage, reserved)
        .add_property("code", &zorvat::IError::getCode, reserved)
        .add_property("sub_code", &zorvat::IError::getSubCode, reserved);
}
