// velvix_sim: the requests and responses face (RequestHooks.cpp).
#pragma once

namespace control
{

void exportRequestHooks();

}  // namespace control
