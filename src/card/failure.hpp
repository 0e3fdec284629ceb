// The status of an exception caught at a member's edge, the same on every
// surface (the adapters reach it through the bridge).
#ifndef QV_VCARD_CARD_FAILURE_HPP
#define QV_VCARD_CARD_FAILURE_HPP

#include <new>
#include <stdexcept>

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::detail {

// Call inside a catch block: running out of memory (or asking for more
// than a text can hold) is kOutOfMemory, anything else kUnexpected.
inline Status StatusOfCurrentException() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  } catch (...) {
    return kUnexpected;
  }
}

}  // namespace qv_VCard::detail

#endif
