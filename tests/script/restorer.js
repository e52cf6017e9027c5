// QXGlobalRestorer from JScript, late-bound, with the restorer classes of qx_test_restorer.dll:
// a two-item string with a context, servers, a parse error (the rest is in the C++ suite).
// Ends with "N passed, N failed"; exit code 0 only when all pass.
eval(new ActiveXObject("Scripting.FileSystemObject")
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\]*$/, "") + "lib\\checks.js").ReadAll());

var A = "{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A41}";
var B = "{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A42}";

// One item: its length (counting its own digits), the class id and the payload.
function item(classId, payload) {
  var rest = " " + classId + " " + payload;
  var n = rest.length + 1;
  while (String(n).length + rest.length !== n) n = String(n).length + rest.length;
  return n + rest;
}

check("two items with a context", function () {
  var r = new ActiveXObject("QXSDKCommon.QXGlobalRestorer");
  var context = new ActiveXObject("QXSDKCommon.NamedValues");
  context.Add("Caller", 1);
  var o = r.RestoreObject(item(A, "set:Seen=yes") + item(B, ""), context);
  expect("class of the last item", "B", o.Item("Class").Value);
  expect("context seen", "Caller=1;Seen=yes", o.Item("Context").Value);
  expect("caller's context unchanged", 1, context.Count);
});

check("servers", function () {
  // The errors argument is out-only: through late binding the method cannot read what the
  // script passes, so the restorers' errors go to a collection the script never sees.
  var r = new ActiveXObject("QXSDKCommon.QXGlobalRestorer");
  var servers = r.RestoreServers(item(A, "server:S1") + item(B, "server:S2"), new ActiveXObject("QXSDKCommon.QXErrors"));
  expect("servers", "S1=A;S2=B", servers.DumpToString());
});

check("parse error", function () {
  var r = new ActiveXObject("QXSDKCommon.QXGlobalRestorer");
  expectError("two blanks", 0x800405E7 | 0,
              "Error restoring object from persistence string. CQXGlobalRestorer::GetNextRestorer> " +
                  "Error parsing persistence string: 45  " + A + " x",
              function () { r.RestoreObject("45  " + A + " x"); });
});

finish();
