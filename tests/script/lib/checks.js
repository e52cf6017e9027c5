// The checks shared by the JScript suites, which load this file with eval. A failed check prints
// one line; finish() prints "N passed, N failed" and sets the exit code.
var passed = 0, failed = 0, group = "start";

function report(what, message) {
  failed++;
  WScript.Echo("FAIL " + group + " / " + what + ": " + message);
}
function expect(what, expected, actual) {
  if (expected === actual) passed++;
  else report(what, "expected [" + expected + "], got [" + actual + "]");
}
// Runs `step`, which must throw `number` (signed 32-bit) with `description` (unless undefined).
function expectError(what, number, description, step) {
  try {
    step();
    report(what, "expected error " + number + ", got none");
  } catch (e) {
    if (e.number === number && (description === undefined || e.description === description)) passed++;
    else report(what, "expected error " + number + " '" + description + "', got " + e.number + " '" + e.description + "'");
  }
}
// Runs a group of checks; an unexpected exception fails the group instead of ending the script.
function check(name, body) {
  group = name;
  try {
    body();
  } catch (e) {
    report("unexpected exception", e.number + " '" + e.description + "'");
  }
}
function finish() {
  WScript.Echo(passed + " passed, " + failed + " failed");
  WScript.Quit(failed === 0 ? 0 : 1);
}
