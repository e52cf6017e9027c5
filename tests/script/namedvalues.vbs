' NamedValues and NamedValue through late binding from VBScript.
' Prints one line per failed check and ends with "N passed, N failed"; exit code 0 only when all pass.
Option Explicit
On Error Resume Next

Const PROGID = "QXSDKCommon.NamedValues"
Const ERR_STYLE_LOCKED = &H80040420
Const ERR_DUPLICATE = &H80040421
Const ERR_NOT_FOUND = &H80040422
Const ERR_BAD_NUMBER = &H80040423
Const ERR_NOT_ORPHAN = &H800405D7
Const ERR_DENIED = 70          ' E_ACCESSDENIED as VBScript reports it
Const ERR_BAD_ARGUMENT = 5     ' E_INVALIDARG as VBScript reports it
Const MSG_DUPLICATE = "Cannot add duplicate name to the collection: "
Const MSG_NOT_FOUND = "Name not found in collection: "
Const MSG_BAD_NUMBER = "Item number must be from 1 to the number of objects in the collection."

Dim passed, failed, group
passed = 0 : failed = 0 : group = "start"

' ---- helpers. The script runs under On Error Resume Next: a step that raises leaves Err set, and
' the next Expect, ExpectError or Begin reports it, so no error can pass unnoticed.

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

' Names of the members in enumeration order, comma separated.
Function Names(collection)
  Dim member, text
  text = ""
  For Each member In collection
    text = text & member.Name & ","
  Next
  If Len(text) > 0 Then text = Left(text, Len(text) - 1)
  Names = text
End Function

Function NewBag(nameList)
  Dim bag, name
  Set bag = CreateObject(PROGID)
  If Len(nameList) > 0 Then
    For Each name In Split(nameList, ",")
      bag.Add name, "value of " & name
    Next
  End If
  Set NewBag = bag
End Function

' ---- checks

Dim nv, nv2, it, it2, v, a, x, d, i, member, seen, ok

Begin "new collection"
Set nv = CreateObject(PROGID)
Expect "created", True, IsObject(nv)
Expect "Count", 0, nv.Count
Expect "Sorted", True, nv.Sorted
Expect "Style", 0, nv.Style
Expect "ReadOnly", False, nv.ReadOnly
Expect "enumerates nothing", "", Names(nv)

Begin "Add and lookup"
Set it = nv.Add("Timeout", 30)
Expect "returned item Name", "Timeout", it.Name
Expect "returned item Value", 30, it.Value
Expect "Parent is the collection", True, it.Parent Is nv
Expect "Count", 1, nv.Count
Expect "Item by name, other case", 30, nv.Item("TIMEOUT").Value
Expect "default member", "Timeout", nv("timeout").Name
v = nv("timeout")
Expect "default property of the item is Value", 30, v
Expect "same object by name and number", True, nv(1) Is nv.Item("Timeout")
nv.Item("Timeout").Value = "slow"
Expect "Value put", "slow", nv("Timeout").Value

Begin "duplicates"
nv.Add "TIMEOUT", 1
ExpectError "Add of a name differing in case", ERR_DUPLICATE, MSG_DUPLICATE & "TIMEOUT"
nv.Add "  timeout  ", 1
ExpectError "duplicate after trimming names the trimmed key", ERR_DUPLICATE, MSG_DUPLICATE & "timeout"
Expect "Count unchanged", 1, nv.Count
Expect "value unchanged", "slow", nv("Timeout").Value

Begin "sorted and insertion order"
Set nv = NewBag("b,A,c,_x")
Expect "sorted by default, underscore before letters", "_x,A,b,c", Names(nv)
Expect "Item(1) sorted", "_x", nv.Item(1).Name
nv.Sorted = False
Expect "Sorted False", False, nv.Sorted
Expect "insertion order", "b,A,c,_x", Names(nv)
Expect "Item(1) unsorted", "b", nv.Item(1).Name
Expect "Item(4) unsorted", "_x", nv.Item(4).Name
nv.Add "a2", 0
Expect "Add while unsorted appends", "b,A,c,_x,a2", Names(nv)
nv.Sorted = True
Expect "sorted again", "_x,A,a2,b,c", Names(nv)

Begin "many members"
Set nv = CreateObject(PROGID)
For i = 300 To 1 Step -1
  nv.Add "n" & Right("00" & i, 3), i
Next
Expect "Count", 300, nv.Count
ok = True
For i = 1 To 300
  If nv.Item("N" & Right("00" & i, 3)).Value <> i Then ok = False
  If nv.Item(i).Value <> i Then ok = False
Next
Expect "every member found by name and by position", True, ok
seen = 0 : ok = True
For Each member In nv
  seen = seen + 1
  If member.Value <> seen Then ok = False
Next
Expect "For Each visits all in order", True, ok And seen = 300

Begin "name trimming"
Set nv = CreateObject(PROGID)
nv.Add " x ", 1
Expect "blanks removed", "x", nv.Item(1).Name
Expect "found by trimmed name", 1, nv.Item("x").Value
Set it = nv.Item(" x")
ExpectError "lookup does not trim", ERR_NOT_FOUND, MSG_NOT_FOUND & " x"
nv.Add "   ", 2
Expect "blank name becomes empty", "", nv.Item("").Name
Expect "empty name member value", 2, nv.Item("").Value
nv.Add vbTab & "t", 3
Expect "tabs are kept", 2, Len(nv.Item(vbTab & "t").Name)

Begin "Style"
Set nv = CreateObject(PROGID)
nv.Style = 1
Expect "Style get", 1, nv.Style
nv.Add "x", 1 : nv.Add "X", 2 : nv.Add "_x", 3
Expect "case-sensitive keeps both cases", 3, nv.Count
Expect "case-sensitive order", "X,_x,x", Names(nv)
Expect "case-sensitive lookup", 2, nv("X").Value
nv.Style = 1
ExpectError "put with members, same value", ERR_STYLE_LOCKED, "Property cannot be set while there are values in the collection."
Expect "Style unchanged", 1, nv.Style
nv.Clear
nv.Style = &H1F
Expect "only the four style bits are kept", 15, nv.Style
Set nv = CreateObject(PROGID)
nv.Style = 4
nv.Add " a ", 1 : nv.Add "a", 2
Expect "leading blanks kept, trailing removed", "[ a][a]", "[" & nv(1).Name & "][" & nv(2).Name & "]"
Set nv = CreateObject(PROGID)
nv.Style = 8
nv.Add " a ", 1
Expect "trailing blanks kept", "a ", nv(1).Name

Begin "Item by number"
Set nv = NewBag("a,b,c")
Expect "numeric string selects by position", "b", nv.Item("2").Name
Expect "real rounds to nearest", "c", nv.Item(2.6).Name
Expect "Long", "a", nv.Item(CLng(1)).Name
Set it = nv.Item(0)
ExpectError "Item(0)", ERR_BAD_NUMBER, MSG_BAD_NUMBER
Set it = nv.Item(4)
ExpectError "Item(Count + 1)", ERR_BAD_NUMBER, MSG_BAD_NUMBER
Set it = nv.Item("nope")
ExpectError "unknown name", ERR_NOT_FOUND, MSG_NOT_FOUND & "nope"
Set it = nv.Item(Array(1))
ExpectError "neither a name nor a number", ERR_BAD_ARGUMENT, Empty
nv.Add "7", "seven"
Expect "out-of-range number finds the member of that name", "seven", nv.Item(7).Value
nv.Add "1", "one"
Expect "a name wins over a position", "one", nv.Item("1").Value

Begin "Rename on the collection"
Set nv = NewBag("a,b,c")
nv.Rename "a", "A"
Expect "case-only rename keeps position", "A,b,c", Names(nv)
nv.Rename "A", "b"
ExpectError "rename to an existing name", ERR_DUPLICATE, MSG_DUPLICATE & "b"
nv.Rename "nope", "z"
ExpectError "rename of an unknown name", ERR_NOT_FOUND, MSG_NOT_FOUND & "nope"
nv.Rename "A", "zz"
Expect "renamed member moves in sorted order", "b,c,zz", Names(nv)
Expect "value follows", "value of a", nv("zz").Value
nv.Sorted = False
Expect "insertion order unchanged", "zz,b,c", Names(nv)
nv.Sorted = True
nv.Rename "c", " a"
Expect "new name is taken as given (no trimming)", " a,b,zz", Names(nv)

Begin "Rename on the item"
Set nv = NewBag("a,b")
Set it = nv("a")
it.Rename "q"
Expect "item renamed", "q", it.Name
Expect "collection sees it", True, nv("Q") Is it
it.Rename "B"
ExpectError "item rename to an existing name", ERR_DUPLICATE, MSG_DUPLICATE & "B"
Expect "name unchanged after failure", "q", it.Name

Begin "Remove"
Set nv = NewBag("d,b,a,c")
Set it = nv("b")
nv.Remove "B"
Expect "middle member removed", "a,c,d", Names(nv)
Expect "removed member is an orphan", True, it.Parent Is Nothing
Expect "removed member keeps its value", "value of b", it.Value
nv.Remove "c"
nv.Sorted = False
Expect "last inserted removed, insertion order", "d,a", Names(nv)
nv.Sorted = True
Expect "sorted order", "a,d", Names(nv)
nv.Remove "zz"
ExpectError "unknown name", ERR_NOT_FOUND, MSG_NOT_FOUND & "zz"
nv.Remove " a"
ExpectError "Remove does not trim", ERR_NOT_FOUND, MSG_NOT_FOUND & " a"
Expect "Count", 2, nv.Count

Begin "Detach and Insert"
Set nv = NewBag("a,b")
Set nv2 = NewBag("z")
Set it = nv("a")
it.Detach
Expect "Count after Detach", 1, nv.Count
Expect "Parent after Detach", True, it.Parent Is Nothing
Expect "name kept", "a", it.Name
Expect "value kept", "value of a", it.Value
it.Detach
Expect "Detach of an orphan does nothing", "a", it.Name
it.Rename "  spaced"
Expect "orphan rename is not trimmed", "  spaced", it.Name
it.Value = 42
Expect "orphan value put", 42, it.Value
nv2.Insert it
Expect "Insert trims by the collection's style", "spaced", it.Name
Expect "inserted member's Parent", True, it.Parent Is nv2
Expect "inserted in sorted place", "spaced,z", Names(nv2)
Expect "found by name", True, nv2("SPACED") Is it
nv2.Insert it
ExpectError "Insert of a member", ERR_NOT_ORPHAN, "Cannot insert NamedValue because it already has a parent"
nv.Insert nv("b")
ExpectError "Insert of a member of the same collection", ERR_NOT_ORPHAN, Empty
Set it2 = nv2("z")
it2.Detach
it2.Rename "B"
nv.Insert it2
ExpectError "Insert of a duplicate name", ERR_DUPLICATE, MSG_DUPLICATE & "B"
Expect "duplicate stays an orphan", True, it2.Parent Is Nothing

Begin "Clear"
Set nv = NewBag("a,b,c")
Set it = nv("b")
nv.Clear
Expect "Count", 0, nv.Count
Expect "members become orphans", True, it.Parent Is Nothing
nv.Add "b", 1
Expect "usable after Clear", "b", Names(nv)
Set nv = NewBag("a,b,c")
seen = ""
For Each member In nv
  If seen = "" Then nv.Clear
  seen = seen & member.Name
Next
Expect "enumeration is a snapshot", "abc", seen
Expect "cleared under the loop", 0, nv.Count

Begin "values"
Set nv = CreateObject(PROGID)
x = 5
nv.Add "byref", x
x = 6
Expect "variable passed by reference is copied", 5, nv("byref").Value
a = Array(1, "two", 3.5)
nv.Add "array", a
a(0) = 99
v = nv("array").Value
Expect "array is copied", "1|two|3.5|2", v(0) & "|" & v(1) & "|" & v(2) & "|" & UBound(v)
Set d = CreateObject("Scripting.Dictionary")
d("k") = "first"
nv.Add "dict", d
Expect "object keeps identity", True, nv("dict").Value Is d
d("k") = "second"
Set x = nv("dict").Value
Expect "object is shared, not copied", "second", x("k")
nv.Add "null", Null
Expect "Null value", True, IsNull(nv("null").Value)
nv.Add "empty", Empty
Expect "Empty value", True, IsEmpty(nv("empty").Value)
nv.Add "date", #2001-02-03#
Expect "Date value", vbDate, VarType(nv("date").Value)
nv("array").Value = "now a string"
Expect "value replaced", "now a string", nv("array").Value
nv("dict").Value = nv
Expect "a collection as a value", True, nv("dict").Value Is nv
nv("dict").Value = 0

Begin "SetSize"
Set nv = NewBag("a,b,c")
nv.SetSize 2
ExpectError "below Count", ERR_BAD_ARGUMENT, Empty
nv.SetSize 3
Expect "equal to Count", "a,b,c", Names(nv)
nv.SetSize 40
For i = 1 To 40
  nv.Add "x" & i, i
Next
Expect "grows past the size", 43, nv.Count
Expect "members intact", "value of b", nv("b").Value
nv.SetSize 43
Expect "shrunk to Count", 43, nv.Count

Begin "Freeze"
Set nv = NewBag("a,b")
Set it = nv("a")
Set nv2 = NewBag("orphan")
Set it2 = nv2("orphan")
it2.Detach
nv.Freeze
Expect "ReadOnly", True, nv.ReadOnly
nv.Add "c", 1
ExpectError "Add", ERR_DENIED, Empty
nv.Remove "a"
ExpectError "Remove", ERR_DENIED, Empty
nv.Rename "a", "z"
ExpectError "Rename", ERR_DENIED, Empty
nv.Clear
ExpectError "Clear", ERR_DENIED, Empty
nv.Sorted = False
ExpectError "Sorted", ERR_DENIED, Empty
nv.SetSize 10
ExpectError "SetSize", ERR_DENIED, Empty
it.Value = 2
ExpectError "item Value", ERR_DENIED, Empty
it.Rename "z"
ExpectError "item Rename", ERR_DENIED, Empty
it.Detach
ExpectError "item Detach", ERR_DENIED, Empty
Expect "nothing changed", "a,b|value of a", Names(nv) & "|" & it.Value
nv.Freeze
Expect "Freeze again", True, nv.ReadOnly
nv.Insert it2
Expect "Insert still works", "a,b,orphan", Names(nv)
Set nv = CreateObject(PROGID)
nv.Freeze
nv.Style = 1
ExpectError "Style on an empty frozen collection", ERR_DENIED, Empty

Begin "end"
WScript.Echo passed & " passed, " & failed & " failed"
If failed = 0 Then WScript.Quit 0 Else WScript.Quit 1
