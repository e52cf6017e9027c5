' namedvalues_bench.vbs: NamedValues against Scripting.Dictionary as a VBScript client sees them,
' the twin of namedvalues_bench.js in this language's idiomatic forms.
'
' Times, for N members (names of 8 to 24 characters in random order, integer values): adding the
' names; reading a value by name, nv(k) against d(k) (for NamedValues two calls: the default
' member Item, then the member's default property Value); reading a value by position, nv(i)
' (NamedValues only); For Each over the collection; DumpToString, LoadFromString and Clone
' (NamedValues only). The Dictionary uses TextCompare. Each figure is the median over the
' repetitions of ns per member; the clock is Timer (a Single, so a few ms coarse), and every
' sample repeats the pass until it has run for at least 200 ms. Above dictMax members (default
' 65536) the Dictionary is left out: its look-ups grow too fast to finish in bounded time; those
' sizes take bigReps repetitions (default: as reps), since one pass takes seconds.
'
' Usage: cscript //nologo namedvalues_bench.vbs [smoke] [reps=R] [sizes=16,256,...] [dictMax=N]
'        [bigReps=R]
' Prints one Markdown table; a run that completes ends with the line "done".
Option Explicit

Dim sizes, reps, bigReps, minMs, dictMax, a, arg
sizes = Array(16, 256, 4096, 65536)
reps = 5
bigReps = 0
minMs = 200
dictMax = 65536
For a = 0 To WScript.Arguments.Count - 1
  arg = WScript.Arguments(a)
  If arg = "smoke" Then
    sizes = Array(16)
    reps = 1
    minMs = 1
  ElseIf Left(arg, 5) = "reps=" Then
    reps = CLng(Mid(arg, 6))
    If reps < 1 Then reps = 1
  ElseIf Left(arg, 6) = "sizes=" Then
    sizes = Split(Mid(arg, 7), ",")
  ElseIf Left(arg, 8) = "bigReps=" Then
    bigReps = CLng(Mid(arg, 9))
  ElseIf Left(arg, 8) = "dictMax=" Then
    dictMax = CLng(Mid(arg, 9))
  End If
Next

' The minimal standard generator, as in the JScript twin (the products stay exact in a Double).
Dim seed
seed = 20240611
Function NextRandom(limit)
  seed = seed * 16807
  seed = seed - Int(seed / 2147483647) * 2147483647
  NextRandom = Int((seed / 2147483647) * limit)
End Function

Const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_"

Dim names, order, text, sink

Sub MakeData(n)
  Dim seen, count, length, name, c, i, j, t, entries
  Set seen = CreateObject("Scripting.Dictionary")
  seen.CompareMode = 1
  ReDim names(n - 1)
  count = 0
  Do While count < n
    length = 8 + NextRandom(17)
    name = ""
    For c = 1 To length
      name = name & Mid(kAlphabet, 1 + NextRandom(Len(kAlphabet)), 1)
    Next
    If Not seen.Exists(name) Then
      seen.Add name, 0
      names(count) = name
      count = count + 1
    End If
  Loop
  ReDim order(n - 1)
  For i = 0 To n - 1
    order(i) = i
  Next
  For j = n - 1 To 1 Step -1
    i = NextRandom(j + 1)
    t = order(j)
    order(j) = order(i)
    order(i) = t
  Next
  ReDim entries(n - 1)
  For i = 0 To n - 1
    entries(i) = names(i) & "=" & i
  Next
  text = JoinAll(entries, ";")
End Sub

' Join(parts, separator) by pairwise concatenation, O(total length * log parts); this host's
' VBScript has no Join.
Function JoinAll(parts, separator)
  Dim level, count, i
  level = parts
  count = UBound(level) + 1
  Do While count > 1
    For i = 0 To count \ 2 - 1
      level(i) = level(2 * i) & separator & level(2 * i + 1)
    Next
    If count Mod 2 = 1 Then level(count \ 2) = level(count - 1)
    count = (count + 1) \ 2
  Loop
  JoinAll = level(0)
End Function

Function NewBag(subject)
  If subject = 0 Then
    Set NewBag = CreateObject("QXSDKCommon.NamedValues")
  Else
    Set NewBag = CreateObject("Scripting.Dictionary")
    NewBag.CompareMode = 1
  End If
End Function

Function Filled(subject, n)
  Dim bag, i
  Set bag = NewBag(subject)
  For i = 0 To n - 1
    bag.Add names(i), i
  Next
  Set Filled = bag
End Function

' One pass of workload w over n members of subject (0 NamedValues, 1 Dictionary); fresh is a new
' empty bag for the workloads that fill one, shared the filled one.
Sub RunPass(w, n, fresh, shared)
  Dim i, member
  Select Case w
    Case "add"
      For i = 0 To n - 1
        fresh.Add names(i), i
      Next
    Case "value by name"
      For i = 0 To n - 1
        sink = shared(names(order(i)))
      Next
    Case "value by position"
      For i = 1 To n
        sink = shared(i)
      Next
    Case "enumerate"
      i = 0
      For Each member In shared
        i = i + 1
      Next
    Case "DumpToString"
      sink = shared.DumpToString()
    Case "LoadFromString"
      fresh.LoadFromString text
    Case "Clone"
      Set sink = shared.Clone()
  End Select
End Sub

Function ElapsedMs(start)
  ElapsedMs = (Timer - start) * 1000
  If ElapsedMs < 0 Then ElapsedMs = ElapsedMs + 86400000
End Function

Function Sample(w, subject, n, shared)
  Dim elapsed, passes, fresh, start
  elapsed = 0
  passes = 0
  Do While elapsed < minMs Or passes = 0
    Set fresh = Nothing
    If w = "add" Or w = "LoadFromString" Then Set fresh = NewBag(subject)
    start = Timer
    RunPass w, n, fresh, shared
    elapsed = elapsed + ElapsedMs(start)
    passes = passes + 1
  Loop
  Sample = elapsed * 1000000 / (passes * n)
End Function

Function Median(w, subject, n, shared)
  Dim figures, r, i, j, t, count
  count = reps
  If n > dictMax And bigReps > 0 Then count = bigReps
  ReDim figures(count - 1)
  For r = 0 To count - 1
    figures(r) = Sample(w, subject, n, shared)
  Next
  For i = 1 To count - 1
    For j = i To 1 Step -1
      If figures(j) < figures(j - 1) Then
        t = figures(j)
        figures(j) = figures(j - 1)
        figures(j - 1) = t
      End If
    Next
  Next
  If count Mod 2 = 1 Then
    Median = figures(count \ 2)
  Else
    Median = (figures(count \ 2 - 1) + figures(count \ 2)) / 2
  End If
End Function

Dim workloads, dictionaryToo
workloads = Array("add", "value by name", "value by position", "enumerate", "DumpToString", "LoadFromString", "Clone")
' Workloads the Dictionary has.
Set dictionaryToo = CreateObject("Scripting.Dictionary")
dictionaryToo.Add "add", 0
dictionaryToo.Add "value by name", 0
dictionaryToo.Add "enumerate", 0

Const kNone = -1
' results(At(s, w, subject)): this host's VBScript cannot ReDim an array of several dimensions.
Dim results, s, w, n, nv, loaded, dictionary
ReDim results(2 * (UBound(sizes) + 1) * (UBound(workloads) + 1) - 1)
Function At(size, workload, subject)
  At = 2 * (size * (UBound(workloads) + 1) + workload) + subject
End Function
For s = 0 To UBound(sizes)
  n = CLng(sizes(s))
  MakeData n
  Set nv = Filled(0, n)
  Set loaded = NewBag(0)
  loaded.LoadFromString text
  Set dictionary = Nothing
  If n <= dictMax Then Set dictionary = Filled(1, n)
  For w = 0 To UBound(workloads)
    If workloads(w) = "DumpToString" Then
      results(At(s, w, 0)) = Median(workloads(w), 0, n, loaded)
    Else
      results(At(s, w, 0)) = Median(workloads(w), 0, n, nv)
    End If
    results(At(s, w, 1)) = kNone
    If dictionaryToo.Exists(workloads(w)) And Not dictionary Is Nothing Then
      results(At(s, w, 1)) = Median(workloads(w), 1, n, dictionary)
    End If
  Next
Next

Function Figure(x, digits)
  If x = kNone Then
    Figure = "-"
  Else
    Figure = Replace(FormatNumber(x, digits, True, False, False), ",", ".")
  End If
End Function

Function Ratio(x, y, digits)
  If x = kNone Or y = kNone Or y <= 0 Then
    Ratio = "-"
  Else
    Ratio = Figure(x / y, digits)
  End If
End Function

' The cost per member at 16N over the cost at N, where the sizes have both.
Function Growth(w, subject, s)
  Dim t
  Growth = "-"
  For t = 0 To UBound(sizes)
    If CLng(sizes(t)) = 16 * CLng(sizes(s)) Then Growth = Ratio(results(At(t, w, subject)), results(At(s, w, subject)), 2)
  Next
End Function

WScript.Echo "| Workload | N | NamedValues | Dictionary | NamedValues/Dict | NamedValues x16N | Dict x16N |"
WScript.Echo "|---|--:|--:|--:|--:|--:|--:|"
For w = 0 To UBound(workloads)
  For s = 0 To UBound(sizes)
    WScript.Echo "| " & workloads(w) & " | " & sizes(s) & " | " & Figure(results(At(s, w, 0)), 0) & " | " & _
        Figure(results(At(s, w, 1)), 0) & " | " & Ratio(results(At(s, w, 0)), results(At(s, w, 1)), 2) & " | " & _
        Growth(w, 0, s) & " | " & Growth(w, 1, s) & " |"
  Next
Next
WScript.Echo "done"
