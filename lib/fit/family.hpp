// The response families of a generalised linear model with their canonical
// links: the inverse link, its derivative, the variance, the deviance of a
// row and the start of the iterations.  The formulas and their guards are
// those of R's binomial() and poisson(), so that fits agree with R's.
#ifndef BSBASIS_FAMILY_HPP
#define BSBASIS_FAMILY_HPP

#include <float.h>
#include <math.h>

#include "bsbasis.h"
#include "core/common.hpp"

namespace bsbasis {

// Beyond this |eta| the logistic function is held at DBL_EPSILON from 0
// and 1, as R's logit link holds it.
constexpr double kLogitBound = 30.0;

inline bool known_family(int32_t family) {
  return family == BSBASIS_FAMILY_GAUSSIAN || family == BSBASIS_FAMILY_BINOMIAL ||
         family == BSBASIS_FAMILY_POISSON;
}

// Whether a response is one the family takes: finite, in [0, 1] for the
// binomial (a proportion), >= 0 for the Poisson.
inline bool usable_response(int32_t family, double y) {
  switch (family) {
    case BSBASIS_FAMILY_BINOMIAL: return y >= 0.0 && y <= 1.0;
    case BSBASIS_FAMILY_POISSON: return y >= 0.0 && is_finite(y);
    default: return is_finite(y);
  }
}

// y log(y / mu), 0 at y = 0.
inline double y_log_y(double y, double mu) { return y != 0.0 ? y * log(y / mu) : 0.0; }

// One row of an iteration: the working weight W = w mu'(eta)^2 / V(mu),
// the working response z = eta + (y - mu) / mu'(eta), and the row's
// deviance at eta, w d(y, mu).
struct Working {
  double W, z, dev;
};

inline Working working(int32_t family, double eta, double y, double w) {
  switch (family) {
    case BSBASIS_FAMILY_BINOMIAL: {
      const double e = exp(eta);
      const double t = eta < -kLogitBound ? DBL_EPSILON : eta > kLogitBound ? 1.0 / DBL_EPSILON : e;
      const double mu = t / (1.0 + t);
      const double opexp = 1.0 + e;
      const double dmu =
          eta > kLogitBound || eta < -kLogitBound ? DBL_EPSILON : e / (opexp * opexp);
      const double var = mu * (1.0 - mu);
      const double dev = 2.0 * w * (y_log_y(y, mu) + y_log_y(1.0 - y, 1.0 - mu));
      return {w * dmu * dmu / var, eta + (y - mu) / dmu, dev};
    }
    case BSBASIS_FAMILY_POISSON: {
      const double e = exp(eta);
      const double mu = e > DBL_EPSILON ? e : DBL_EPSILON;
      const double dev = 2.0 * (y > 0.0 ? w * (y_log_y(y, mu) - (y - mu)) : mu * w);
      return {w * mu, eta + (y - mu) / mu, dev};
    }
    default: {
      const double r = y - eta;
      return {w, y, w * r * r};
    }
  }
}

// eta where the iterations start, from the response alone: the link of
// (w y + 0.5) / (w + 1) for the binomial, of y + 0.1 for the Poisson, y
// itself for the Gaussian.
inline double start_eta(int32_t family, double y, double w) {
  switch (family) {
    case BSBASIS_FAMILY_BINOMIAL: {
      const double mu = (w * y + 0.5) / (w + 1.0);
      return log(mu / (1.0 - mu));
    }
    case BSBASIS_FAMILY_POISSON: return log(y + 0.1);
    default: return y;
  }
}

}  // namespace bsbasis

#endif
