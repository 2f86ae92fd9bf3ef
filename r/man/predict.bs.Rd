\name{predict.bs}
\alias{predict.bs}
\alias{predict.ns}
\alias{predict.pbs}
\alias{predict.basis_derivs}
\alias{predict.sparseBasis}
\alias{makepredictcall.bs}
\alias{makepredictcall.ns}
\alias{makepredictcall.pbs}
\alias{makepredictcall.basis_derivs}
\alias{makepredictcall.sparseBasis}
\title{Safe Prediction with bs, ns and pbs Terms}
\description{
  \code{predict} evaluates the basis of a \code{\link{bs}},
  \code{\link{ns}} or \code{\link{pbs}} result at new abscissae, on the
  knots it was formed with.  \code{makepredictcall} writes those knots into
  a model's call of the term, so that \code{predict} on a fit from
  \code{lm}, \code{glm}, \code{survival::coxph} and the like rebuilds the
  basis of the fit for new data (R's safe prediction).
}
\usage{
\method{predict}{bs}(object, newx, ...)
\method{predict}{ns}(object, newx, ...)
\method{predict}{pbs}(object, newx, ...)
\method{predict}{basis_derivs}(object, newx, ...)
\method{predict}{sparseBasis}(object, newx, ...)

\method{makepredictcall}{bs}(var, call)
\method{makepredictcall}{ns}(var, call)
\method{makepredictcall}{pbs}(var, call)
\method{makepredictcall}{basis_derivs}(var, call)
\method{makepredictcall}{sparseBasis}(var, call)
}
\arguments{
  \item{object}{a result of \code{bs}, \code{ns} or \code{pbs}, dense or
    sparse, or of \code{splines::bs} or \code{splines::ns}.}
  \item{newx}{the abscissae to evaluate at.  Missing: \code{object} is
    returned.}
  \item{\dots}{further arguments of the term's function that do not fix
    its basis: \code{warn.outside} (\code{bs}), \code{threads}, or
    \code{derivs} to evaluate other derivatives.}
  \item{var}{a variable of a model frame: a term's result.}
  \item{call}{the term's call in the model formula.}
}
\details{
  \code{predict(object, newx)} calls the term's function on \code{newx}
  with the attributes that fix the basis: \code{degree} (not for
  \code{ns}), \code{knots}, \code{Boundary.knots} and \code{intercept}, as
  \code{splines::predict.bs} does, and also the derivative orders of a
  derivative basis and \code{sparse = TRUE} for a sparse one.  Abscissae
  beyond the boundary knots of a \code{bs} basis warn, as splines' do.

  \code{makepredictcall(var, call)} acts on a call written with the term's
  name (\code{bs(x, df = 5)}) or whose function is the term's, bsbasis's
  or splines' (\code{bsbasis::bs(x, df = 5)}, \code{splines::ns(x)}); any
  other call is returned unchanged.  It keeps the function and the first
  argument, adds \code{warn.outside}, \code{sparse} and \code{threads} as
  the call gave them, and sets the fixed attributes of \code{var} (and its
  derivative orders), so that \code{df} is no longer read.  For
  \code{bs(x, df = 5)} and \code{ns(x, df = 5)} the call is the one
  splines' methods write.
}
\value{
  \code{predict}: the basis at \code{newx}, of the same kind as
  \code{object}.  \code{makepredictcall}: the call.
}
\section{Methods of splines' classes}{
  \code{bs} and \code{ns} results have splines' classes, \code{"bs"} and
  \code{"ns"}, for which splines registers methods of its own.  R keeps the
  methods of the namespace loaded last, so bsbasis registers its methods
  for these classes again whenever splines is loaded after it (as
  \code{survival} loads it): its methods serve the bases of both packages
  with the same results, and also recognise calls written
  \code{bsbasis::bs(...)}, which splines' methods leave unchanged (their
  predictions would place the knots anew on the new data).  A basis from
  \code{splines::ns} with a knot on a boundary knot, which bsbasis's
  \code{ns} refuses, is evaluated by \code{splines::ns}.  Loading splines
  after bsbasis prints R's note that splines' methods overwrite
  bsbasis's; bsbasis's are in force again when that note appears.

  Derivative bases (class \code{"basis_derivs"} first) and sparse ones
  (\code{"sparseBasis"}) have methods of their own, which keep their
  derivative orders and their kind.
}
\references{
  Chambers, J. M. and Hastie, T. J. (1992) \emph{Statistical Models in S}.
  Wadsworth & Brooks/Cole.

  Hastie, T. J. (1992) Generalized additive models.  Chapter 7 of
  \emph{Statistical Models in S}, eds J. M. Chambers and T. J. Hastie.
  Wadsworth & Brooks/Cole.
}
\seealso{\code{\link{bs}}, \code{\link{ns}}, \code{\link{pbs}} for the
  terms; \code{\link{design_matrix}} and \code{\link{splineDesign}} for
  bases on given knots.

  \code{\link[stats]{makepredictcall}} for the mechanism of safe prediction
  in \pkg{stats}; \code{\link[splines]{predict.bs}} for splines' methods,
  which bsbasis's stand in for; \code{\link[survival]{coxph}} for a model
  whose predictions use them too.}
\examples{
b <- bs(women$height, df = 5)
predict(b, c(60, 65, 70))

d <- ns(women$height, df = 4, derivs = 1)
predict(d, c(60, 65))  # slopes, on the knots of d

fit <- lm(weight ~ bs(height, df = 5), data = women)
attr(terms(fit), "predvars")
makepredictcall(b, quote(bs(height, df = 5, warn.outside = FALSE)))

# without the knots of the fit, predictions on a few rows would differ
predict(fit, women[1:3, ]) - fitted(fit)[1:3]

# a fit, its predictions on new data, and its slope from a derivative basis
set.seed(3)
x <- runif(80, 0, 2 * pi)
y <- sin(x) + rnorm(80, sd = 0.2)
f <- lm(y ~ bs(x, knots = c(2, 4)))
xs <- seq(min(x), max(x), length.out = 100)
plot(x, y, col = "grey40")
lines(xs, predict(f, data.frame(x = xs)), col = "blue", lwd = 2)
slope <- predict(bs(x, knots = c(2, 4), derivs = 1), xs) \%*\% coef(f)[-1]
plot(xs, slope, type = "l", ylab = "d/dx of the fit")
lines(xs, cos(xs), lty = 2)

# a Cox model: the same knots for new data
if (requireNamespace("survival", quietly = TRUE)) {
  cf <- survival::coxph(survival::Surv(time, status) ~ ns(age, df = 3),
                        data = survival::lung)
  predict(cf, data.frame(age = c(50, 60, 70)))
}
}
\keyword{smooth}
