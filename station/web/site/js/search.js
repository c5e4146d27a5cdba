// SPDX-License-Identifier: Apache-2.0
// Where to start reading a list the station orders by growing ids (fills,
// shifts) to get its newest part without reading it all: a doubling, then a
// bisection, in a few requests. `first(after)` answers the first item above
// an id, or nothing; `inside(item)` is true from some id on (today's fills)
// or never (then the search finds the newest id). The answer is that id less
// `margin`, the `after` to read from.
export async function startOf(first, inside, margin) {
  let low = 0; // no item up to this id is inside
  let high = 1;
  for (;;) {
    const item = await first(high);
    if (!item || inside(item)) break;
    low = item.id;
    high = item.id * 2;
  }
  while (high - low > 1) {
    const middle = Math.floor((low + high) / 2);
    const item = await first(middle);
    if (!item || inside(item)) high = middle;
    else low = Math.max(item.id, low);
  }
  return Math.max(0, low - margin);
}
