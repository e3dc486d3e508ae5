#pragma once
// Whether a failure was the connection's: it ended, broke or fell silent, so that what is missing may still
// be had from a new one. A refused status, a broken framing or a wrong answer is the server's word instead.
#include <exception>

bool IsConnectionBreak(const std::exception_ptr& failure);
