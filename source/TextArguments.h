// source/TextArguments.h: how every text argument of a bound function becomes the C string or
// std::string it is passed as. The libraries read texts up to their first NUL, so a text with an
// embedded NUL would silently reach them cut short: it is refused, as CPython refuses it for its
// own C-string arguments.
#pragma once

// Puts the refusing conversions of str (and bytes, for std::string) ahead of Boost.Python's own,
// for every module of the process. Called once, at module start-up, with the interpreter lock.
void registerTextArguments();
