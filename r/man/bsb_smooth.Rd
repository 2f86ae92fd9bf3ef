\name{bsb_smooth}
\alias{smooth.construct.bsb.smooth.spec}
\alias{Predict.matrix.bsb.smooth}
\title{B-Spline Smooths for mgcv}
\description{
  The \code{"bsb"} smooth of \pkg{mgcv}: \code{s(x, bs = "bsb", k, m, xt)}
  in the formula of \code{\link[mgcv]{gam}}, \code{\link[mgcv]{bam}} or
  \code{\link[mgcv]{gamm}} gives a penalised B-spline of any order whose
  basis comes from \code{\link{design_matrix}} and whose penalty is a
  difference penalty (\code{\link{difference_penalty}}) or the exact
  integral of a squared derivative (\code{\link{derivative_penalty}}).
  These are the methods \pkg{mgcv} calls to build the smooth and to
  predict from it; they are not called directly.
}
\usage{
\method{smooth.construct}{bsb.smooth.spec}(object, data, knots)

\method{Predict.matrix}{bsb.smooth}(object, data)
}
\arguments{
  \item{object}{for \code{smooth.construct}, the smooth term that
    \code{\link[mgcv]{s}} makes with \code{bs = "bsb"}; for
    \code{Predict.matrix}, the smooth it built.}
  \item{data}{a list or data frame holding the covariate.}
  \item{knots}{a list that may hold knots for the covariate under its
    name: \code{NULL}, two values whose range contains the data, or all
    \code{k + m[1] + 2} knots.}
}
\details{
  The arguments of \code{s()} are read as those of \pkg{mgcv}'s \code{"ps"}
  smooth: \code{k} is the number of B-splines (default
  \code{max(10, m[1] + 1)}); \code{m[1]} sets the order \code{m[1] + 2}
  (2, the default, is cubic; any \code{m[1] >= -1}) and \code{m[2]} the
  order of the penalty (default 2); one number is both.  \code{xt} chooses
  the penalty: \code{NULL} or \code{"difference"} for squared differences
  of order \code{m[2]} of the coefficients (1 to 4; 0 gives the identity),
  \code{"derivative"} (or \code{list(penalty = "derivative")}) for the
  integral of the squared \code{m[2]}-th derivative over the base interval,
  \code{m[2] < m[1] + 2}.  Either leaves the polynomials of degree below
  \code{m[2]} unpenalised: \code{null.space.dim} is \code{m[2]}.

  The knots are placed as \code{"ps"} places them: \code{k - m[1]} equally
  spaced from 0.1\% of the range below the smallest covariate value to
  0.1\% above the largest (or over the range of two given knots), continued
  \code{m[1] + 1} intervals beyond each end.  With the same \code{k},
  \code{m} and knots, \code{bs = "bsb"} therefore gives the fit of
  \code{bs = "ps"} (the bases agree to rounding, the difference penalties
  exactly), and with \code{xt = "derivative"} and \code{m = c(d - 1, q)} the
  fit of \code{bs = "bs"} with \code{m = c(d, q)}, whose knots are the
  same.  Predictions beyond the knots continue the value and slope at the
  nearest end linearly (\code{design_matrix(extrapolate = "linear")}), as
  \code{"ps"} does; \code{NA} covariate values give \code{NA} rows.

  Where \code{"bsb"} differs from \code{"ps"} on purpose: it offers the
  derivative penalty, which \code{"ps"} does not; it allows difference
  penalties of order 0 to 4 only (\code{"ps"} any); it has no monotone
  variant (\code{"ps"} with \code{xt = list(mono = 1)}).

  The methods are registered with \pkg{mgcv} when both packages' namespaces
  are loaded, in either order, so that \code{bs = "bsb"} works after
  \code{library(bsbasis)} or \code{loadNamespace("bsbasis")}.  By-variables,
  tensor products (\code{\link[mgcv]{te}}), \code{\link[mgcv]{gam.check}}
  and \code{\link[mgcv]{plot.gam}} work through \pkg{mgcv}'s own handling of
  smooths.
}
\value{
  \code{smooth.construct}: a smooth of class \code{"bsb.smooth"}, the
  term of \code{s()} with \code{X} (the basis at the data), \code{S} (a list of
  the penalty), \code{rank}, \code{null.space.dim}, \code{knots}, \code{m}
  (both orders) and \code{penalty} (\code{"difference"} or
  \code{"derivative"}) added.  \code{Predict.matrix}: the basis at
  \code{data}, a dense matrix with one row per value.
}
\references{
  Eilers, P. H. C. and Marx, B. D. (1996) Flexible smoothing with
  B-splines and penalties.  \emph{Statistical Science} \bold{11}(2),
  89--121.

  Wood, S. N. (2017) \emph{Generalized Additive Models: An Introduction
  with R}, 2nd edition.  Chapman and Hall/CRC, Boca Raton.

  Wood, S. N. (2017) P-splines with derivative based penalties and tensor
  product smoothing of unevenly distributed data.  \emph{Statistics and
  Computing} \bold{27}(4), 985--989.
}
\seealso{\code{\link{design_matrix}} for the basis,
  \code{\link{difference_penalty}} and \code{\link{derivative_penalty}} for
  the penalties; \code{\link{fit_pspline}} for a P-spline fit without
  \pkg{mgcv}; \code{\link{bs}} for an unpenalised regression spline.

  In \pkg{mgcv}: \code{\link[mgcv]{smooth.construct}} for the mechanism,
  \code{\link[mgcv]{s}}, \code{\link[mgcv]{gam}} and \code{\link[mgcv]{bam}};
  \code{\link[mgcv]{smooth.construct.ps.smooth.spec}}, the \code{"ps"}
  smooth that \code{"bsb"} reproduces, and
  \code{\link[mgcv]{smooth.construct.bs.smooth.spec}}, the \code{"bs"}
  smooth with derivative penalties.}
\examples{
if (requireNamespace("mgcv", quietly = TRUE)) {
  set.seed(2)
  d <- data.frame(x = runif(200))
  d$y <- sin(2 * pi * d$x) + rnorm(200, sd = 0.3)
  b <- mgcv::gam(y ~ s(x, bs = "bsb", k = 20), data = d, method = "REML")
  p <- mgcv::gam(y ~ s(x, bs = "ps", k = 20), data = d, method = "REML")
  print(max(abs(fitted(b) - fitted(p))))  # the fit of "ps"
  # the integral of the squared second derivative, cubic B-splines
  bd <- mgcv::gam(y ~ s(x, bs = "bsb", k = 20, xt = "derivative"), data = d,
                  method = "REML")
  print(predict(bd, data.frame(x = c(0.25, 1.2))))

  # the two fits and the data
  xs <- data.frame(x = seq(0, 1, length.out = 200))
  plot(d$x, d$y, col = "grey40", xlab = "x", ylab = "y")
  lines(xs$x, predict(b, xs), col = "blue", lwd = 2)
  lines(xs$x, predict(bd, xs), col = "red", lty = 2, lwd = 2)
  plot(b, shade = TRUE)  # mgcv's own plot of the smooth
}
}
