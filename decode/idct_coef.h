// Combined constants of the integer inverse DCT, shared by every variant.
// Even part: t0/t1 = (x0 +- x4) * C0; t3 = x2 * E26_0 + x6 * E26_1;
// t2 = x2 * E26_2 + x6 * E26_3. Odd part: o[k] = sum of x1, x3, x5, x7 times
// IDCT_O[k]. Derived from the 13-bit constants 4433, 6270, 15137 (even) and
// 2446, 16819, 25172, 12299, 7373, 20995, 16069, 3196, 9633 (odd) of the
// rotation form; all fit 16 bits so that multiply-add pairs can use them.
#pragma once

constexpr int IDCT_C0 = 8192;
constexpr int IDCT_E26_0 = 4433 + 6270;   // 10703
constexpr int IDCT_E26_1 = 4433;
constexpr int IDCT_E26_2 = 4433;
constexpr int IDCT_E26_3 = 4433 - 15137;  // -10704

// Rows o0..o3 pair with outputs 0/7, 1/6, 2/5, 3/4; columns x1, x3, x5, x7.
constexpr int IDCT_O[4][4] = {
    {12299 - 7373 - 3196 + 9633, 9633, -3196 + 9633, -7373 + 9633},
    {9633, 25172 - 20995 - 16069 + 9633, -20995 + 9633, -16069 + 9633},
    {-3196 + 9633, -20995 + 9633, 16819 - 20995 - 3196 + 9633, 9633},
    {-7373 + 9633, -16069 + 9633, 9633, 2446 - 7373 - 16069 + 9633},
};
