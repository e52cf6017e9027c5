' NamedValues from VBScript, late-bound: creation by ProgID, default members, For Each, optional
' arguments, values passed by reference, and error numbers as VBScript sees them.
' Prints one line per failed check and ends with "N passed, N failed"; exit code 0 only when all pass.
Option Explicit
On Error Resume Next

Const DUPLICATE = &H80040421
Const DENIED = 70, BAD_ARGUMENT = 5   ' E_ACCESSDENIED and E_INVALIDARG as VBScript numbers them
Dim passed, failed, group
passed = 0 : failed = 0 : group = "start"

Sub Report(what, message)
  failed = failed + 1
  WScript.Echo "FAIL " & group & " / " & what & ": " & message
End Sub
Function ErrText()
  ErrText = "error &H" & Hex(Err.Number) & " '" & Err.Description & "'"
End Function
' Under On Error Resume Next a step that raises leaves Err set; the next check reports it.
Sub Begin(name)
  If Err.Number <> 0 Then Report "end of group", "unexpected " & ErrText()
  Err.Clear
  group = name
End Sub
Sub Expect(what, expected, actual)
  If Err.Number <> 0 Then
    Report what, "unexpected " & ErrText()
  ElseIf VarType(actual) <> VarType(expected) And Not (IsNumeric(actual) And IsNumeric(expected)) Then
    Report what, "expected " & TypeName(expected) & ", got " & TypeName(actual)
  ElseIf actual <> expected Then
    Report what, "expected [" & expected & "], got [" & actual & "]"
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
    Report what, "expected &H" & Hex(number) & " '" & text & "', got " & ErrText()
  End If
  Err.Clear
End Sub
Function Names(collection)
  Dim member, text
  For Each member In collection
    text = text & member.Name & ","
  Next
  Names = text
End Function

Dim nv, nv2, it, v, x, d, seen

Begin "NamedValues: ProgID, default members"
Set nv = CreateObject("QXSDKCommon.NamedValues")
Set it = nv.Add("Timeout", 30)
Expect "item of the default member", True, nv("TIMEOUT") Is it
v = nv("timeout")
Expect "default of the item is Value", 30, v
nv("Timeout").Value = "slow"
Expect "Value put", "slow", it.Value
Expect "by position", True, nv(1) Is it
Expect "real rounds", "Timeout", nv.Item(1.4).Name

Begin "NamedValues: errors as numbers and texts"
nv.Add "TIMEOUT", 1
ExpectError "duplicate", DUPLICATE, "Cannot add duplicate name to the collection: TIMEOUT"
Set it = nv.Item(Array(1))
ExpectError "index of no usable type", BAD_ARGUMENT, Empty
nv.SetSize 0
ExpectError "size below the count", BAD_ARGUMENT, Empty
nv.Freeze
nv.Add "b", 1
ExpectError "frozen", DENIED, Empty
nv(1).Value = 2
ExpectError "frozen member", DENIED, Empty
Expect "unchanged", "slow", nv(1).Value

Begin "NamedValues: For Each and values"
Set nv = CreateObject("QXSDKCommon.NamedValues")
x = 5
nv.Add "c", x
x = 6
Expect "a variable passed by reference is copied", 5, nv("c").Value
nv.Add "a", Array(1, "two")
v = nv("a").Value
Expect "arrays come back", "two", v(1)
Set d = CreateObject("Scripting.Dictionary")
nv.Add "b", d
Expect "objects keep identity", True, nv("b").Value Is d
Expect "For Each sorted", "a,b,c,", Names(nv)
nv.Sorted = False
Expect "For Each in insertion order", "c,a,b,", Names(nv)
seen = ""
For Each it In nv
  If seen = "" Then nv.Clear
  seen = seen & it.Name
Next
Expect "For Each walks a snapshot", "cab", seen
Expect "cleared under the loop", 0, nv.Count

Begin "NamedValues: optional arguments"
Set nv = CreateObject("QXSDKCommon.NamedValues")
Set nv2 = CreateObject("QXSDKCommon.NamedValues")
nv.Add "k", 1
nv2.Add "k", 2
nv.Copy nv2("k")
Expect "Copy replaces by default", 2, nv("k").Value
nv.Copy nv2("k"), False
ExpectError "Copy refusing", DUPLICATE, "Cannot add duplicate name to the collection: k"

Begin "MTNVS: ProgID, For Each, text form, Clone, Merge both ways"
Set x = CreateObject("QXSDKCommon.MTNVS")
x.LoadFromString "b=2;a=1"
Expect "For Each over the view", "a,b,", Names(x)
Set nv = CreateObject("QXSDKCommon.NamedValues")
nv.Add "c", 3
Set d = x.Clone()
x.Merge nv
Expect "merged into MTNVS", "a=1;b=2;c=3", x.DumpToString()
nv.Merge d
Expect "merged into NamedValues", "a=1;b=2;c=3", nv.DumpToString()
Expect "merged value", 3, x("c").Value

Begin "end"
WScript.Echo passed & " passed, " & failed & " failed"
If failed = 0 Then WScript.Quit 0 Else WScript.Quit 1
