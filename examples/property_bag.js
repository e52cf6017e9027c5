// A NamedValues collection used as a bag of options, from JScript.
// Run: cscript //nologo property_bag.js  (after registering QXSDKCommon.dll)

// Create the collection and fill it. Names are case-insensitive and blanks around them are
// dropped, so "  Verbose " is stored as "Verbose".
var options = new ActiveXObject("QXSDKCommon.NamedValues");
options.Add("Timeout", 30);
options.Add("Server", "db01.example.com");
options.Add("  Verbose ", true);
options.Add("Retries", 3);
WScript.Echo("Options: " + options.Count);

// Look values up by name (any case) or by 1-based position.
WScript.Echo("Timeout = " + options.Item("timeout").Value);
WScript.Echo("Server  = " + options("SERVER").Value);
WScript.Echo("First by name: " + options.Item(1).Name);

// Change a value through its item.
options.Item("Retries").Value = 5;
WScript.Echo("Retries is now " + options.Item("Retries").Value);

// Enumerate with an Enumerator: sorted by name by default, or in the order of adding.
function list(title) {
  WScript.Echo(title);
  for (var e = new Enumerator(options); !e.atEnd(); e.moveNext()) {
    var item = e.item();
    WScript.Echo("  " + item.Name + " = " + item.Value);
  }
}
list("Sorted:");
options.Sorted = false;
list("As added:");
options.Sorted = true;

// Rename and remove.
options.Rename("Server", "Host");
options.Remove("Verbose");
WScript.Echo("After Rename and Remove: " + options.Count + " options, Host = " + options.Item("Host").Value);

// Errors are thrown with the library's number and text.
try {
  options.Add("TIMEOUT", 60);
} catch (e) {
  WScript.Echo("Adding TIMEOUT again: error 0x" + (e.number >>> 0).toString(16) + ": " + e.description);
}

// A member can leave one collection and join another.
var saved = new ActiveXObject("QXSDKCommon.NamedValues");
var retries = options.Item("Retries");
retries.Detach();
saved.Insert(retries);
WScript.Echo("Moved Retries: options has " + options.Count + ", saved has " + saved.Count +
             " (Retries = " + saved.Item("Retries").Value + ")");

// Values may be objects; the collection keeps a reference to the same object.
var limits = new ActiveXObject("Scripting.Dictionary");
limits.Add("cpu", 4);
options.Add("Limits", limits);
WScript.Echo("Limits.cpu = " + options.Item("Limits").Value.Item("cpu"));

// Freeze makes a collection read-only for good.
options.Freeze();
try {
  options.Add("Late", 1);
} catch (e) {
  WScript.Echo("Adding to a frozen collection: error 0x" + (e.number >>> 0).toString(16));
}
WScript.Echo("ReadOnly = " + options.ReadOnly);
WScript.Echo("Done.");
