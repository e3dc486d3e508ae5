#include "net/exceptions.h"

bool IsPeerClose(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EIdConnClosedGracefully&) {
    return true;
  } catch (const EIdSocketError&) {
    return true;
  } catch (...) {
    return false;
  }
}

bool IsConnectionBreak(const std::exception_ptr& failure) {
  if (IsPeerClose(failure)) return true;
  try {
    std::rethrow_exception(failure);
  } catch (const EIdReadTimeout&) {
    return true;
  } catch (const EIdNotConnected&) {
    return true;
  } catch (const EIdClosedSocket&) {
    return true;
  } catch (...) {
    return false;
  }
}
