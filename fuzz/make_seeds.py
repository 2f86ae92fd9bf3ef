#!/usr/bin/env python3
"""Writes the seed corpora fuzz/corpus/<target>/ in the byte format that
fuzz_input.hpp decodes (one byte per choice, front to back)."""
import os
import struct

EXTREMES = [-2**31, -2**31 + 1, -1000000, -65536, -257, -2, -1, 0, 1, 2,
            1023, 1024, 1025, 65536, 2**31 - 2, 2**31 - 1]
SPECIALS = ['nan', '-nan', 'inf', '-inf', '0', '-0', 'max', '-max', '1e300',
            '-1e300', 'min', 'denorm', '-denorm', '2^31-1', '2^31', '-2^31-1']


def small(lo, v):
    return [v - lo]


def any_int(lo, hi, v):
    if lo <= v <= hi and v - lo < 240:
        return [v - lo]
    return [240 + EXTREMES.index(v)]


def eighth(v):  # multiples of 1/8 in -4 .. 27.875
    return [7, int(v * 8) + 32]


def special(name):
    return [0, SPECIALS.index(name)]


def anchor(k):
    return [1, k]


def raw(v):
    return [6] + list(struct.pack('>d', v))


def knots(steps, start_half=0):
    """start = start_half / 2; steps in quarters (0 for a repeated knot)."""
    out = [start_half + 8, 0]
    for s in steps:
        out.append(0 if s == 0 else 64 + (s - 1))
    return out


def write(target, name, data):
    d = os.path.join(os.path.dirname(__file__), 'corpus', target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(bytes(data))


uniform_steps = [4] * 14          # knots 0, 1, ..., 13
clamped = [0, 0, 0, 4, 4, 4, 0, 0, 0, 0]  # 0,0,0,0,1,2,3,3,3,3

# blossom: hostile flag, order, order_stop, nj, nx, x..., [zeroed, B...]
write('fuzz_blossom', 'cubic_known_answers',
      [0] + small(1, 4) + any_int(-2, 12, 4) + any_int(-2, 40, 10) + small(0, 4)
      + eighth(3.0) + eighth(3.5) + eighth(9.875) + eighth(10.0))
write('fuzz_blossom', 'stop_short_and_ends',
      [0] + small(1, 4) + any_int(-2, 12, 3) + any_int(-2, 40, 10) + small(0, 3)
      + anchor(0) + anchor(1) + anchor(2))
write('fuzz_blossom', 'non_finite',
      [0] + small(1, 3) + any_int(-2, 12, 3) + any_int(-2, 40, 8) + small(0, 5)
      + special('nan') + special('inf') + special('-inf') + special('-0')
      + special('2^31'))
write('fuzz_blossom', 'order_zero',
      [1] + any_int(-2, 40, 0) + any_int(-2, 12, 3) + any_int(-2, 40, 8)
      + any_int(-2, 24, 4) + eighth(1.0) * 4 + [1])
write('fuzz_blossom', 'stop_above_order_huge_nj',
      [1] + any_int(-2, 40, 3) + any_int(-2, 12, 2**31 - 1)
      + any_int(-2, 40, 2**31 - 1) + any_int(-2, 24, 3)
      + special('2^31-1') + raw(2147483646.5) + eighth(2.0) + [0]
      + special('nan') * 9)

# blossom_grid: hostile, order, order_stop, nt, nj, nx, knots, x..., [zeroed]
write('fuzz_blossom_grid', 'clamped_cubic',
      [0] + small(1, 4) + any_int(-2, 12, 4) + small(3, 10) + any_int(-2, 40, 6)
      + small(0, 5) + knots(clamped) + anchor(0) + anchor(9)
      + eighth(0.5) + eighth(2.875) + eighth(1.0))
write('fuzz_blossom_grid', 'uniform_knots',
      [0] + small(1, 4) + any_int(-2, 12, 4) + small(3, 14) + any_int(-2, 40, 10)
      + small(0, 3) + knots(uniform_steps) + eighth(3.5) + eighth(9.0)
      + eighth(10.0))
write('fuzz_blossom_grid', 'no_knots',
      [1] + any_int(-2, 40, 3) + any_int(-2, 12, 3) + any_int(-2, 40, 0)
      + any_int(-2, 40, 5) + any_int(-2, 24, 2) + [0] + eighth(1.0)
      + eighth(0.0) + [1])
write('fuzz_blossom_grid', 'stop_int_min',
      [1] + any_int(-2, 40, 4) + any_int(-2, 12, -2**31) + any_int(-2, 40, 12)
      + any_int(-2, 40, 2**31 - 1) + any_int(-2, 24, 3) + knots([4] * 12)
      + [0] + eighth(5.5) + special('nan') + special('-inf') + [1])
write('fuzz_blossom_grid', 'tiny_gaps',
      [0] + small(1, 4) + any_int(-2, 12, 4) + small(3, 11) + any_int(-2, 40, 7)
      + small(0, 3) + [8, 0, 0, 0, 224, 67, 67, 67, 67, 0, 0, 0, 0]
      + anchor(3) + eighth(2.5) + special('denorm'))

# deriv_grid: hostile flag; within limits: order, nt, nj, nx, knots, x...
write('fuzz_deriv_grid', 'clamped_cubic',
      [0] + small(1, 4) + small(3, 10) + any_int(-2, 40, 6) + small(0, 4)
      + knots(clamped) + eighth(0.5) + eighth(1.5) + anchor(9) + eighth(-1.0))
write('fuzz_deriv_grid', 'uniform_order_one',
      [0] + small(1, 1) + small(1, 8) + any_int(-2, 40, 7) + small(0, 3)
      + knots([4] * 8) + eighth(3.5) + anchor(7) + special('nan'))
write('fuzz_deriv_grid', 'tiny_gaps',
      [0] + small(1, 8) + small(3, 29) + any_int(-2, 40, -2) + small(0, 10)
      + [0, 255, 255, 2, 236])
# hostile: order, nt, nx, knots, replace bytes, (j, B) pairs, N, no_i
write('fuzz_deriv_grid', 'hostile_columns',
      [1] + any_int(-2, 40, 3) + any_int(-2, 40, 5) + any_int(-2, 24, 2)
      + knots([4] * 5) + [255] * 5
      + any_int(-2, 44, -2**31) + special('1e300')
      + any_int(-2, 44, 2**31 - 1) + special('nan')
      + any_int(-2, 44, 4) + eighth(1.0) + any_int(-2, 44, 5) + eighth(1.0)
      + any_int(-2, 44, -1) + special('inf') + any_int(-2, 44, 0) + eighth(0.5)
      + any_int(-2, 40, 6) + [1])
write('fuzz_deriv_grid', 'hostile_no_knots',
      [1] + any_int(-2, 40, 2) + any_int(-2, 40, -1) + any_int(-2, 24, 2)
      + [0] + eighth(1.0) * 4 + [0])

# binary_search_with_guess: len, guess, knots, [replace], key
ten = [4] * 10  # 0, 1, ..., 9
for name, key in [('below', eighth(-1.0)), ('half', eighth(0.5)),
                  ('inner', eighth(4.5)), ('last', anchor(9)),
                  ('above', eighth(9.5))]:
    write('fuzz_binary_search_with_guess', 'ten_' + name,
          any_int(-2, 40, 10) + any_int(-3, 43, 5) + knots(ten) + [0] + key)
write('fuzz_binary_search_with_guess', 'repeats_nan_key',
      any_int(-2, 40, 10) + any_int(-3, 43, -3) + knots(clamped) + [0]
      + special('nan'))
write('fuzz_binary_search_with_guess', 'empty',
      any_int(-2, 40, -1) + any_int(-3, 43, 2**31 - 1) + [0] + eighth(1.0))

# binary_search: len, N, knots, [replace], keys
write('fuzz_binary_search', 'ten_known_answers',
      any_int(-2, 40, 10) + any_int(-2, 32, 7) + knots(ten) + [0]
      + eighth(-1.0) + anchor(0) + eighth(0.5) + eighth(4.5) + raw(8.99)
      + anchor(9) + eighth(9.5))
write('fuzz_binary_search', 'clamped_nan',
      any_int(-2, 40, 10) + any_int(-2, 32, 4) + knots(clamped) + [0]
      + anchor(0) + special('nan') + anchor(9) + eighth(2.5))
write('fuzz_binary_search', 'empty_array',
      any_int(-2, 40, 0) + any_int(-2, 32, 3) + [0, 0] + eighth(1.0) * 3)
write('fuzz_binary_search', 'unsorted',
      any_int(-2, 40, 12) + any_int(-2, 32, 3) + knots([4] * 12) + [1]
      + [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0] + eighth(3.0) * 3)

# test: order, N, nx, ngrid, (j, B) pairs
write('fuzz_test', 'five_five',
      any_int(-2, 12, 3) + any_int(-2, 60, 6) + any_int(-2, 20, 4)
      + any_int(-2, 20, 4) + (any_int(-4, 60, 5) + eighth(2.0)) * 6)
write('fuzz_test', 'partial_block_wrap',
      any_int(-2, 12, 4) + any_int(-2, 60, 7) + any_int(-2, 20, -1)
      + any_int(-2, 20, 0) + any_int(-4, 60, -2**31) + special('nan')
      + (any_int(-4, 60, 0) + eighth(1.0)) * 6)
write('fuzz_test', 'order_zero',
      any_int(-2, 12, 0) + any_int(-2, 60, 5) + [0, 0]
      + (any_int(-4, 60, 3) + eighth(1.0)) * 5)
write('fuzz_test', 'negative_count',
      any_int(-2, 12, 2) + any_int(-2, 60, -1) + [0, 0])

# fuzz_extension: the first byte picks the function (0 design, 1 uniform,
# 2 periodic, 3 tensor, 4 difference penalty, 5 derivative penalty,
# 6 make_knots, 7 strerror), then the hostile flag; the last byte of an
# input picks the instruction-set path.
EXTREMES64 = [-2**63, -2**32, -2**31, -1, 0, 1, 511, 512, 513, 1025,
              2**31 - 1, 2**31, 2**32, (2**63 - 1) // 8, 2**62, 2**63 - 1]
SUBTILES = [511, 512, 513, 1023, 1024, 1025]


def any_count(lo, hi, v):
    if lo <= v <= hi and v - lo < 240:
        return [v - lo]
    return [240 + EXTREMES64.index(v)]


def some_count(v):
    return [v] if v < 30 else [30 + SUBTILES.index(v)]


def breaks(n, start_half=0):
    """n strictly increasing breaks a unit apart."""
    return [start_half + 8] + [7] * n


def design(order, extra, drop, nu, mode, nx, steps, xs, tail):
    """Within the limits: nt = 2*order + extra, nj = nt - order - drop."""
    return ([0, 0] + small(1, order) + [extra, drop] + small(0, nu) + small(0, mode)
            + some_count(nx) + knots(steps) + xs + tail)


write('fuzz_extension', 'design_cubic_second_derivative_continue',
      design(4, 2, 0, 2, 2, 6, clamped,
             eighth(-1.0) + eighth(0.5) + anchor(9) + eighth(2.875) + special('nan')
             + eighth(3.5), [1, 1, 0]))
write('fuzz_extension', 'design_error_in_range',
      design(2, 4, 1, 0, 0, 4, [4] * 8,
             eighth(1.0) + eighth(1.5) + eighth(2.0) + eighth(4.0), [0, 1, 1, 1]))
write('fuzz_extension', 'design_third_derivative_linear_repeated_ends',
      design(5, 3, 0, 3, 4, 5, [0, 0, 0, 0, 0, 2, 4, 4, 0, 0, 0, 0, 0],
             eighth(-0.5) + anchor(4) + eighth(2.25) + anchor(8) + eighth(3.5), [1, 0, 2]))
write('fuzz_extension', 'design_subtile_zero',
      design(4, 20, 0, 1, 1, 513, [4] * 28,
             eighth(3.0) + eighth(10.5) + special('inf') + eighth(25.0), [1, 1, 3]))
write('fuzz_extension', 'design_constant_periodic_mode',
      design(3, 6, 0, 0, 5, 7, [4] * 12,
             eighth(-4.0) + eighth(0.0) + eighth(13.0) + eighth(27.5) + special('-inf')
             + raw(1e17) + eighth(2.5), [1, 1, 1]))
# hostile: order, nt (past INT32_MAX: no knots), nj, nu, mode, nx, give_t, give_x
write('fuzz_extension', 'design_hostile_huge_nt',
      [0, 1] + any_int(-2, 40, 4) + any_count(-2, 80, 2**31) + any_count(-2, 80, 8)
      + any_int(-2, 12, 0) + any_int(-2, 8, 1) + any_count(-2, 40, 3) + [255, 255]
      + eighth(1.0) * 3 + [1, 1, 0, 2])
write('fuzz_extension', 'design_hostile_order_zero_nu_negative',
      [0, 1] + any_int(-2, 40, 0) + any_count(-2, 80, 8) + any_count(-2, 80, 4)
      + any_int(-2, 12, -1) + any_int(-2, 8, 7) + any_count(-2, 40, 2) + [255, 255]
      + knots([4] * 8) + [0] + eighth(1.0) * 2 + [1, 1, 0, 1])

# uniform: order, origin, spacing (indices), n - order, nu, mode, nx, x...
write('fuzz_extension', 'uniform_third_spacing_nu2',
      [1, 0] + small(1, 4) + [2, 3, 10] + small(0, 2) + small(0, 2) + some_count(6)
      + anchor(2) + anchor(3) + eighth(0.0) + eighth(-1.0) + anchor(5) + special('nan')
      + [1, 1, 0])
write('fuzz_extension', 'uniform_far_origin_linear',
      [1, 0] + small(1, 3) + [6, 4, 5] + small(0, 1) + small(0, 4) + some_count(4)
      + anchor(0) + anchor(7) + anchor(4) + raw(1e15 - 3.0) + [0, 1, 1])
write('fuzz_extension', 'uniform_subtile_periodic',
      [1, 0] + small(1, 6) + [0, 1, 30] + small(0, 3) + small(0, 5) + some_count(1025)
      + eighth(-3.5) + eighth(5.0) + anchor(6) + [1, 1, 1])

# periodic: order, nbreaks - order - 1, nu, nx, breaks, x...
write('fuzz_extension', 'periodic_cubic_wrap',
      [2, 0] + small(1, 4) + [3] + small(0, 2) + some_count(6) + breaks(8)
      + eighth(-3.0) + anchor(7) + eighth(0.5) + special('max') + special('nan')
      + eighth(20.0) + [1, 1, 0])
write('fuzz_extension', 'periodic_order_one_subtile',
      [2, 0] + small(1, 1) + [0] + small(0, 0) + some_count(511) + breaks(2)
      + eighth(0.0) + eighth(0.25) + anchor(1) + [0, 1, 2])

# tensor: d, per factor (order, nt - 2*order, drop, nu, knots), give_nu,
# mode, npts, jsel, coordinates, give_i
write('fuzz_extension', 'tensor_two_cubic_linear_j64',
      [3, 0] + small(1, 2)
      + small(1, 4) + [2, 0, 1] + knots(clamped)
      + small(1, 2) + [3, 0, 0] + knots([4] * 7)
      + [1] + small(0, 3) + some_count(3) + [1]
      + eighth(0.5) + eighth(1.5) + eighth(2.5) + anchor(3) + eighth(-1.0) + eighth(7.0)
      + [1, 0])
write('fuzz_extension', 'tensor_three_error_j32',
      [3, 0] + small(1, 3)
      + (small(1, 2) + [2, 0, 0] + knots([4] * 6)) * 3
      + [0] + small(0, 0) + some_count(2) + [0]
      + eighth(1.5) * 3 + eighth(2.25) * 3 + [0, 1, 3])
write('fuzz_extension', 'tensor_hostile_d65',
      [3, 1] + any_int(-2, 70, 65) + [0] * 8)

# penalties
write('fuzz_extension', 'difference_penalty_second_order',
      [4, 0] + small(1, 12) + small(1, 2))
write('fuzz_extension', 'difference_penalty_hostile_overflow',
      [4, 1] + any_count(-2, 300, 2**62) + any_int(-2, 8, 3) + [255])
write('fuzz_extension', 'derivative_penalty_cubic_m2',
      [5, 0] + small(1, 4) + [2, 0] + small(0, 2) + knots(clamped))
write('fuzz_extension', 'derivative_penalty_repeated_knots_m0',
      [5, 0] + small(1, 3) + [6, 1] + small(0, 0) + knots([0, 0, 4, 0, 4, 4, 0, 4, 0, 0, 0, 0]))

# make_knots: nx, weighted, n_knots, order, kind, boundary, x..., weights
write('fuzz_extension', 'make_knots_quantile_weighted_extended',
      [6, 0] + small(0, 6) + [1] + small(2, 5) + small(1, 4) + [1, 1]
      + eighth(0.0) + eighth(2.0) + eighth(2.0) + eighth(5.5) + eighth(-1.0) + eighth(3.0)
      + [2, 0, 1, 3, 2, 1])
write('fuzz_extension', 'make_knots_uniform_clamped_huge',
      [6, 0] + small(0, 3) + [0] + small(2, 4) + small(1, 3) + [0, 0]
      + special('max') + special('-max') + eighth(1.0))
write('fuzz_extension', 'make_knots_one_distinct',
      [6, 0] + small(0, 3) + [0] + small(2, 4) + small(1, 2) + [1, 0]
      + eighth(1.5) * 3)

write('fuzz_extension', 'strerror_codes', [7, 0xff, 0xff, 0xff, 0xf9, 1])

# normal equations (8 on knots, 9 on the grid) and spline values (10, 11):
# the basis (knots: order, nt - 2*order, drop, knots; grid: order, origin,
# spacing, n - order), nu, mode, nx, then for the sums: which of y, w,
# bad_row (bits 0-2; bit 3: rhs without y), [hostile: a NULL], the data
# style (bit 0: any y, bit 1: any w, bit 2: NaN y outside, bits 3-4: the
# prefill), x..., y..., w...; for the values: [hostile: a NULL], any c, x...,
# c...
ROWS = [511, 512, 513, 1023, 1024, 1025, 1639, 2049, 4097, 8193]


def row_count(v):
    return [v] if v < 30 else [30 + ROWS.index(v)]


def resp(v):  # a finite response, a multiple of 1/16 in -7.5 .. 7.4375
    return [int(v * 16) + 120]


def wt(v):  # a weight, a multiple of 1/4 in 0 .. 1.75
    return [int(v * 4)]


def knots_basis(order, extra, drop, steps):
    return small(1, order) + [extra, drop] + knots(steps)


write('fuzz_extension', 'normal_cubic_clamped_weighted',
      [8, 0] + knots_basis(4, 2, 0, clamped) + small(0, 0) + small(0, 1) + row_count(6)
      + [7, 0]
      + eighth(-1.0) + eighth(0.5) + anchor(9) + eighth(2.875) + special('nan') + eighth(1.5)
      + resp(1.0) + resp(-2.5) + resp(0.25) + resp(3.0) + resp(7.0) + resp(-0.5)
      + wt(1.0) + wt(0.5) + wt(0.0) + wt(1.75) + wt(1.0) + wt(0.25) + [1])
write('fuzz_extension', 'normal_linear_error_derivative_no_weights',
      [8, 0] + knots_basis(2, 4, 1, [4] * 8) + small(0, 1) + small(0, 0) + row_count(5)
      + [1, 16]
      + eighth(1.0) + eighth(1.5) + eighth(2.0) + eighth(4.0) + eighth(9.0) + [0]
      + resp(0.5) + resp(-1.0) + resp(2.0) + resp(0.0) + resp(1.5) + [0])
write('fuzz_extension', 'normal_nan_response_on_empty_row',
      [8, 0] + knots_basis(3, 6, 0, [4] * 12) + small(0, 0) + small(0, 1) + row_count(4)
      + [5, 4]
      + eighth(3.0) + eighth(-3.0) + special('inf') + eighth(4.5)
      + resp(1.0) * 4 + [2])
write('fuzz_extension', 'normal_bad_response_in_range',
      [8, 0] + knots_basis(4, 3, 1, [4] * 11) + small(0, 2) + small(0, 4) + row_count(3)
      + [5, 1]
      + eighth(4.0) + eighth(5.5) + eighth(6.0)
      + eighth(1.0) + special('nan') + special('-inf') + [1])
write('fuzz_extension', 'normal_subtiles_order_eight',
      [8, 0] + knots_basis(8, 30, 0, [4] * 46) + small(0, 0) + small(0, 2) + row_count(2049)
      + [3, 8]
      + sum((eighth(-1.0 + 0.875 * k) for k in range(32)), [])
      + sum((resp(0.0625 * k - 1.0) for k in range(32)), [])
      + sum((wt(0.25 * (k % 8)) for k in range(32)), []) + [2])
# hostile: order, nt, nj, give_t, knots, [spoil], nu, mode, nx, which, NULL
write('fuzz_extension', 'normal_hostile_no_ab',
      [8, 1] + any_int(-2, 40, 3) + any_count(-2, 80, 9) + any_count(-2, 80, 6) + [255]
      + knots([4] * 9) + [0] + any_int(-2, 12, 0) + any_int(-2, 8, 1)
      + any_count(-2, 40, 3) + [1, 200, 1, 0] + eighth(3.0) * 3 + resp(1.0) * 3 + [0])
write('fuzz_extension', 'normal_hostile_y_without_rhs',
      [8, 1] + any_int(-2, 40, 2) + any_count(-2, 80, 6) + any_count(-2, 80, 4) + [255]
      + knots([4] * 6) + [0] + any_int(-2, 12, 0) + any_int(-2, 8, 2)
      + any_count(-2, 40, 2) + [1, 200, 4, 0] + eighth(2.0) * 2 + resp(1.0) * 2 + [1])
write('fuzz_extension', 'uniform_normal_third_spacing_weighted',
      [9, 0] + small(1, 4) + [2, 3, 10] + small(0, 1) + small(0, 3) + row_count(6)
      + [7, 16]
      + anchor(2) + anchor(3) + eighth(0.0) + eighth(-1.0) + anchor(5) + special('nan')
      + resp(1.0) + resp(2.0) + resp(-3.0) + resp(0.5) + resp(0.0) + resp(4.0)
      + wt(0.5) + wt(1.0) + wt(1.5) + wt(0.0) + wt(0.25) + wt(1.0) + [1])
write('fuzz_extension', 'uniform_normal_negative_weight',
      [9, 0] + small(1, 3) + [0, 0, 5] + small(0, 0) + small(0, 3) + row_count(3)
      + [6, 2]
      + eighth(2.5) + eighth(3.5) + eighth(4.5)
      + eighth(1.0) + special('-0') + [7, 24] + [0])
write('fuzz_extension', 'uniform_normal_hostile_negative_nx',
      [9, 1] + any_int(-2, 40, 4) + anchor(0) + anchor(0) + any_count(-2, 80, 12)
      + any_int(-2, 12, 1) + any_int(-2, 8, 3) + any_count(-2, 40, -1) + [3, 0, 0] + [0])
write('fuzz_extension', 'evaluate_cubic_clamped_second_derivative',
      [10, 0] + knots_basis(4, 2, 0, clamped) + small(0, 2) + small(0, 4) + row_count(5)
      + [0]
      + eighth(-1.0) + eighth(0.5) + anchor(9) + eighth(2.875) + special('nan')
      + resp(1.0) + resp(-2.0) + resp(0.5) + resp(3.0) + resp(0.25) + resp(-1.0) + [1])
write('fuzz_extension', 'evaluate_periodic_mode_nan_coefficient',
      [10, 0] + knots_basis(3, 4, 0, [4] * 10) + small(0, 0) + small(0, 5) + row_count(4)
      + [1]
      + eighth(-3.0) + eighth(2.5) + eighth(20.0) + special('-inf')
      + eighth(1.0) + special('nan') + eighth(2.0) + eighth(0.5) + eighth(-1.0)
      + eighth(3.0) + eighth(0.0) + [2])
write('fuzz_extension', 'evaluate_hostile_no_coefficients',
      [10, 1] + any_int(-2, 40, 2) + any_count(-2, 80, 6) + any_count(-2, 80, 4) + [255]
      + knots([4] * 6) + [0] + any_int(-2, 12, 0) + any_int(-2, 8, 1)
      + any_count(-2, 40, 0) + [200, 1, 0] + [0])
write('fuzz_extension', 'uniform_evaluate_subtiles_first_derivative',
      [11, 0] + small(1, 4) + [1, 2, 40] + small(0, 1) + small(0, 2) + row_count(4097)
      + [0] + sum((eighth(-3.0 + 0.125 * k) for k in range(32)), [])
      + sum((resp(0.125 * k - 2.0) for k in range(32)), []) + [1])
write('fuzz_extension', 'uniform_evaluate_error_far_origin',
      [11, 0] + small(1, 3) + [6, 4, 5] + small(0, 0) + small(0, 0) + row_count(4)
      + [0] + anchor(2) + anchor(5) + raw(1e15 + 10.0) + anchor(3) + [0]
      + resp(1.0) + resp(2.0) + resp(3.0) + resp(4.0) + resp(5.0) + resp(-1.0) + resp(-2.0)
      + resp(0.5) + [0])

# Dense rows from blocks: a row-major window with entries beyond it, and a
# column-major one with a repeated column and an empty row.
def block_entries(cols, values):
    out = []
    for c, v in zip(cols, values):
        out += small(-2, c) + eighth(v)
    return out


write('fuzz_extension', 'dense_row_major_beyond_window',
      [12] + small(0, 4) + small(0, 3) + small(0, 6) + [0] + small(0, 1)
      + block_entries([0, 1, 2, 3, 2, 3, 4, 5, 5, 6, 7, 8],
                      [0.125, 0.5, 0.25, 0.125, 1.0, 0.0, 0.5, 0.5, 0.25, 0.75, 2.0, 3.0])
      + [0])
write('fuzz_extension', 'dense_column_major_repeated_and_empty',
      [12] + small(0, 3) + small(0, 4) + small(0, 5) + [1] + small(0, 2)
      + block_entries([1, 1, 2, -1, -1, -1, 0, 4, 6, 3, 3, 3],
                      [0.5, 0.25, 0.25, 0.0, 0.0, 0.0, 1.0, 2.0, 3.0, 0.125, 0.125, 0.125])
      + [1])
