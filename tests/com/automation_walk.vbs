' Reads a deployment through Hyd.EnsembleFile as a VBScript user would: labels and texts, every
' variant item of every ensemble, then the errors of a missing file, a damaged copy and a closed
' file. automation_test.sh compares the lines with hyd dump.  Arguments: SAMPLE DAMAGED
Option Explicit
Dim f, e, item, tries
Set f = CreateObject("Hyd.EnsembleFile")

' Arrays come typed; VariantArray makes them something VBScript can walk.
Function Show(v)
    Dim x, s
    If IsEmpty(v) Then Show = "empty": Exit Function
    If Not IsArray(v) Then Show = CStr(v): Exit Function
    For Each x In f.VariantArray(v)
        s = s & "," & x
    Next
    Show = Mid(s, 2)
End Function
Sub Report()
    WScript.Echo "error " & Hex(Err.Number) & " " & Err.Description
    Err.Clear
End Sub

f.Open WScript.Arguments(0)
Set e = f.Next()
For Each item In Array(7510, 7701, 7721, 7801, 7113)
    WScript.Echo "labels " & item & " " & Show(e.GetItemLabels(item))
Next
WScript.Echo "text 5008 " & e.GetResourceText(5008)
On Error Resume Next
e.GetResourceText 1
If Err.Number <> 0 Then WScript.Echo "text 1 error"
On Error GoTo 0

Do Until e Is Nothing
    WScript.Echo "ensemble " & f.Position
    For item = 7100 To 8001 ' scalars, per-beam and profile arrays, as automation_test.sh lists them
        If item < 7150 Or (item >= 7300 And item < 7325) Or (item >= 7502 And item < 7525) Or _
           (item >= 7700 And item Mod 20 < 2) Then WScript.Echo item & " " & Show(e.GetItemVariant(item))
    Next
    Set e = f.Next()
Loop

On Error Resume Next
f.Open "Z:\no\such\folder\deployment.sne"
Report
f.Open WScript.Arguments(1)
For tries = 1 To 8 ' a damaged ensemble raises an error; Next then goes on behind it
    Set e = f.Next()
    If Err.Number <> 0 Then
        Report
    ElseIf e Is Nothing Then
        Exit For
    Else
        WScript.Echo "ensemble " & f.Position
    End If
Next
f.Close
Set e = f.Next()
Report
WScript.Echo "automation script: done"
