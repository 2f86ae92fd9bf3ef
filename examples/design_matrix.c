/* A cubic B-spline design matrix and its derivative, printed as triplets. */
#include <stdio.h>
#include <stdlib.h>

#include "bsbasis.h"

int main(void) {
  /* Clamped cubic knots on [0, 3]: 6 basis functions. */
  double t[] = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  int nt = sizeof t / sizeof t[0];
  int order = 4;
  int nj = nt - order;
  double x[] = {0.0, 0.5, 1.0, 1.75, 2.999, 3.0};
  int nx = sizeof x / sizeof x[0];
  int n = nx * order;

  int *i = malloc(n * sizeof *i);
  int *j = malloc(n * sizeof *j);
  double *B = calloc(n, sizeof *B); /* the caller zero-fills B */
  if (!i || !j || !B) return 1;

  blossom_grid(t, nt, x, nx, i, j, B, n, order, order, nj);
  printf("basis values (x = 3 is the right end: out of range, zeros in column 0)\n");
  printf("%4s %4s %22s\n", "row", "col", "value");
  for (int e = 0; e < n; e++) printf("%4d %4d %22.17g\n", i[e], j[e], B[e]);

  /* Derivatives: stop one level short, then transform in place. */
  for (int e = 0; e < n; e++) B[e] = 0.0;
  blossom_grid(t, nt, x, nx, i, j, B, n, order - 1, order, nj);
  deriv_grid(t, nt, i, j, B, n, nx, order);
  printf("\nfirst derivatives\n");
  printf("%4s %4s %22s\n", "row", "col", "value");
  for (int e = 0; e < n; e++) printf("%4d %4d %22.17g\n", i[e], j[e], B[e]);

  free(i);
  free(j);
  free(B);
  return 0;
}
