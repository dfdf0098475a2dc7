// Test switch of the platform layer's string loader: makes LoadStringA miss chosen entries, so
// that tests can see a caller's own fallback at work. Process-wide; off by default.
#pragma once

#include <vector>

namespace winapi_sim {

// These ids are missing from every image's table until reset (replaces the previous list).
void setMissingStrings(const std::vector<unsigned>& ids);
// While true, every entry of every table is missing.
void setAllStringsMissing(bool all);
// Back to the tables as they are.
void resetStringTable();

}  // namespace winapi_sim
