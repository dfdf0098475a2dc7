// source/K7R/K7RLoginRules.cpp: the K7RLoginRules class: what a session offers right after login.
#include "Registrations.h"

void exportLoginRules()
{
}
