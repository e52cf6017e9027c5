// QXAsynchStatus from JScript: a call's status, progress and result, and the changes refused.
// A QXAsynchStatus is the status object of an asynchronous SDK call. Here the script
// plays both parts: it drives the status the way the SDK does while its call runs (the members
// hidden from object browsers), and reads it the way a client does.
// Run: cscript //nologo asynch_status.js  (after registering QXSDKCommon.dll)
// The events and the completion event are for compiled clients: see cpp/client.cpp.

// Status is a set of bit flags: 1 in progress, 2 complete, 4 has errors, 8 cancel requested.
var names = {0: "csInitial", 1: "csInProgress", 2: "csComplete", 5: "csInProgressWithErrors",
             6: "csCompleteWithErrors", 9: "csCancelPending", 10: "csCancelComplete"};
var status = new ActiveXObject("QXSDKCommon.QXAsynchStatus");

function show(when) {
  WScript.Echo(when + ": Status = " + status.Status + " (" + names[status.Status] + "), ProgressPercent = " +
               status.ProgressPercent);
}

// Runs a change that the object refuses, and shows the error's number and text.
function refused(what, change) {
  try {
    change();
    WScript.Echo(what + ": accepted");
  } catch (e) {
    WScript.Echo(what + ": error 0x" + (e.number >>> 0).toString(16) + " " + (e.description || "(no text)"));
  }
}

// A call that runs, meets an error on the way, and completes.
show("New");
status.Status = 1;
status.ProgressPercent = 40;
show("Started");
status.SetErrors();
status.Result = "3 of 4 files copied";
status.SetComplete();
show("Completed");
WScript.Echo("Result = " + status.Result);

// A completed call changes no more; Reset readies the object for the next call.
refused("Cancel after completion", function () { status.Cancel(); });
refused("Result after completion", function () { status.Result = "late"; });
refused("Back to in progress", function () { status.Status = 1; });
status.Reset();
show("After Reset");

// A second call that the client cancels while it runs. The object records the request; the
// SDK sees it and ends the call early, so progress stays where it was.
status.Status = 1;
status.ProgressPercent = 30;
status.Cancel();
show("Cancel requested");
refused("Reset while running", function () { status.Reset(); });
refused("Progress going backwards", function () { status.ProgressPercent = 20; });
status.SetComplete();
show("Cancelled call completed");

// The timeout is only stored, in seconds, for the SDK to use.
status.Timeout = 30;
WScript.Echo("Timeout = " + status.Timeout + " s");
WScript.Echo("Done.");
