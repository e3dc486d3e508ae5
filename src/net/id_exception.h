#pragma once
#include "rtl/exception.h"
class EIdException : public Exception { public: using Exception::Exception; };
class EIdSilentException : public EIdException { public: using EIdException::EIdException; };
