' QXErrors from VBScript: collecting errors, reading them back by position and with For Each.
' A QXErrors collection is a list of error descriptions: SDK calls hand one back to report what
' went wrong, and a client can fill one too, for example with the failures of a batch of work.
' Run: cscript //nologo qxerrors.vbs  (after registering QXSDKCommon.dll)
Option Explicit

Dim errors, options, e, i

Set errors = CreateObject("QXSDKCommon.QXErrors")

' Collect a failed call: Err holds the number, text and source of the failing object's error.
Set options = CreateObject("QXSDKCommon.NamedValues")
options.Add "Timeout", 30
On Error Resume Next
options.Add "timeout", 60
errors.Add Err.Number, Err.Description, Err.Source
On Error GoTo 0

' Describe an error of your own. The arguments after the description are optional: source,
' help file, help context and a cause, which may be any value except an object.
errors.Add &H80040005, "Server name is missing", "Settings", "", 0, "settings.ini, line 12"
WScript.Echo "Collected " & errors.Count & " errors"

' Read them back by 1-based position (Item is the default member) ...
For i = 1 To errors.Count
  Set e = errors(i)
  WScript.Echo "  " & i & ": &H" & Hex(e.Number) & " from " & e.Source & ": " & e.Description
Next

' ... or with For Each. An omitted cause reads back as an error value, not as a string.
WScript.Echo "Causes:"
For Each e In errors
  If VarType(e.Cause) = vbString Then
    WScript.Echo "  &H" & Hex(e.Number) & ": " & e.Cause
  Else
    WScript.Echo "  &H" & Hex(e.Number) & ": none given"
  End If
Next

' Freeze makes the collection read-only for good; reading still works.
errors.Freeze
On Error Resume Next
errors.Add 2, "too late"
WScript.Echo "Adding to a frozen collection: error " & Err.Number & " (" & Err.Description & ")"
On Error GoTo 0
WScript.Echo "ReadOnly = " & errors.ReadOnly & ", Count = " & errors.Count
WScript.Echo "Done."
