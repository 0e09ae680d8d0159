// Durations and shares as text, written as spanmill-report writes them
// (report/Summary.h), so that a number reads the same in every view of the
// page as in the summary table.
(function (spanmill) {
  'use strict';

  // printf's "%.Nf" of value: toFixed, but for an exact tie, which printf
  // sends to the even digit where toFixed goes away from 0. 25 more digits
  // tell a tie from a near one for any value a report holds.
  function fixed(value, digits) {
    const exact = Math.abs(value).toFixed(digits + 25);
    const cut = exact.length - 25;
    if (/^50*$/.test(exact.slice(cut)) && Number(exact[cut - 1]) % 2 === 0) {
      return (value < 0 ? '-' : '') + exact.slice(0, cut);
    }
    return value.toFixed(digits);
  }

  // The unit a duration of us microseconds is written in: us below a
  // millisecond, ms below a second, s from there on.
  const units = [{ scale: 1, name: 'us' }, { scale: 1e3, name: 'ms' }, { scale: 1e6, name: 's' }];
  function unitOf(us) {
    const size = Math.abs(us);
    return units[size < 1e3 ? 0 : size < 1e6 ? 1 : 2];
  }

  // "850 us", "12.5 us", "3.204 ms", "1.250 s".
  function duration(us) {
    const unit = unitOf(us);
    if (unit.scale === 1) {
      return (Number.isInteger(us) ? String(us === 0 ? 0 : us) : fixed(us, 1)) + ' us';
    }
    return fixed(us / unit.scale, 3) + ' ' + unit.name;
  }

  // A fraction as a percentage to a tenth: "12.5%".
  function share(fraction) {
    return fixed(fraction * 100, 1) + '%';
  }

  spanmill.format = { duration, share, unitOf };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
