// The historical-price library's error objects: any code (in the table or not), any text or none,
// and a nested quotes-cache error or none. The communicator's failures are built here, and tests
// build them to feed the module.
#pragma once

#include "plenta/Plenta.h"

namespace plenta_sim
{

// A new error with one reference for the caller. `code` is taken as it is, so codes outside
// plenta::IError::Code reach the caller too; `message` is copied, null stays null. `nested` is
// borrowed: the error takes a reference of its own and hands out a new one per getZorvatError().
plenta::IError* makeError(int code, const char* message, zorvat::IError* nested = nullptr);

}  // namespace plenta_sim
