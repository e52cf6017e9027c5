// QXErrors from JScript: creation, Add, enumeration with Enumerator, and the failure numbers and
// texts a JScript caller sees. Ends with "N passed, N failed"; exit code 0 only when all pass.
eval(new ActiveXObject("Scripting.FileSystemObject")
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\]*$/, "") + "lib\\checks.js").ReadAll());

var E_INVALIDARG = 0x80070057 | 0;
var E_ACCESSDENIED = 0x80070005 | 0;
var OBJECT_NOT_ALLOWED = 0x8004079A | 0;

check("Add and Item", function () {
  var errs = new ActiveXObject("QXSDKCommon.QXErrors");
  var e = errs.Add(0x80004005 | 0, "unspecified", "Src", "help.chm", 12, "why");
  expect("Number", 0x80004005 | 0, e.Number);
  expect("Description", "unspecified", e.Description);
  expect("Source", "Src", e.Source);
  expect("HelpFile", "help.chm", e.HelpFile);
  expect("HelpContext", 12, e.HelpContext);
  expect("Cause", "why", e.Cause);
  expect("Count", 1, errs.Count);
  expect("Item", "unspecified", errs.Item(1).Description);
  expectError("Item(2)", E_INVALIDARG, undefined, function () { return errs.Item(2); });
});

check("object Cause", function () {
  var errs = new ActiveXObject("QXSDKCommon.QXErrors");
  expectError("Add", OBJECT_NOT_ALLOWED, "An object reference may not be used here. Cause",
              function () { errs.Add(1, "x", "", "", 0, errs); });
  expect("nothing added", 0, errs.Count);
});

check("Enumerator", function () {
  var errs = new ActiveXObject("QXSDKCommon.QXErrors");
  for (var i = 1; i <= 5; i++) errs.Add(i, "entry " + i);
  var seen = [];
  for (var items = new Enumerator(errs); !items.atEnd(); items.moveNext()) seen.push(items.item().Number);
  expect("order", "1,2,3,4,5", seen.join(","));
});

check("frozen", function () {
  var errs = new ActiveXObject("QXSDKCommon.QXErrors");
  errs.Add(1, "one");
  errs.Freeze();
  expect("ReadOnly", true, errs.ReadOnly);
  expectError("Add", E_ACCESSDENIED, undefined, function () { errs.Add(2, "two"); });
  expectError("SetSize", E_ACCESSDENIED, undefined, function () { errs.SetSize(10); });
  expect("Count", 1, errs.Count);
});

finish();
