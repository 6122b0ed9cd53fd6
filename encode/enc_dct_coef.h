// Constants of the forward DCT, shared by every variant: entry [u][x] is
// the scaled basis m(u, x) = 1 for u = 0, else 2 cos(u pi / 16)
// cos((2x + 1) u pi / 16), times 2^14 (first pass) or 2^13 (second pass,
// whose inputs carry 3 fraction bits). Applied along both directions the
// products give 8 s(u) s(v) times the DCT, the factors the scaled
// quantiser matrices remove; every entry fits 16 bits for multiply-add
// pairs.
#pragma once

#include <cstdint>

constexpr int FDCT_PASS1_BITS = 14;
constexpr int FDCT_PASS2_BITS = 13;
constexpr int FDCT_FRACTION = 3;  // extra bits kept between the passes

alignas(16) constexpr int16_t FDCT_PASS1[8][8] = {
    {16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384},
    {31521, 26722, 17855, 6270, -6270, -17855, -26722, -31521},
    {27969, 11585, -11585, -27969, -27969, -11585, 11585, 27969},
    {22654, -5315, -26722, -15137, 15137, 26722, 5315, -22654},
    {16384, -16384, -16384, 16384, 16384, -16384, -16384, 16384},
    {10114, -17855, 3552, 15137, -15137, -3552, 17855, -10114},
    {4799, -11585, 11585, -4799, -4799, 11585, -11585, 4799},
    {1247, -3552, 5315, -6270, 6270, -5315, 3552, -1247},
};

alignas(16) constexpr int16_t FDCT_PASS2[8][8] = {
    {8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192},
    {15760, 13361, 8928, 3135, -3135, -8928, -13361, -15760},
    {13985, 5793, -5793, -13985, -13985, -5793, 5793, 13985},
    {11327, -2658, -13361, -7568, 7568, 13361, 2658, -11327},
    {8192, -8192, -8192, 8192, 8192, -8192, -8192, 8192},
    {5057, -8928, 1776, 7568, -7568, -1776, 8928, -5057},
    {2399, -5793, 5793, -2399, -2399, 5793, -5793, 2399},
    {624, -1776, 2658, -3135, 3135, -2658, 1776, -624},
};
