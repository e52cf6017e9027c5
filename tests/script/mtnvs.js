// MTNVS from JScript: creation by ProgID, the NamedValues view that late binding sees, the text
// form, Clone, and Merge with a NamedValues in both directions.
eval(new ActiveXObject("Scripting.FileSystemObject")
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\]*$/, "") + "lib\\checks.js").ReadAll());

function names(c) {
  var out = [];
  for (var i = 1; i <= c.Count; i++) out.push(c.Item(i).Name);
  return out.join(",");
}

check("creation and view", function () {
  var m = new ActiveXObject("QXSDKCommon.MTNVS");
  var v = new ActiveXObject("QXSDKCommon.MTNVS.1");
  m.Add("b", 2);
  m.Add(" a ", "x");
  expect("sorted by name", "a,b", names(m));
  expect("item value", 2, m.Item("b").Value);
  expect("item parent", 2, m.Item("a").Parent.Count);
  expectError("duplicate", 0x80040421 | 0, "Cannot add duplicate name to the collection: B", function () { m.Add("B", 1); });
  expect("an empty one", 0, v.Count);
});

check("text form", function () {
  var m = new ActiveXObject("QXSDKCommon.MTNVS");
  m.LoadFromString("a=1; b = two ;c");
  expect("loaded", "a,b,c", names(m));
  expect("value", "two", m.Item("b").Value);
  m.Item("a").Value = 5;
  expect("dump", "a=5;b=two;c=", m.DumpToString());
  m.Freeze();
  expectError("frozen load", 0x80070005 | 0, "MTNVS error.  CMTNVS::MTLoadFromString", function () { m.LoadFromString("d=1"); });
});

check("clone and merge both ways", function () {
  var m = new ActiveXObject("QXSDKCommon.MTNVS");
  var nv = new ActiveXObject("QXSDKCommon.NamedValues");
  m.LoadFromString("a=1;b=2");
  nv.LoadFromString("b=9;c=3");
  m.Freeze();
  var copy = m.Clone();
  expect("a clone of a frozen collection is open", false, copy.ReadOnly);
  m = copy.Clone();
  m.Merge(nv);
  expect("MTNVS after merge", "a=1;b=9;c=3", m.DumpToString());
  expect("the clone unchanged", "a=1;b=2", copy.DumpToString());
  nv.Merge(copy);
  expect("NamedValues after merge", "a=1;b=2;c=3", nv.DumpToString());
});

finish();
