' QXErrors and QXError through late binding from VBScript.
' Prints one line per failed check and ends with "N passed, N failed"; exit code 0 only when all pass.
Option Explicit
On Error Resume Next

Const PROGID = "QXSDKCommon.QXErrors"
Const ERR_OBJECT_NOT_ALLOWED = &H8004079A
Const MSG_OBJECT_NOT_ALLOWED = "An object reference may not be used here. Cause"
Const ERR_DENIED = 70          ' E_ACCESSDENIED as VBScript reports it
Const ERR_BAD_ARGUMENT = 5     ' E_INVALIDARG as VBScript reports it

Dim passed, failed, group
passed = 0 : failed = 0 : group = "start"

' ---- helpers. Under On Error Resume Next a step that raises leaves Err set, and the next Expect,
' ExpectError or Begin reports it, so no error passes unnoticed.

Sub Report(what, message)
  failed = failed + 1
  WScript.Echo "FAIL " & group & " / " & what & ": " & message
End Sub

Function ErrText()
  ErrText = "error &H" & Hex(Err.Number) & " '" & Err.Description & "'"
End Function

Sub Begin(name)
  If Err.Number <> 0 Then Report "end of group", "unexpected " & ErrText()
  Err.Clear
  group = name
End Sub

Sub Expect(what, expected, actual)
  If Err.Number <> 0 Then
    Report what, "unexpected " & ErrText() & " (raised here or in a step before)"
  ElseIf VarType(actual) = VarType(expected) Or (IsNumeric(actual) And IsNumeric(expected) And Not VarType(actual) = vbString) Then
    If actual = expected Then
      passed = passed + 1
    Else
      Report what, "expected [" & expected & "], got [" & actual & "]"
    End If
  Else
    Report what, "expected [" & expected & "] (" & TypeName(expected) & "), got (" & TypeName(actual) & ")"
  End If
  Err.Clear
End Sub

' The step just before must have failed with this number (and this description, unless Empty).
Sub ExpectError(what, number, description)
  If Err.Number = number And (IsEmpty(description) Or Err.Description = description) Then
    passed = passed + 1
  ElseIf Err.Number = 0 Then
    Report what, "expected error &H" & Hex(number) & ", got none"
  Else
    Report what, "expected error &H" & Hex(number) & " '" & description & "', got " & ErrText()
  End If
  Err.Clear
End Sub

' Numbers of the entries in enumeration order, comma separated.
Function Numbers(collection)
  Dim entry, text
  text = ""
  For Each entry In collection
    text = text & entry.Number & ","
  Next
  If Len(text) > 0 Then text = Left(text, Len(text) - 1)
  Numbers = text
End Function

' ---- checks

Dim errs, e, e1, e2, e3, i, nv, text

Begin "new collection"
Set errs = CreateObject(PROGID)
Expect "created", True, IsObject(errs)
Expect "Count", 0, errs.Count
Expect "ReadOnly", False, errs.ReadOnly
Expect "enumerates nothing", "", Numbers(errs)
Set e = errs.Item(1)
ExpectError "Item(1) of an empty collection", ERR_BAD_ARGUMENT, Empty

Begin "Add with defaults"
Set e = errs.Add(-2147024891, "Access is denied.")
Expect "Number", -2147024891, e.Number
Expect "Description", "Access is denied.", e.Description
Expect "Source defaults to empty", "", e.Source
Expect "HelpFile defaults to empty", "", e.HelpFile
Expect "HelpContext defaults to 0", 0, e.HelpContext
Expect "omitted Cause reads back as an error value", vbError, VarType(e.Cause)
Expect "Count", 1, errs.Count

Begin "Add with every argument"
Set e = errs.Add(7, "seven", "My.Source", "my.chm", 77, "the cause")
Expect "Number", 7, e.Number
Expect "Source", "My.Source", e.Source
Expect "HelpFile", "my.chm", e.HelpFile
Expect "HelpContext", 77, e.HelpContext
Expect "Cause", "the cause", e.Cause
Set e = errs.Add(8, "eight", "", "", 0, 3.5)
Expect "numeric Cause", 3.5, e.Cause
Expect "default member is Item", "seven", errs(2).Description

Begin "object Cause refused"
' In parentheses the object is passed by value, as an object reference.
Set e = errs.Add(9, "nine", "", "", 0, (errs))
ExpectError "Add with an object as Cause", ERR_OBJECT_NOT_ALLOWED, MSG_OBJECT_NOT_ALLOWED
Set e = errs.AddErrorInfo(9, Nothing, (errs))
ExpectError "AddErrorInfo with an object as Cause", ERR_OBJECT_NOT_ALLOWED, MSG_OBJECT_NOT_ALLOWED
Expect "nothing added", 3, errs.Count

Begin "views keep their own entries"
Set e1 = errs(1)
Set e2 = errs(2)
Set e3 = errs(3)
Expect "three views at once", "-2147024891,7,8", e1.Number & "," & e2.Number & "," & e3.Number
Set e1 = Nothing
Set e1 = errs(3)
Expect "a view reused for another entry", 8, e1.Number
Expect "the others unchanged", "7,8", e2.Number & "," & e3.Number
Set e1 = Nothing : Set e2 = Nothing : Set e3 = Nothing

Begin "growth keeps every entry"
Set errs = CreateObject(PROGID)
For i = 1 To 40
  errs.Add i, "entry " & i
Next
Expect "Count", 40, errs.Count
text = ""
For i = 1 To 40
  If errs(i).Description <> "entry " & i Then text = text & i & " "
Next
Expect "every description in place", "", text
errs.SetSize 2
Expect "SetSize below the count keeps everything", "entry 40", errs(40).Description
Set e = errs.Item(41)
ExpectError "Item past the end", ERR_BAD_ARGUMENT, Empty
Set e = errs.Item(0)
ExpectError "Item(0)", ERR_BAD_ARGUMENT, Empty

Begin "For Each"
Set errs = CreateObject(PROGID)
errs.Add 1, "a"
errs.Add 2, "b"
errs.Add 3, "c"
Expect "enumeration order", "1,2,3", Numbers(errs)
text = ""
For Each e In errs
  text = text & e.Description
  If e.Number = 1 Then errs.Add 4, "d"
Next
Expect "entries added while enumerating are reached", "abcd", text

Begin "AddErrorInfo without an error object"
Set e = errs.AddErrorInfo(5)
Expect "Number", 5, e.Number
Expect "Description empty", "", e.Description
Expect "Source empty", "", e.Source
Expect "HelpContext 0", 0, e.HelpContext
Set e = errs.AddErrorInfo(6, errs)
ExpectError "AddErrorInfo with something that is no error object", ERR_BAD_ARGUMENT, Empty

Begin "frozen"
errs.Freeze
errs.Freeze
Expect "ReadOnly", True, errs.ReadOnly
errs.Add 10, "late"
ExpectError "Add", ERR_DENIED, Empty
errs.AddErrorInfo 10
ExpectError "AddErrorInfo", ERR_DENIED, Empty
errs.SetSize 100
ExpectError "SetSize", ERR_DENIED, Empty
Expect "Count unchanged", 5, errs.Count
Expect "still enumerates", "1,2,3,4,5", Numbers(errs)
Expect "Item still works", "d", errs(4).Description

Begin "end"
WScript.Echo passed & " passed, " & failed & " failed"
If failed = 0 Then WScript.Quit 0 Else WScript.Quit 1
