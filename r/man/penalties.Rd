\name{difference_penalty}
\alias{difference_penalty}
\alias{derivative_penalty}
\title{Penalty Matrices}
\description{
  \code{difference_penalty}: \eqn{D^T D} for the difference matrix \eqn{D}
  of order \code{order} on \code{n} coefficients (zero when
  \code{n <= order}).
  \code{derivative_penalty}: the Gram matrix of the \code{m}-th derivatives
  of the basis functions over the base interval, by exact Gauss-Legendre
  quadrature.
}
\usage{
difference_penalty(n, order = 2, sparse = FALSE)
derivative_penalty(knots, ord = 4, m = 2, nj = NULL, sparse = FALSE)
}
\arguments{
  \item{n}{number of coefficients.}
  \item{order}{difference order, 1 to 4.}
  \item{knots, ord, nj}{as for \code{\link{design_matrix}}.}
  \item{m}{derivative order >= 0.}
  \item{sparse}{return a \code{dsCMatrix} rather than a dense matrix.}
}
\value{A symmetric matrix, dense or \code{dsCMatrix}.}
\examples{
difference_penalty(5)
derivative_penalty(c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3))
}
