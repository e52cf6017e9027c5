' MTNVS from VBScript: creation by ProgID, For Each over the NamedValues view, the text form,
' Clone, and Merge with a NamedValues in both directions.
' Prints one line per failed check and ends with "N passed, N failed".
Option Explicit
On Error Resume Next

Dim passed, failed
passed = 0 : failed = 0

Sub Expect(what, expected, actual)
  If Err.Number <> 0 Then
    failed = failed + 1
    WScript.Echo "FAIL " & what & ": error &H" & Hex(Err.Number) & " '" & Err.Description & "'"
    Err.Clear
  ElseIf expected = actual Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & what & ": expected [" & expected & "], got [" & actual & "]"
  End If
End Sub

Dim m, nv, copy, item, seen
Set m = CreateObject("QXSDKCommon.MTNVS")
m.LoadFromString "b=2;a=1"
seen = ""
For Each item In m
  seen = seen & item.Name & "=" & item.Value & ";"
Next
Expect "for each", "a=1;b=2;", seen

Set nv = CreateObject("QXSDKCommon.NamedValues")
nv.Add "c", 3
Set copy = m.Clone()
m.Merge nv
Expect "merged into MTNVS", "a=1;b=2;c=3", m.DumpToString()
nv.Merge copy
Expect "merged into NamedValues", "a=1;b=2;c=3", nv.DumpToString()
Expect "merged value", 3, m.Item("c").Value

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
