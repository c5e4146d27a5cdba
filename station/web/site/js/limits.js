// SPDX-License-Identifier: Apache-2.0
// The ranges the service checks (include/quorlan/Driver.h), so that the page
// can refuse the same values before it asks. A station test holds the two
// together.
export const kLowestPrice = 0.01;
export const kHighestPrice = 99.99;
export const kLowestLimit = 0.01;
export const kHighestLimit = 9999.99;
// Grades a dispenser sells, 1 to this.
export const kLastGrade = 8;
