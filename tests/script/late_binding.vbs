' The library from VBScript, late-bound: creation by ProgID, default members, For Each, optional
' arguments, values passed by reference, and error numbers and texts as a script sees them.
' Prints one line per failed check and ends with "N passed, N failed"; exit code 0 only when all pass.
Option Explicit
On Error Resume Next

Const DUPLICATE = &H80040421, NOT_FOUND = &H80040422, BAD_NUMBER = &H80040423, NOT_ORPHAN = &H800405D7
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

Dim nv, nv2, it, v, x, d, errs, e, seen, s

Begin "NamedValues: ProgID, default members"
Set nv = CreateObject("QXSDKCommon.NamedValues")
Set it = nv.Add("Timeout", 30)
Expect "item of the default member", True, nv("TIMEOUT") Is it
v = nv("timeout")
Expect "default of the item is Value", 30, v
nv("Timeout").Value = "slow"
Expect "Value put", "slow", it.Value
Expect "by position", True, nv(1) Is it
Expect "numeric string selects by position", "Timeout", nv.Item("1").Name
Expect "real rounds", "Timeout", nv.Item(1.4).Name
Expect "Parent", True, it.Parent Is nv

Begin "NamedValues: errors as numbers and texts"
nv.Add "TIMEOUT", 1
ExpectError "duplicate", DUPLICATE, "Cannot add duplicate name to the collection: TIMEOUT"
Set it = nv.Item("nope")
ExpectError "unknown name", NOT_FOUND, "Name not found in collection: nope"
Set it = nv.Item(2)
ExpectError "position past the end", BAD_NUMBER, "Item number must be from 1 to the number of objects in the collection."
Set it = nv.Item(Array(1))
ExpectError "index of no usable type", BAD_ARGUMENT, Empty
nv.SetSize 0
ExpectError "size below the count", BAD_ARGUMENT, Empty
nv.Insert nv(1)
ExpectError "insert of a member", NOT_ORPHAN, "Cannot insert NamedValue because it already has a parent"
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
nv.Add "n", Null
Expect "Null", True, IsNull(nv("n").Value)
Expect "For Each sorted", "a,b,c,n,", Names(nv)
nv.Sorted = False
Expect "For Each in insertion order", "c,a,b,n,", Names(nv)
seen = ""
For Each it In nv
  If seen = "" Then nv.Clear
  seen = seen & it.Name
Next
Expect "For Each walks a snapshot", "cabn", seen
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
nv.LoadFromString "x=1;y=2"
Expect "text form", "k=2;x=1;y=2", nv.DumpToString()
Set nv2 = nv.Clone()
Expect "Clone", 3, nv2.Count

Begin "QXErrors"
Set errs = CreateObject("QXSDKCommon.QXErrors")
Set e = errs.Add(&H80004005, "unspecified")
Expect "omitted texts", "", e.Source & e.HelpFile
Expect "omitted Cause", vbError, VarType(e.Cause)
errs.Add 2, "two", "Src", "help.chm", 12, "why"
Expect "default member", "why", errs(2).Cause
Set e = errs.Item(3)
ExpectError "past the end", BAD_ARGUMENT, Empty
'  In parentheses the object is passed by value, as an object reference.
errs.Add 3, "x", "", "", 0, (errs)
ExpectError "object Cause", &H8004079A, "An object reference may not be used here. Cause"
seen = ""
For Each e In errs
  seen = seen & e.Number & ","
Next
Expect "For Each", "-2147467259,2,", seen
errs.Freeze
errs.SetSize 10
ExpectError "frozen", DENIED, Empty

Begin "QXAsynchStatus"
Set s = CreateObject("QXSDKCommon.QXAsynchStatus")
s.Status = 1
s.ProgressPercent = 40
s.Result = "partial"
s.SetComplete
Expect "complete", 2, s.Status
Expect "result", "partial", s.Result
s.Result = 1
ExpectError "result after completion", &H8004079D, "Asynchronous result cannot be set unless the call is in progress. "
s.Cancel
ExpectError "cancel after completion", &H8004079C, "Asynchronous call is already complete. "
s.Reset
s.Status = 1
s.Status = 0
ExpectError "refused change", BAD_ARGUMENT, Empty
s.Reset
ExpectError "reset while running", &H80040766, "Asynchronous call is already in progress. "

Begin "end"
WScript.Echo passed & " passed, " & failed & " failed"
If failed = 0 Then WScript.Quit 0 Else WScript.Quit 1
