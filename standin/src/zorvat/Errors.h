// The quotes-cache library's error objects: any code (in the table or not), any text or none, any
// sub-code. The cache's own failures are built here, and tests build them to feed the module.
#pragma once

#include "zorvat/Zorvat.h"

namespace zorvat_sim
{

// A new error with one reference for the caller. `code` is taken as it is, so codes outside
// zorvat::IError::Code reach the caller too; `message` is copied, null stays null.
zorvat::IError* makeError(int code, const char* message, int subCode);

}  // namespace zorvat_sim
