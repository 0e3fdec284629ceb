' Helpers of the generated card script: assignments and reads follow as
' plain statements (this VBScript has neither Execute nor ChrW).
Sub Out(text)
  WScript.Echo text
End Sub

' Printable ASCII stays; every other character becomes \x and its ANSI code.
Function Esc(s)
  Dim i, c, a, r
  r = ""
  For i = 1 To Len(s)
    c = Mid(s, i, 1)
    a = Asc(c)
    If a < 0 Then a = a + 65536
    If a >= 32 And a < 127 And a <> 92 Then
      r = r & c
    Else
      r = r & "\x" & Right("000" & Hex(a), 4)
    End If
  Next
  Esc = r
End Function

Sub Rd(name, value)
  Select Case TypeName(value)
    Case "String"
      Out "READ " & name & " " & Esc(value)
    Case Else
      Out "READ " & name & " " & CStr(value)
  End Select
End Sub

' A VBScript error number n stands for the status 800A000n.
Function Code(n)
  If n > 0 And n < 65536 Then
    Code = "800A" & Right("000" & Hex(n), 4)
  Else
    Code = Right("0000000" & Hex(n), 8)
  End If
End Function

Sub Card(o)
  Dim c
  On Error Resume Next
  c = o.vCard
  If Err.Number <> 0 Then
    Out "STATUS " & Code(Err.Number)
  Else
    Out "CARD " & Esc(c)
  End If
  On Error GoTo 0
  Out "FILE " & Esc(o.vCardFileName)
End Sub
