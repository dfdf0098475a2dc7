// velvix_sim: the historical-price and quotes-cache face (HistoryHooks.cpp).
#pragma once

namespace control
{

void exportHistoryHooks();

}  // namespace control
