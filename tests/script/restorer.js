// QXGlobalRestorer late-bound from JScript: the optional context left out, and the out-only errors
// argument of RestoreServers. Ends with "N passed, N failed"; exit code 0 only when all pass.
eval(new ActiveXObject("Scripting.FileSystemObject")
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\]*$/, "") + "lib\\checks.js").ReadAll());

// One item for restorer A or B of qx_test_restorer.dll: length (its own digits too), class id, payload.
function item(kind, payload) {
  var rest = " {6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A4" + (kind === "A" ? 1 : 2) + "} " + payload;
  var n = rest.length + 1;
  while (String(n).length + rest.length !== n) n = String(n).length + rest.length;
  return n + rest;
}

check("restore", function () {
  var r = new ActiveXObject("QXSDKCommon.QXGlobalRestorer");
  var o = r.RestoreObject(item("A", "set:Seen=yes") + item("B", ""));
  expect("class of the last item", "B", o.Item("Class").Value);
  expect("context seen", "Seen=yes", o.Item("Context").Value);
  // The method cannot read back the errors argument: the restorers' errors go to a new collection.
  var servers = r.RestoreServers(item("A", "server:S1") + item("B", "server:S2"), new ActiveXObject("QXSDKCommon.QXErrors"));
  expect("servers", "S1=A;S2=B", servers.DumpToString());
});

finish();
