// source/Plenta/PlentaCommunicatorResponse.cpp: the PlentaCommunicatorResponse class: the historical prices that
// answer a request.
#include "Registrations.h"

void exportPlentaCommunicatorResponse()
{
}
