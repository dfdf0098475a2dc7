// source/Plenta/PlentaCommunicatorFactory.cpp: the PlentaCommunicatorFactory class, which creates a
// historical-price communicator for a session.
#include "Registrations.h"

void exportPlentaCommunicatorFactory()
{
}
