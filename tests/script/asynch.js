// QXAsynchStatus from JScript, late-bound: the course of a call through its status, progress and
// result, the refusals with their numbers and texts, Reset, Timeout and the completion event.
// Ends with "N passed, N failed"; exit code 0 only when all pass.
eval(new ActiveXObject("Scripting.FileSystemObject")
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\]*$/, "") + "lib\\checks.js").ReadAll());

function newStatus() { return new ActiveXObject("QXSDKCommon.QXAsynchStatus"); }

var E_INVALIDARG = 0x80070057 | 0;
var ASYNCH_COMPLETE = 0x8004079C | 0;
var ASYNCH_NOT_IN_PROGRESS = 0x8004079D | 0;
var ASYNCH_IN_PROGRESS = 0x80040766 | 0;
var COMPLETE_TEXT = "Asynchronous call is already complete. ";
var NOT_IN_PROGRESS_TEXT = "Asynchronous result cannot be set unless the call is in progress. ";
var IN_PROGRESS_TEXT = "Asynchronous call is already in progress. ";

check("course of a call", function () {
  var s = newStatus();
  expect("initial status", 0, s.Status);
  expect("initial progress", 0, s.ProgressPercent);
  expect("initial result", undefined, s.Result);
  s.Status = 1;
  s.ProgressPercent = 40;
  s.Result = "partial";
  s.SetErrors();
  expect("with errors", 5, s.Status);
  s.Result = 42;
  s.SetComplete();
  expect("complete with errors", 6, s.Status);
  expect("progress filled", 100, s.ProgressPercent);
  expect("result", 42, s.Result);
  expectError("result after completion", ASYNCH_NOT_IN_PROGRESS, NOT_IN_PROGRESS_TEXT, function () { s.Result = 1; });
  expectError("cancel after completion", ASYNCH_COMPLETE, COMPLETE_TEXT, function () { s.Cancel(); });
  expectError("status after completion", ASYNCH_COMPLETE, COMPLETE_TEXT, function () { s.Status = 0; });
  s.Status = 6;
  expect("same status is accepted", 6, s.Status);
  s.Reset();
  expect("reset status", 0, s.Status);
  expect("reset progress", 0, s.ProgressPercent);
  expect("reset result", undefined, s.Result);
});

check("refused transitions", function () {
  var s = newStatus();
  s.Status = 1;
  expectError("1 -> 0", E_INVALIDARG, undefined, function () { s.Status = 0; });
  expectError("1 -> 8", E_INVALIDARG, undefined, function () { s.Status = 8; });
  expectError("1 -> 3", E_INVALIDARG, undefined, function () { s.Status = 3; });
  expectError("reset while running", ASYNCH_IN_PROGRESS, IN_PROGRESS_TEXT, function () { s.Reset(); });
  expect("status kept", 1, s.Status);
  s.Status = 4;
  expectError("4 -> 0", E_INVALIDARG, undefined, function () { s.Status = 0; });
  s.Status = 6;
  expect("4 -> 6", 6, s.Status);
});

check("cancel", function () {
  var fresh = newStatus();
  fresh.Cancel();
  expect("cancel flag", 8, fresh.Status);
  expectError("result when only cancelled", ASYNCH_NOT_IN_PROGRESS, NOT_IN_PROGRESS_TEXT, function () { fresh.Result = 1; });
  var s = newStatus();
  s.Status = 1;
  s.ProgressPercent = 30;
  s.Cancel();
  expect("cancel pending", 9, s.Status);
  s.Result = "still allowed";
  s.SetComplete();
  expect("cancel complete", 10, s.Status);
  expect("progress kept", 30, s.ProgressPercent);
  expect("result kept", "still allowed", s.Result);
});

check("progress", function () {
  var s = newStatus();
  s.ProgressPercent = 50;
  expectError("backwards", E_INVALIDARG, undefined, function () { s.ProgressPercent = 40; });
  s.ProgressPercent = 50;
  expectError("above 100", E_INVALIDARG, undefined, function () { s.ProgressPercent = 100.5; });
  expect("progress", 50, s.ProgressPercent);
  s.ProgressPercent = 100;
  expect("full", 100, s.ProgressPercent);
});

check("result values", function () {
  var s = newStatus();
  var other = newStatus();
  other.Timeout = 7;
  s.Result = other;
  expect("object result", 7, s.Result.Timeout);
  s.Result = null;
  expect("null result", null, s.Result);
});

check("timeout and completion event", function () {
  var s = newStatus();
  expect("initial timeout", 0, s.Timeout);
  s.Timeout = -3;
  expect("negative timeout", -3, s.Timeout);
  var handle = s.CallCompleteEvent2;
  expect("event handle", true, handle > 0);
  expect("same handle", handle, s.CallCompleteEvent2);
});

finish();
