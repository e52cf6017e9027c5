// NamedValues and NamedValue through late binding from JScript.
// Prints one line per failed check and ends with "N passed, N failed"; exit code 0 only when all pass.

var PROGID = "QXSDKCommon.NamedValues";
var ERR_STYLE_LOCKED = 0x80040420 | 0;
var ERR_DUPLICATE = 0x80040421 | 0;
var ERR_NOT_FOUND = 0x80040422 | 0;
var ERR_BAD_NUMBER = 0x80040423 | 0;
var ERR_NOT_ORPHAN = 0x800405D7 | 0;
var E_ACCESSDENIED = 0x80070005 | 0;
var E_INVALIDARG = 0x80070057 | 0;
var MSG_DUPLICATE = "Cannot add duplicate name to the collection: ";
var MSG_NOT_FOUND = "Name not found in collection: ";
var MSG_BAD_NUMBER = "Item number must be from 1 to the number of objects in the collection.";

var passed = 0, failed = 0, group = "start";

// ---- helpers: every check runs its step inside try/catch, so no error can end the script.

function hex(n) { return "0x" + (n >>> 0).toString(16).toUpperCase(); }
function show(v) { return typeof v == "string" ? "'" + v + "'" : String(v); }
function report(what, message) {
  failed++;
  WScript.Echo("FAIL " + group + " / " + what + ": " + message);
}
function begin(name) { group = name; }

// step() must return expected (compared with ===).
function expect(what, expected, step) {
  var actual;
  try {
    actual = step();
  } catch (e) {
    report(what, "unexpected error " + hex(e.number) + " '" + e.description + "'");
    return;
  }
  if (actual === expected) passed++;
  else report(what, "expected " + show(expected) + ", got " + show(actual));
}

// step() must throw this number (and this description, unless it is undefined).
function expectError(what, number, description, step) {
  try {
    step();
  } catch (e) {
    if (e.number === number && (description === undefined || e.description === description)) passed++;
    else report(what, "expected error " + hex(number) + " " + show(description) + ", got " + hex(e.number) + " '" + e.description + "'");
    return;
  }
  report(what, "expected error " + hex(number) + ", got none");
}

// A step that must simply succeed (set-up inside a group).
function run(what, step) {
  try {
    step();
    return true;
  } catch (e) {
    report(what, "unexpected error " + hex(e.number) + " '" + e.description + "'");
    return false;
  }
}

// Names of the members in enumeration order, comma separated.
function names(collection) {
  var list = [];
  for (var en = new Enumerator(collection); !en.atEnd(); en.moveNext()) list.push(en.item().Name);
  return list.join(",");
}

function newBag(nameList) {
  var bag = new ActiveXObject(PROGID);
  if (nameList) {
    var list = nameList.split(",");
    for (var i = 0; i < list.length; i++) bag.Add(list[i], "value of " + list[i]);
  }
  return bag;
}

function u(code) { return String.fromCharCode(code); }

// ---- checks

var nv, nv2, it, it2, d, en;
// Set-up outside expect() also runs guarded: an error there ends the checks but not the report.
try {

  begin("new collection");
  expect("created", "object", function () { nv = new ActiveXObject(PROGID); return typeof nv; });
  expect("Count", 0, function () { return nv.Count; });
  expect("Sorted", true, function () { return nv.Sorted; });
  expect("Style", 0, function () { return nv.Style; });
  expect("ReadOnly", false, function () { return nv.ReadOnly; });
  expect("Enumerator over nothing", "", function () { return names(nv); });

  begin("Add and lookup");
  expect("Add returns the item", "Timeout", function () { it = nv.Add("Timeout", 30); return it.Name; });
  expect("Parent is the collection", true, function () { return it.Parent == nv; });
  expect("Item by name, other case", 30, function () { return nv.Item("TIMEOUT").Value; });
  expect("default member called", "Timeout", function () { return nv("timeout").Name; });
  expect("same object by name and number", true, function () { return nv.Item(1) == nv.Item("Timeout"); });
  expect("Value put", "slow", function () { nv.Item("Timeout").Value = "slow"; return nv.Item(1).Value; });

  begin("duplicates");
  expectError("Add of a name differing in case", ERR_DUPLICATE, MSG_DUPLICATE + "TIMEOUT", function () { nv.Add("TIMEOUT", 1); });
  expectError("duplicate after trimming", ERR_DUPLICATE, MSG_DUPLICATE + "timeout", function () { nv.Add(" timeout ", 1); });
  expect("Count unchanged", 1, function () { return nv.Count; });

  begin("case folding");
  expect("dotted capital I and dotless i both equal i", "ii", function () {
    var bag = newBag("i");
    return bag.Item(u(0x130)).Name + bag.Item(u(0x131)).Name;
  });
  expect("long s equals s, final sigma equals sigma", "s" + u(0x3C3), function () {
    var bag = newBag("s," + u(0x3C3));
    return bag.Item(u(0x17F)).Name + bag.Item(u(0x3C2)).Name;
  });
  expectError("Y with diaeresis, both cases", ERR_DUPLICATE, MSG_DUPLICATE + u(0x178), function () { newBag(u(0xFF)).Add(u(0x178), 0); });
  expect("Latin-1, Cyrillic, Greek, fullwidth, circled letters fold", 5, function () {
    var bag = newBag(u(0xE9) + "," + u(0x436) + "," + u(0x3C9) + "," + u(0xFF41) + "," + u(0x24D0));
    var hits = [u(0xC9), u(0x416), u(0x3A9), u(0xFF21), u(0x24B6)], refused = 0;
    for (var i = 0; i < hits.length; i++) {
      try { bag.Add(hits[i], 0); } catch (e) { if (e.number === ERR_DUPLICATE) refused++; }
    }
    return refused;
  });
  expect("micro sign and mu stay distinct", 2, function () { return newBag(u(0xB5) + "," + u(0x3BC)).Count; });
  expect("embedded NUL is part of the name", "3,1", function () {
    var bag = new ActiveXObject(PROGID);
    bag.Add("a" + u(0) + "b", 1);
    bag.Add("a", 2);
    return bag.Item(2).Name.length + "," + bag.Item(1).Name.length;
  });

  begin("sorted and insertion order");
  nv = newBag("b,A,c,_x");
  expect("sorted by default", "_x,A,b,c", function () { return names(nv); });
  expect("insertion order", "b,A,c,_x", function () { nv.Sorted = false; return names(nv); });
  expect("Item(1) unsorted", "b", function () { return nv.Item(1).Name; });
  expect("sorted again", "_x,A,b,c", function () { nv.Sorted = true; return names(nv); });
  expect("case-sensitive order", "A,_x,a,b", function () {
    var bag = new ActiveXObject(PROGID);
    bag.Style = 1;
    bag.Add("b", 1); bag.Add("a", 1); bag.Add("_x", 1); bag.Add("A", 1);
    return names(bag);
  });

  begin("Enumerator");
  nv = newBag("a,b,c");
  expect("items are NamedValue objects with values", "value of a|value of b|value of c", function () {
    var values = [];
    for (en = new Enumerator(nv); !en.atEnd(); en.moveNext()) values.push(en.item().Value);
    return values.join("|");
  });
  expect("snapshot survives Clear", "a,b,c|0", function () {
    en = new Enumerator(nv);
    nv.Clear();
    var list = [];
    for (; !en.atEnd(); en.moveNext()) list.push(en.item().Name);
    return list.join(",") + "|" + nv.Count;
  });
  expect("moveFirst restarts", "a", function () {
    nv = newBag("a,b");
    en = new Enumerator(nv);
    en.moveNext(); en.moveNext();
    var done = en.atEnd();
    en.moveFirst();
    return done ? en.item().Name : "not at end";
  });

  begin("Item by number and errors");
  nv = newBag("a,b,c");
  expect("numeric string", "b", function () { return nv.Item("2").Name; });
  expect("real rounds", "c", function () { return nv.Item(2.6).Name; });
  expectError("Item(0)", ERR_BAD_NUMBER, MSG_BAD_NUMBER, function () { return nv.Item(0); });
  expectError("Item(Count + 1)", ERR_BAD_NUMBER, MSG_BAD_NUMBER, function () { return nv.Item(4); });
  expectError("untrimmed name", ERR_NOT_FOUND, MSG_NOT_FOUND + " a", function () { return nv.Item(" a"); });
  expectError("neither name nor number", E_INVALIDARG, undefined, function () { return nv.Item(null); });
  expect("number names a member", "ten", function () { nv.Add("10", "ten"); return nv.Item(10).Value; });

  begin("Style");
  nv = new ActiveXObject(PROGID);
  expect("put and get", 4, function () { nv.Style = 4; return nv.Style; });
  expect("leading blanks kept", "[ a][a]", function () { nv.Add(" a ", 1); nv.Add("a", 2); return "[" + nv.Item(1).Name + "][" + nv.Item(2).Name + "]"; });
  expectError("put with members", ERR_STYLE_LOCKED, "Property cannot be set while there are values in the collection.", function () { nv.Style = 4; });

  begin("Rename, Remove, Detach, Insert");
  nv = newBag("a,b,c");
  expect("collection Rename moves in sorted order only", "b,c,z|z,b,c", function () {
    nv.Rename("a", "z");
    var sorted = names(nv);
    nv.Sorted = false;
    var inserted = names(nv);
    nv.Sorted = true;
    return sorted + "|" + inserted;
  });
  expectError("Rename to an existing name", ERR_DUPLICATE, MSG_DUPLICATE + "C", function () { nv.Rename("b", "C"); });
  expectError("Rename of an unknown name", ERR_NOT_FOUND, MSG_NOT_FOUND + "q", function () { nv.Rename("q", "r"); });
  expect("item Rename", "b,c,y", function () { nv.Item("z").Rename("y"); return names(nv); });
  expectError("Remove of an unknown name", ERR_NOT_FOUND, MSG_NOT_FOUND + "q", function () { nv.Remove("q"); });
  expect("Remove", "b,y", function () { nv.Remove("C"); return names(nv); });
  expect("Detach orphans the member", "true,b,value of b,1", function () {
    it = nv.Item("b");
    it.Detach();
    return (it.Parent == null) + "," + it.Name + "," + it.Value + "," + nv.Count;
  });
  nv2 = newBag("m");
  expect("Insert adopts the orphan, trimming its name", "b,m|true", function () {
    it.Rename(" b ");
    nv2.Insert(it);
    return names(nv2) + "|" + (it.Parent == nv2);
  });
  expectError("Insert of a member", ERR_NOT_ORPHAN, "Cannot insert NamedValue because it already has a parent", function () { nv.Insert(it); });

  begin("values");
  nv = new ActiveXObject(PROGID);
  expect("Dictionary keeps identity", true, function () {
    d = new ActiveXObject("Scripting.Dictionary");
    d.Add("k", 1);
    nv.Add("dict", d);
    d.Remove("k");
    d.Add("k", 2);
    var back = nv.Item("dict").Value;
    return back == d && back.Item("k") == 2;
  });
  expect("SAFEARRAY is copied and read back", "k,x|1", function () {
    var keys = new ActiveXObject("Scripting.Dictionary");
    keys.Add("k", 0); keys.Add("x", 0);
    nv.Add("array", keys.Keys());
    keys.Add("later", 0);
    var back = new VBArray(nv.Item("array").Value);
    return back.toArray().join(",") + "|" + back.ubound(1);
  });
  expect("JScript object as value", 3, function () { var o = [1, 2, 3]; nv.Add("jsarray", o); return nv.Item("jsarray").Value.length; });
  expect("null value", null, function () { nv.Add("null", null); return nv.Item("null").Value; });
  expect("Boolean and double", "boolean,number", function () {
    nv.Add("flag", true); nv.Add("ratio", 0.25);
    return typeof nv.Item("flag").Value + "," + typeof nv.Item("ratio").Value;
  });

  begin("SetSize");
  nv = newBag("a,b,c");
  expectError("below Count", E_INVALIDARG, undefined, function () { nv.SetSize(2); });
  expect("at and above Count", 23, function () {
    nv.SetSize(3); nv.SetSize(8);
    for (var i = 0; i < 20; i++) nv.Add("n" + i, i);
    return nv.Count;
  });

  begin("Freeze");
  nv = newBag("a,b");
  it = nv.Item("a");
  nv2 = newBag("o");
  it2 = nv2.Item("o");
  run("detach", function () { it2.Detach(); });
  expect("ReadOnly after Freeze", true, function () { nv.Freeze(); return nv.ReadOnly; });
  var denied = {
    "Add": function () { nv.Add("c", 1); },
    "Remove": function () { nv.Remove("a"); },
    "Rename": function () { nv.Rename("a", "z"); },
    "Clear": function () { nv.Clear(); },
    "Sorted": function () { nv.Sorted = false; },
    "SetSize": function () { nv.SetSize(9); },
    "item Value": function () { it.Value = 3; },
    "item Rename": function () { it.Rename("z"); },
    "item Detach": function () { it.Detach(); }
  };
  for (var step in denied) expectError(step, E_ACCESSDENIED, undefined, denied[step]);
  expect("unchanged, Insert still allowed", "a,b,o|value of a", function () { nv.Insert(it2); return names(nv) + "|" + it.Value; });
  expectError("Style on an empty frozen collection", E_ACCESSDENIED, undefined, function () {
    var bag = new ActiveXObject(PROGID);
    bag.Freeze();
    bag.Style = 1;
  });

  begin("string form, Copy, Merge, Clone");
  nv = new ActiveXObject(PROGID);
  run("LoadFromString", function () { nv.LoadFromString(" b = 1 ; a=x=y ;k;a=2;"); });
  expect("members loaded, later entries replace", "a,b,k|2", function () { return names(nv) + "|" + nv.Item("a").Value; });
  expect("DumpToString", "a=2;b=1;k=", function () { return nv.DumpToString(); });
  nv2 = new ActiveXObject(PROGID);
  run("Copy of a member", function () { nv2.Copy(nv.Item("b")); });
  expectError("Copy of a duplicate without replacing", ERR_DUPLICATE, MSG_DUPLICATE + "b", function () {
    nv2.Copy(nv.Item("b"), false);
  });
  run("Merge", function () { nv2.Merge(nv); });
  expect("merged", "a=2;b=1;k=", function () { return nv2.DumpToString(); });
  expect("Clone is a separate, writable copy", "a=2;b=1;k=;z=9|3", function () {
    nv.Freeze();
    var copy = nv.Clone();
    copy.Add("z", 9);
    return copy.DumpToString() + "|" + nv.Count;
  });
  expectError("LoadFromString on a frozen collection", E_ACCESSDENIED, undefined, function () { nv.LoadFromString("q=1"); });
} catch (e) {
  report("script", "stopped by error " + hex(e.number) + " '" + e.description + "'");
}

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed == 0 ? 0 : 1);
