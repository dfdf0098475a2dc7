// source/K7R/K7RRequest.cpp: the request classes: K7RRequest, K7RValueMap and K7RRequestFactory, with
// which a script builds what it sends.
#include "Registrations.h"

void exportRequest()
{
}
