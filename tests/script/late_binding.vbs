' The library from VBScript, late-bound: creation by ProgID, default members, For Each, omitted
' optional arguments, arguments by reference, and errors as VBScript numbers them.
' Prints one line per failed check and ends with "N passed, N failed"; exit code 0 only when all pass.
Option Explicit
On Error Resume Next
Dim passed, failed
passed = 0 : failed = 0

' Under On Error Resume Next a step that raises leaves Err set, and the next check reports it.
Sub Expect(what, expected, actual)
  If Err.Number <> 0 Then
    Fail what, "error &H" & Hex(Err.Number) & " '" & Err.Description & "'"
  ElseIf VarType(actual) <> VarType(expected) And Not (IsNumeric(actual) And IsNumeric(expected)) Then
    Fail what, "expected " & TypeName(expected) & ", got " & TypeName(actual)
  ElseIf actual <> expected Then
    Fail what, "expected [" & expected & "], got [" & actual & "]"
  Else
    passed = passed + 1
  End If
  Err.Clear
End Sub
' The step just before must have raised this number (and this text, unless Empty).
Sub ExpectError(what, number, text)
  If Err.Number = number And (IsEmpty(text) Or Err.Description = text) Then
    passed = passed + 1
  Else
    Fail what, "expected &H" & Hex(number) & " '" & text & "', got &H" & Hex(Err.Number) & " '" & Err.Description & "'"
  End If
  Err.Clear
End Sub
Sub Fail(what, message)
  failed = failed + 1
  WScript.Echo "FAIL " & what & ": " & message
End Sub
Function Names(collection)
  Dim member
  For Each member In collection
    Names = Names & member.Name & ","
  Next
End Function

Dim nv, it, x, seen
Set nv = CreateObject("QXSDKCommon.NamedValues")
Set it = nv.Add("Timeout", 30)
Expect "Item is the default member", True, nv("TIMEOUT") Is it
x = nv("timeout")
Expect "Value is the default member of an item", 30, x
x = 5
nv.Add "b", x
x = 6
Expect "a variable passed by reference is copied", 5, nv("b").Value
Expect "For Each", "b,Timeout,", Names(nv)
Set x = nv.Clone
seen = ""
For Each it In x
  If seen = "" Then x.Clear
  seen = seen & it.Name
Next
Expect "For Each walks a snapshot of a collection cleared under the loop", "bTimeout", seen
nv.Add "B", 1
ExpectError "duplicate", &H80040421, "Cannot add duplicate name to the collection: B"
Set x = CreateObject("QXSDKCommon.NamedValues")
x.Add "b", 7
nv.Copy x("b")
Expect "omitted optional argument: Copy replaces", 7, nv("b").Value
nv.Copy x("b"), False
ExpectError "Copy told not to replace", &H80040421, "Cannot add duplicate name to the collection: b"
nv.Freeze
nv.Remove "b"
ExpectError "E_ACCESSDENIED", 70, Empty

Set x = CreateObject("QXSDKCommon.MTNVS")
x.LoadFromString "b=2;a=1"
Expect "For Each over MTNVS", "a,b,", Names(x)

Expect "no error left", 0, 0
WScript.Echo passed & " passed, " & failed & " failed"
If failed = 0 Then WScript.Quit 0 Else WScript.Quit 1
