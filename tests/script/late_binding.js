// The library from JScript, late-bound: creation by ProgID, the default member called as a
// function, Enumerator, omitted optional arguments, and errors as JScript sees them.
// Prints one line per failed check and ends with "N passed, N failed"; exit code 0 only when all pass.
eval(new ActiveXObject("Scripting.FileSystemObject")
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\]*$/, "") + "lib\\checks.js").ReadAll());
function list(collection, member) {
  var seen = [];
  for (var items = new Enumerator(collection); !items.atEnd(); items.moveNext()) seen.push(items.item()[member]);
  return seen.join(",");
}

// A property read whose value is dropped reaches the object as a method call only; the steps
// that read Item therefore return it.
check("NamedValues", function () {
  var nv = new ActiveXObject("QXSDKCommon.NamedValues");
  nv.Add("b", 2);
  nv.Add("Timeout", 30);
  expect("default member called", 30, nv("timeout").Value);
  expect("Enumerator", "b,Timeout", list(nv, "Name"));
  expectError("duplicate", 0x80040421 | 0, "Cannot add duplicate name to the collection: B", function () { nv.Add("B", 1); });
  expectError("unknown name", 0x80040422 | 0, "Name not found in collection: zz", function () { return nv.Item("zz"); });
  nv.Freeze();
  expectError("frozen", 0x80070005 | 0, undefined, function () { nv.Remove("b"); });
});

check("QXErrors", function () {
  var errs = new ActiveXObject("QXSDKCommon.QXErrors");
  var e = errs.Add(0x80004005 | 0, "unspecified");
  expect("omitted texts", "", e.Source + e.HelpFile);
  expect("omitted help context", 0, e.HelpContext);
  errs.Add(2, "two", "Src", "help.chm", 12, "why");
  expect("default member", "why", errs(2).Cause);
  expect("Enumerator", "-2147467259,2", list(errs, "Number"));
});

check("QXAsynchStatus and MTNVS", function () {
  var s = new ActiveXObject("QXSDKCommon.QXAsynchStatus");
  s.Status = 1;
  s.Result = new ActiveXObject("QXSDKCommon.QXAsynchStatus");
  expect("an object assigned to a property", 0, s.Result.Status);
  var m = new ActiveXObject("QXSDKCommon.MTNVS");
  m.LoadFromString("b=2;a=1");
  expect("Enumerator over MTNVS", "a,b", list(m, "Name"));
  m.Freeze();
  expectError("MTNVS error", 0x80070005 | 0, "MTNVS error.  CMTNVS::MTLoadFromString", function () { m.LoadFromString("d=1"); });
});

finish();
