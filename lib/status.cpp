// Fixed descriptions of the extension API's status codes.
#include "bsbasis.h"
#include "core/common.hpp"

BSBASIS_EXPORT const char *bsbasis_strerror(int status) {
  switch (status) {
    case BSBASIS_OK: return "success";
    case BSBASIS_ERROR_NULL: return "a required pointer is NULL";
    case BSBASIS_ERROR_COUNT: return "a count is negative or too large";
    case BSBASIS_ERROR_ORDER: return "order or derivative order out of range";
    case BSBASIS_ERROR_KNOTS:
      return "knots not finite, decreasing, too few, with an empty base interval, "
             "or with spans that overflow";
    case BSBASIS_ERROR_COLUMNS: return "number of basis functions out of range";
    case BSBASIS_ERROR_MODE: return "unknown extrapolation mode, kind or boundary";
    case BSBASIS_ERROR_RANGE: return "an abscissa lies outside the base interval";
    case BSBASIS_ERROR_DATA: return "data unusable for the request";
    case BSBASIS_ERROR_MEMORY: return "a scratch allocation failed";
    default: return "unknown status";
  }
}
