\name{normal_equations}
\alias{normal_equations}
\title{Normal Equations without a Design Matrix}
\description{
  \eqn{X^T W X}, \eqn{X^T W y}, \eqn{y^T W y} and the sum of weights for the
  design \eqn{X} of \code{\link{design_matrix}}, formed abscissa by abscissa.
}
\usage{
normal_equations(x, knots, ord = 4, y = NULL, weights = NULL, derivs = 0,
                 extrapolate = "error", nj = NULL)
}
\arguments{
  \item{x, knots, ord, nj}{as for \code{\link{design_matrix}}.}
  \item{y}{\code{NULL} or responses, one per \code{x}.}
  \item{weights}{\code{NULL} (all 1) or finite weights >= 0.}
  \item{derivs}{one derivative order.}
  \item{extrapolate}{one of the modes of \code{\link{design_matrix}}.}
}
\details{\code{NA} abscissae contribute nothing; \code{y} must be finite on
  the other rows, and the weights finite and >= 0 on every row.  An error
  names the first row at fault and its values, as in
  \code{"y[5] = NaN on a row in range (x[5] = 0.37)"} or
  \code{"weights[3] = -1 is negative"}.}
\value{
  A list: \code{gram}, the symmetric \eqn{X^T W X} in LAPACK's upper band
  storage, an \code{ord} by \code{nj} matrix with
  \code{gram[ord + r - c, c]} the element \code{(r, c)}, \code{r <= c};
  \code{rhs} and \code{yty} (\code{NULL} without \code{y});
  \code{sum_weights}; \code{count}, the rows that contributed.  Its class
  is \code{"bsbasis_normal_equations"}, whose \code{as.matrix} and
  \code{solve} methods give the dense \eqn{X^T W X} and penalised
  solutions (\code{\link{solve.bsbasis_normal_equations}}).
}
\examples{
k <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
x <- seq(0, 3, by = 0.1)
normal_equations(x, k, y = sin(x))$rhs
}
