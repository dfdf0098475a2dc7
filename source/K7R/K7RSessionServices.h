// source/K7R/K7RSessionServices.h: the registrations of the session's services that exportSession
// makes before the session class, and those they make in turn, in their order: the rollover
// provider after its listener, the commissions provider after its listener and before its
// descriptions, then the time converter.
#pragma once

void exportRolloverProviderListener();
void exportRolloverProvider();
void exportCommissionProviderListener();
void exportCommissionsProvider();
void exportCommissionDescription();
void exportTimeConverter();
