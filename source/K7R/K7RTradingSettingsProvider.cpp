// source/K7R/K7RTradingSettingsProvider.cpp: the K7RMargins and K7RTradingSettingsProvider classes: trading
// settings and margins per instrument and account.
#include "Registrations.h"

void exportTradingSettingsProvider()
{
}
