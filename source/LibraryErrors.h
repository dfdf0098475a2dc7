// source/LibraryErrors.h: the historical-price and quotes-cache libraries' error objects raised as
// Python exceptions. Those libraries report failures through an error out-parameter; every call
// site hands what came back here.
#pragma once

#include "plenta/Plenta.h"
#include "zorvat/Zorvat.h"

namespace vexa2 { namespace python {

// Null: returns. Otherwise raises Exception with the message of the error's code. With `release`
// the caller's reference is given back on the way out, by return or by raise.
void raiseZorvatError(zorvat::IError* error, bool release);

// Null: returns. A quotes-cache error (code 0) raises the nested error, or returns when there is
// none, so that the caller goes on to its own check. Any other code raises Exception. `release`
// as above.
void raisePlentaError(plenta::IError* error, bool release);

} }  // namespace vexa2::python
