// source/Plenta/PlentaCommunicatorRequest.cpp: the PlentaCommunicatorRequest class: a request for historical
// prices.
#include "Registrations.h"

void exportPlentaCommunicatorRequest()
{
}
