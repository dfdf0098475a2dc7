// source/K7R/K7RResponse.cpp: the response classes: the typed readers, K7RResponse and
// K7RResponseReaderFactory.
#include "Registrations.h"

void exportResponse()
{
}
