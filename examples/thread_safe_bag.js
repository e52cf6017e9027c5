// MTNVS from JScript: the thread-safe property bag, used through the same members as NamedValues.
// Run: cscript //nologo thread_safe_bag.js  (after registering QXSDKCommon.dll)
//
// MTNVS is the bag that SDK code hands between threads: one object, callable from any thread at
// any time. A script sees the members it shares with NamedValues (Add, Item, Count, the text
// form, Merge, Clone); C++ code also reaches its own interface _MTNVS (MTAdd, MTItem, ...).

var settings = new ActiveXObject("QXSDKCommon.MTNVS");
settings.Add("Timeout", 30);
settings.Add("Server", "db01.example.com");
WScript.Echo("Settings: " + settings.Count + ", Timeout = " + settings.Item("timeout").Value);

// The text form: name=value pairs separated by semicolons.
settings.LoadFromString("Retries=3;Verbose=yes");
WScript.Echo("As text: " + settings.DumpToString());

// Merge with a plain NamedValues, in either direction: a name present in both takes the value
// of the collection merged in.
var overrides = new ActiveXObject("QXSDKCommon.NamedValues");
overrides.LoadFromString("Timeout=60;Proxy=none");
settings.Merge(overrides);
WScript.Echo("After merging overrides: " + settings.DumpToString());

// A frozen collection refuses changes; its clone is open again.
settings.Freeze();
try {
  settings.Add("Late", 1);
} catch (e) {
  WScript.Echo("Frozen: Add refused with 0x" + (e.number >>> 0).toString(16).toUpperCase() + " (" + e.description + ")");
}
var copy = settings.Clone();
copy.Add("Late", 1);
WScript.Echo("The clone holds " + copy.Count + " settings, the frozen original " + settings.Count);

WScript.Echo("Done.");
