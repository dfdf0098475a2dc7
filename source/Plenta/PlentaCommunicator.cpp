// source/Plenta/PlentaCommunicator.cpp: the PlentaCommunicator class with its listeners and the error classes
// of the historical-price and quotes-cache libraries.
#include "Registrations.h"

void exportPlentaCommunicator()
{
}
