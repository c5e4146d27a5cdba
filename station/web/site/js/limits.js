// SPDX-License-Identifier: Apache-2.0
// The ranges the service checks (include/quorlan/Driver.h), so that the page
// can refuse the same values before it asks. A station test holds the two
// together.
export const kLowestPrice = 0.01;
export const kHighestPrice = 99.99;
export const kLowestLimit = 0.01;
export const kHighestLimit = 9999.99;
// Grades a dispenser sells, 1 to this; nozzle n sells grade n.
export const kLastGrade = 8;
export const kLastNozzle = kLastGrade;
// The nozzles of a line when its configuration does not list them.
export const kDefaultNozzles = [1, 2, 3, 4];
