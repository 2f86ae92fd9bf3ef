\name{bs}
\alias{bs}
\title{B-Spline Basis for Polynomial Splines: Drop-in for splines::bs}
\description{
  The B-spline basis matrix of a polynomial spline of degree
  \code{degree} with interior knots \code{knots}, evaluated at \code{x}:
  the arguments, knots, columns, attributes, class, warnings and errors of
  \code{splines::bs}, with the rows computed by the bsbasis library.  Beyond
  that: derivatives of the basis, a sparse result and threads.
}
\usage{
bs(x, df = NULL, knots = NULL, degree = 3, intercept = FALSE,
   Boundary.knots = range(x), warn.outside = TRUE, derivs = 0L,
   sparse = FALSE, threads = NULL)
}
\arguments{
  \item{x}{the predictor variable.  Missing values are allowed: their rows
    are \code{NA}.}
  \item{df}{degrees of freedom: with \code{knots = NULL}, \code{bs} places
    \code{df - degree} interior knots (one fewer with an intercept) at
    quantiles of the \code{x} within the boundary knots, as
    \code{quantile(x, type = 7)} places them.  With \code{NULL} (the
    default) the number of interior knots is \code{length(knots)}.}
  \item{knots}{the interior knots; \code{NULL} (no knots) gives a basis for
    polynomial regression of degree \code{degree}.}
  \item{degree}{degree of the piecewise polynomial, at least 1; 3 (cubic)
    by default.}
  \item{intercept}{if \code{TRUE} the basis keeps its first B-spline, so
    that its columns sum to 1 within the boundary knots.}
  \item{Boundary.knots}{the two knots at which the basis is anchored;
    by default the range of the non-\code{NA} \code{x}.  \code{x} may lie
    beyond them.}
  \item{warn.outside}{\code{FALSE} silences the warning that some \code{x}
    lie beyond the boundary knots (an argument of the same name and meaning
    as in later versions of \code{splines::bs}).}
  \item{derivs}{derivative order: 0 (values, the default) to
    \code{degree}, one for every abscissa or one per abscissa (recycled
    along \code{x}), as \code{splineDesign}'s \code{derivs}.}
  \item{sparse}{\code{TRUE} returns a sparse matrix (see Value).}
  \item{threads}{number of threads, 1 to 64 (\code{NULL}: 1).  The result
    is the same, bit for bit, for every number.}
}
\details{
  The arguments go through the steps of \code{splines::bs} in its order and
  with its expressions, so that every call gives its matrix (within
  rounding: 1e-13 of the largest entry of each row), its attributes and
  class, and its warnings and errors, with their messages, in the user's
  language too.  The knots that \code{df} places are the very numbers
  (bits, names) of splines'; the order statistics they read are selected
  in C rather than by a partial sort.

  The rows are formed by the library in one call over all abscissae:
  within the boundary knots, the B-splines on the knots \code{Boundary.knots}
  (each \code{degree + 1} times) and \code{knots}, as
  \code{splineDesign} forms them (the right boundary knot as well);
  beyond them, the polynomial pieces of the two end intervals continued.
  These are the polynomials splines forms there from a Taylor expansion
  at a point inside the end interval.  Rows of \code{NA} (and \code{NaN})
  abscissae are \code{NA}; those of infinite abscissae hold splines'
  values (infinite or \code{NaN}).

  With \code{derivs}, the rows are the derivatives of those of the values:
  of \code{splineDesign(derivs = )} within the boundary knots, of the
  continued end pieces beyond them.

  Where the knots meet or pass a boundary knot (as quantiles of data tied
  at an end do), where the boundary knots are not two finite numbers
  \code{lo < hi}, or where \code{x} is not numeric, \code{bs} follows
  splines' algorithm to the letter, on \code{\link{splineDesign}}.

  \code{bs} is meant for model formulas, \code{lm(y ~ bs(x, df = 5))}:
  the package registers \code{\link[=predict.bs]{predict}} and
  \code{\link[=makepredictcall.bs]{makepredictcall}} methods for the
  result, so that predictions on new data use the knots of the fit.
}
\value{
  A matrix of \code{length(x)} rows and \code{length(knots) + degree +
  intercept} columns (\code{df} columns when \code{df} placed the knots),
  named \code{1, 2, ...}, its row names \code{names(x)}.  Its attributes are
  splines': \code{degree}, \code{knots} (the interior knots,
  \code{numeric(0)} for none), \code{Boundary.knots} and
  \code{intercept}; its class \code{c("bs", "basis", "matrix")}.  With a
  derivative order other than 0 the matrix also has the attribute
  \code{derivs} and the class \code{c("basis_derivs", "bs", "basis",
  "matrix")}.

  With \code{sparse = TRUE}, an object of the class \code{"sparseBasis"},
  which extends \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}} (every
  method for a \code{dgCMatrix} applies) by the slots \code{term}
  (\code{"bs"}), \code{degree}, \code{knots}, \code{Boundary.knots},
  \code{intercept} and \code{derivs}.  Each row holds the non-zero
  columns of its block, at most \code{degree + 1}; a row of an \code{NA}
  abscissa holds \code{NA} in every column.  The matrix is built from the
  library's rows in C.
}
\section{Differences from splines}{
  \describe{
    \item{More arguments.}{\code{derivs}, \code{sparse} and
      \code{threads} are bsbasis's; \code{warn.outside} is the argument of
      later versions of \code{splines::bs} (R 4.2's has none).  Their
      values are checked, with errors that name the argument.}
    \item{Knots on the right boundary knot.}{With an interior knot equal to
      the upper boundary knot, splines' rows beyond that knot are
      \code{NaN} (its Taylor expansion there reads derivatives at the end
      of an empty interval); bsbasis's continue the last polynomial piece
      of the basis, as \code{\link{splineDesign}} takes limits from the
      left there.  Everywhere else knots on or beyond a boundary knot give
      splines' matrix.}
    \item{Knots the library cannot compute with.}{Knots that are not
      finite, or closer than \code{1/.Machine$double.xmax}, are refused
      with an error, as by \code{\link{splineDesign}}.}
    \item{Methods.}{\code{bs} results have splines' class, so that
      splines' \code{predict} and \code{makepredictcall} methods would
      take them too; bsbasis's methods, which serve both packages' bases
      (and calls written \code{bsbasis::bs(...)} or \code{splines::bs(...)},
      which splines' do not recognise), stay in force when splines is
      loaded after bsbasis.  See \code{\link{predict.bs}}.}
  }
}
\references{
  Hastie, T. J. (1992) Generalized additive models.  Chapter 7 of
  \emph{Statistical Models in S}, eds J. M. Chambers and T. J. Hastie.
  Wadsworth & Brooks/Cole.

  de Boor, C. (1978) \emph{A Practical Guide to Splines}.  Springer,
  New York.  Revised edition (2001), Applied Mathematical Sciences 27.
}
\seealso{
  \code{\link{ns}} for natural splines, \code{\link{pbs}} for periodic
  ones, \code{\link{predict.bs}} and \code{\link{makepredictcall.bs}} for
  safe prediction, \code{\link{splineDesign}},
  \code{\link{design_matrix}} for a basis on any knots,
  \code{\link{fit_pspline}} and \code{\link{smooth.construct.bsb.smooth.spec}}
  for penalised fits.

  The peers: \code{\link[splines]{bs}} and \code{\link[splines]{predict.bs}}
  in \pkg{splines}; \code{\link[splines2]{bSpline}} and
  \code{\link[splines2]{dbs}} (derivatives) in \pkg{splines2};
  \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}} for the sparse result.
}
\examples{
b <- bs(women$height, df = 5)
attr(b, "knots")
fit <- lm(weight ~ bs(height, df = 5), data = women)
# safe prediction: the knots of the fit, not of the new data
predict(fit, data.frame(height = c(60, 65, 70)))

# beyond the boundary knots: the end pieces continued
bs(c(55, 60, 75), knots = 65, Boundary.knots = c(58, 72), warn.outside = FALSE)

# first derivatives of the basis, and a sparse basis
x <- seq(0, 1, length.out = 7)
bs(x, df = 5, derivs = 1)
bs(x, df = 5, sparse = TRUE)

# the same matrix as splines::bs
if (requireNamespace("splines", quietly = TRUE))
  all.equal(bs(women$height, df = 5), splines::bs(women$height, df = 5))

# a regression spline on simulated data, and its basis
set.seed(1)
u <- sort(runif(100, 0, 10))
y <- sin(u) + rnorm(100, sd = 0.3)
fu <- lm(y ~ bs(u, df = 8))
grid <- seq(min(u), max(u), length.out = 200)
plot(u, y, col = "grey40")
lines(grid, predict(fu, data.frame(u = grid)), col = "blue", lwd = 2)
matplot(grid, bs(grid, df = 8, intercept = TRUE), type = "l", lty = 1,
        xlab = "u", ylab = "B-spline")

# a logistic regression on a spline of the predictor
set.seed(2)
z <- rbinom(100, 1, plogis(2 * cos(u)))
fz <- glm(z ~ bs(u, df = 5), family = binomial)
round(predict(fz, data.frame(u = c(1, 3, 6)), type = "response"), 3)

# the same columns as splines2::bSpline
if (requireNamespace("splines2", quietly = TRUE))
  all.equal(unclass(bs(u, df = 8))[, ],
            unclass(splines2::bSpline(u, df = 8))[, ], check.attributes = FALSE)
}
\keyword{smooth}
