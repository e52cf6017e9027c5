' A NamedValues collection used as a bag of options, from VBScript.
' Run: cscript //nologo property_bag.vbs  (after registering QXSDKCommon.dll)
Option Explicit

Dim options, item, retries

' Create the collection and fill it. Names are case-insensitive and blanks around them are
' dropped, so "  Verbose " is stored as "Verbose".
Set options = CreateObject("QXSDKCommon.NamedValues")
options.Add "Timeout", 30
options.Add "Server", "db01.example.com"
options.Add "  Verbose ", True
options.Add "Retries", 3
WScript.Echo "Options: " & options.Count

' Look values up by name (any case) or by 1-based position. The item's default property is
' its Value, so options("timeout") can be used directly where a value is expected.
WScript.Echo "Timeout = " & options("timeout")
WScript.Echo "Server  = " & options.Item("SERVER").Value
WScript.Echo "First by name: " & options(1).Name

' Change a value through its item.
options("Retries").Value = 5
retries = options("Retries")
WScript.Echo "Retries is now " & retries

' Enumerate: sorted by name by default, or in the order the options were added.
WScript.Echo "Sorted:"
For Each item In options
  WScript.Echo "  " & item.Name & " = " & item.Value
Next
options.Sorted = False
WScript.Echo "As added:"
For Each item In options
  WScript.Echo "  " & item.Name & " = " & item.Value
Next
options.Sorted = True

' Rename and remove.
options.Rename "Server", "Host"
options.Remove "Verbose"
WScript.Echo "After Rename and Remove: " & options.Count & " options, Host = " & options("Host")

' Errors arrive as ordinary script errors with the library's number and text.
On Error Resume Next
options.Add "TIMEOUT", 60
WScript.Echo "Adding TIMEOUT again: error &H" & Hex(Err.Number) & ": " & Err.Description
Err.Clear
On Error GoTo 0

' A member can leave one collection and join another.
Dim saved
Set saved = CreateObject("QXSDKCommon.NamedValues")
Set item = options("Retries")
item.Detach
saved.Insert item
WScript.Echo "Moved Retries: options has " & options.Count & ", saved has " & saved.Count & _
             " (Retries = " & saved("Retries") & ")"

' Freeze makes a collection read-only for good.
options.Freeze
On Error Resume Next
options.Add "Late", 1
WScript.Echo "Adding to a frozen collection: error " & Err.Number & " (" & Err.Description & ")"
On Error GoTo 0
WScript.Echo "ReadOnly = " & options.ReadOnly
WScript.Echo "Done."
