// The library from JScript, late-bound: creation by ProgID, the default member called as a
// function, Enumerator, omitted optional arguments, MTNVS through its NamedValues view, and error
// numbers and texts as JScript sees them. Prints one line per failed check and ends with
// "N passed, N failed"; exit code 0 only when all pass.
eval(new ActiveXObject("Scripting.FileSystemObject")
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\]*$/, "") + "lib\\checks.js").ReadAll());
function names(collection) {
  var seen = [];
  for (var items = new Enumerator(collection); !items.atEnd(); items.moveNext()) seen.push(items.item().Name);
  return seen.join(",");
}

var E_ACCESSDENIED = 0x80070005 | 0, E_INVALIDARG = 0x80070057 | 0;
// A property read whose value is dropped reaches the object as a method call only; the steps
// that read Item therefore return it.

check("NamedValues", function () {
  var nv = new ActiveXObject("QXSDKCommon.NamedValues");
  var item = nv.Add("Timeout", 30);
  expect("default member called", 30, nv("timeout").Value);
  expect("by position", "Timeout", nv.Item(1).Name);
  item.Value = null;
  expect("null value", null, nv("Timeout").Value);
  nv.Add("b", new Date(2001, 1, 3));
  nv.Add("a", nv);
  expect("object value", true, nv("a").Value === nv);
  expect("Enumerator, sorted", "a,b,Timeout", names(nv));
  nv.Sorted = false;
  expect("Enumerator, insertion order", "Timeout,b,a", names(nv));
  nv("a").Value = 0;
  expectError("duplicate", 0x80040421 | 0, "Cannot add duplicate name to the collection: B", function () { nv.Add("B", 1); });
  expectError("unknown name", 0x80040422 | 0, "Name not found in collection: zz", function () { return nv.Item("zz"); });
  expectError("past the end", 0x80040423 | 0, "Item number must be from 1 to the number of objects in the collection.",
              function () { return nv.Item(9); });
  expectError("style with members", 0x80040420 | 0, "Property cannot be set while there are values in the collection.",
              function () { nv.Style = 1; });
  nv.Freeze();
  expectError("frozen", E_ACCESSDENIED, undefined, function () { nv.Remove("b"); });
});

check("QXErrors", function () {
  var errs = new ActiveXObject("QXSDKCommon.QXErrors");
  var e = errs.Add(0x80004005 | 0, "unspecified");
  expect("omitted texts", "", e.Source + e.HelpFile);
  expect("omitted help context", 0, e.HelpContext);
  errs.Add(2, "two", "Src", "help.chm", 12, "why");
  expect("default member", "why", errs(2).Cause);
  errs.AddErrorInfo(3);
  var seen = [];
  for (var items = new Enumerator(errs); !items.atEnd(); items.moveNext()) seen.push(items.item().Number);
  expect("Enumerator", "-2147467259,2,3", seen.join(","));
  expectError("past the end", E_INVALIDARG, undefined, function () { return errs.Item(4); });
  expectError("object Cause", 0x8004079A | 0, "An object reference may not be used here. Cause",
              function () { errs.Add(1, "x", "", "", 0, errs); });
});

check("QXAsynchStatus", function () {
  var s = new ActiveXObject("QXSDKCommon.QXAsynchStatus");
  expect("no result yet", undefined, s.Result);
  s.Status = 1;
  s.ProgressPercent = 40;
  expectError("progress backwards", E_INVALIDARG, undefined, function () { s.ProgressPercent = 30; });
  var other = new ActiveXObject("QXSDKCommon.QXAsynchStatus");
  other.Timeout = 7;
  s.Result = other;
  s.SetErrors();
  s.SetComplete();
  expect("complete with errors", 6, s.Status);
  expect("progress filled", 100, s.ProgressPercent);
  expect("object result", 7, s.Result.Timeout);
  expectError("result after completion", 0x8004079D | 0,
              "Asynchronous result cannot be set unless the call is in progress. ", function () { s.Result = null; });
});

check("MTNVS", function () {
  var m = new ActiveXObject("QXSDKCommon.MTNVS");
  m.LoadFromString("b=2; a = x ;c");
  expect("the NamedValues view", "a,b,c", names(m));
  expect("item parent", 3, m.Item("a").Parent.Count);
  expectError("duplicate", 0x80040421 | 0, "Cannot add duplicate name to the collection: B", function () { m.Add("B", 1); });
  m.Item("a").Value = 5;
  expect("dump", "a=5;b=2;c=", m.DumpToString());
  m.Freeze();
  expectError("frozen load", E_ACCESSDENIED, "MTNVS error.  CMTNVS::MTLoadFromString", function () { m.LoadFromString("d=1"); });
  var copy = m.Clone();
  expect("a clone of a frozen collection is open", false, copy.ReadOnly);
  var nv = new ActiveXObject("QXSDKCommon.NamedValues");
  nv.LoadFromString("b=9;d=3");
  m = copy.Clone();
  m.Merge(nv);
  expect("MTNVS after merge", "a=5;b=9;c=;d=3", m.DumpToString());
  nv.Merge(copy);
  expect("NamedValues after merge", "a=5;b=2;c=;d=3", nv.DumpToString());
});

finish();
