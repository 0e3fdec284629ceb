Attribute VB_Name = "VCardExport"
' ExportContacts.bas: vCard files from Excel. After install.cmd has run,
' import this file in the VBA editor (Alt+F11, File > Import File...) and
' run one of its two macros with Alt+F8:
'
'   ExportContacts         one card for every row of the active sheet
'   ExportContactsFromCsv  one card for every record of a CSV file
'
' Both ask for the folder the cards go to (made when missing) and save each
' card under the file name the card proposes (vCardFileName). An existing
' file is never overwritten: the card then gets " (2)", " (3)", ... before
' ".vcf". The cards are UTF-8 files.
'
' The first row names the card property of each column, in any case:
' NameFamily, NameGiven, FormatedName, Tel1_Number, Tel1_Cell, Email1_Value,
' GeoLatDeg, ... (README.txt lists them all). Values: texts as they are;
' flags (Tel1_Cell, Adr1_Home, Email1_Pref, ...) True, False, Yes, No or a
' number (0 is False, any other True); degrees, minutes and seconds of the
' position whole numbers from -32768 to 32767. An empty cell sets nothing; a
' column without a name must stay empty. Dates are passed as yyyy-mm-dd.
'
' A CSV file is read as UTF-8, or as UTF-16 when it starts with that
' byte-order mark, with the same rules as csv-to-vcards.vbs; reading it here
' rather than opening it in Excel keeps leading zeros and "+" signs of
' postal codes and telephone numbers.
'
' A row that cannot become a card (a malformed row, a bad value, or a card
' that cannot be made, such as a position too large for 16 bits) is listed
' with its row number at the end, and skipped; the other rows are written.
Option Explicit

Dim fso, useStream, messages

Sub ExportContacts()
  Dim area, folder, names, fields, r, c, problem, written, skipped
  folder = PickFolder()
  If folder = "" Then Exit Sub
  messages = ""
  Prepare
  Set area = ActiveSheet.UsedRange
  ReDim names(area.Columns.Count - 1)
  For c = 1 To area.Columns.Count
    names(c - 1) = CellText(area.Cells(1, c))
  Next
  problem = CheckHeader(names)
  If problem <> "" Then
    Report "row " & area.Row & ", header: " & problem
  ElseIf MakeFolder(folder) Then
    written = 0
    skipped = 0
    For r = 2 To area.Rows.Count
      ReDim fields(area.Columns.Count - 1)
      For c = 1 To area.Columns.Count
        fields(c - 1) = CellText(area.Cells(r, c))
      Next
      If Join(fields, "") <> "" Then
        problem = ExportRecord(names, fields, folder)
        If problem = "" Then
          written = written + 1
        Else
          skipped = skipped + 1
          Report "row " & (area.Row + r - 1) & ": " & problem
        End If
      End If
    Next
    Report "cards written to " & folder & ": " & written & "; rows skipped: " & skipped
  End If
  MsgBox messages, , "ExportContacts"
End Sub

Sub ExportContactsFromCsv()
  Dim csvPath, folder
  csvPath = Application.GetOpenFilename("CSV files (*.csv),*.csv", , "CSV file to turn into vCard files")
  If VarType(csvPath) = vbBoolean Then Exit Sub
  folder = PickFolder()
  If folder = "" Then Exit Sub
  messages = ""
  Prepare
  ExportCsv csvPath, folder
  MsgBox messages, , "ExportContactsFromCsv"
End Sub

' Asks for the folder the cards go to; "" when the user cancels.
Function PickFolder()
  PickFolder = ""
  With Application.FileDialog(4)
    .Title = "Folder for the vCard files"
    If .Show Then PickFolder = .SelectedItems(1)
  End With
End Function

' A cell's value as text: True or False for a truth value, yyyy-mm-dd for a
' date, the text shown for an error value.
Function CellText(cell)
  Dim v
  v = cell.Value
  If IsError(v) Then
    CellText = cell.Text
  ElseIf VarType(v) = vbBoolean Then
    If v Then CellText = "True" Else CellText = "False"
  ElseIf VarType(v) = vbDate Then
    CellText = Format(v, "yyyy-mm-dd")
  Else
    CellText = CStr(v)
  End If
End Function

' Adds one line to the report shown at the end (the Immediate window,
' Ctrl+G, keeps the lines a long report cannot show).
Sub Report(message)
  Debug.Print message
  messages = messages & message & vbCrLf
End Sub

' Assigns the text v to the card property prop (any case), converted to the
' property's kind, which the type of its current value tells.
Sub Assign(card, prop, v)
  Select Case TypeName(CallByName(card, prop, VbGet))
    Case "Boolean": CallByName card, prop, VbLet, Flag(v)
    Case "Integer": CallByName card, prop, VbLet, Int16(v)
    Case Else: CallByName card, prop, VbLet, v
  End Select
End Sub

' ---- From here on, the procedures are the same, letter for letter, in
' ---- csv-to-vcards.vbs and ExportContacts.bas.

' Sets the two variables the procedures share: fso, and useStream, which
' tells whether cards can be written in UTF-8 through ADODB.Stream.
Sub Prepare()
  Set fso = CreateObject("Scripting.FileSystemObject")
  useStream = StreamWorks()
  If Not useStream Then
    Report "ADODB.Stream cannot write text here: the cards are written in UTF-16 (with a byte-order mark) instead of UTF-8."
  End If
End Sub

Function StreamWorks()
  Dim s
  On Error Resume Next
  Set s = CreateObject("ADODB.Stream")
  s.Type = 2
  s.Charset = "utf-8"
  s.Open
  s.WriteText "x"
  StreamWorks = (Err.Number = 0)
  s.Close
End Function

' Turns every record of the CSV file csvPath into a card file in folder.
' Returns 0 when every record became a card, 1 when some were skipped and 2
' when nothing could be done.
Function ExportCsv(csvPath, folder)
  Dim content, pos, lines, row, names, fields, problem, written, skipped
  ExportCsv = 2
  content = ReadFile(csvPath)
  If IsEmpty(content) Then Exit Function
  pos = 1
  lines = 1
  SkipBlankLines content, pos, lines
  names = ReadRecord(content, pos, lines, problem)
  If problem = "" Then problem = CheckHeader(names)
  If problem <> "" Then
    Report csvPath & ", header: " & problem
    Exit Function
  End If
  If Not MakeFolder(folder) Then Exit Function
  written = 0
  skipped = 0
  Do
    SkipBlankLines content, pos, lines
    If pos > Len(content) Then Exit Do
    row = lines
    fields = ReadRecord(content, pos, lines, problem)
    If problem = "" Then problem = ExportRecord(names, fields, folder)
    If problem = "" Then
      written = written + 1
    Else
      skipped = skipped + 1
      Report "row " & row & ": " & problem
    End If
  Loop
  Report "cards written to " & folder & ": " & written & "; rows skipped: " & skipped
  If skipped = 0 Then ExportCsv = 0 Else ExportCsv = 1
End Function

' The text of the file at path: UTF-16 when it starts with that byte-order
' mark, otherwise UTF-8 (or, where ADODB.Stream cannot read text, the
' system's ANSI code page). Empty, after a report, when it cannot be read.
Function ReadFile(path)
  Dim f, s, bom, utf16
  On Error Resume Next
  utf16 = False
  If useStream Then
    Set s = CreateObject("ADODB.Stream")
    s.Type = 1
    s.Open
    s.LoadFromFile path
    If s.Size >= 2 Then
      bom = s.Read(2)
      utf16 = (AscB(MidB(bom, 1, 1)) = 255 And AscB(MidB(bom, 2, 1)) = 254)
    End If
    s.Position = 0
    s.Type = 2
    If utf16 Then s.Charset = "unicode" Else s.Charset = "utf-8"
    ReadFile = s.ReadText
    s.Close
  Else
    Set f = fso.OpenTextFile(path, 1, False, 0)
    If Not f.AtEndOfStream Then utf16 = (f.Read(2) = Chr(255) & Chr(254))
    f.Close
    If utf16 Then
      Set f = fso.OpenTextFile(path, 1, False, -1)
    Else
      Set f = fso.OpenTextFile(path, 1, False, 0)
    End If
    ReadFile = ""
    If Not f.AtEndOfStream Then ReadFile = f.ReadAll
    f.Close
  End If
  If Err.Number <> 0 Then
    Report path & ": cannot be read (" & Err.Description & ")"
    ReadFile = Empty
  End If
End Function

' Makes folder and the folders above it where missing; False, after a
' report, when that fails.
Function MakeFolder(folder)
  Dim path, missing, i
  On Error Resume Next
  path = fso.GetAbsolutePathName(folder)
  missing = Array()
  Do While Not fso.FolderExists(path) And path <> ""
    ReDim Preserve missing(UBound(missing) + 1)
    missing(UBound(missing)) = path
    path = fso.GetParentFolderName(path)
  Loop
  For i = UBound(missing) To 0 Step -1
    fso.CreateFolder missing(i)
  Next
  MakeFolder = (Err.Number = 0)
  If Err.Number <> 0 Then Report folder & ": cannot be made (" & Err.Description & ")"
End Function

' Moves pos past blank lines, counting them in lines.
Sub SkipBlankLines(content, pos, lines)
  Do While pos <= Len(content)
    If Mid(content, pos, 2) = vbCrLf Then
      pos = pos + 2
    ElseIf Mid(content, pos, 1) = vbCr Or Mid(content, pos, 1) = vbLf Then
      pos = pos + 1
    Else
      Exit Do
    End If
    lines = lines + 1
  Loop
End Sub

' Reads the CSV record that starts at character pos of content and returns
' its fields as an array. pos moves past the record's end (CR LF, LF or CR),
' lines counts the line breaks passed, and problem says what is wrong with
' a malformed record ("" when nothing is).
Function ReadRecord(content, pos, lines, problem)
  Dim fields, n, field, c, quoted, closed
  n = 0
  field = ""
  quoted = False
  closed = False
  problem = ""
  ReDim fields(0)
  Do While pos <= Len(content)
    c = Mid(content, pos, 1)
    pos = pos + 1
    If quoted And Not closed Then
      If c <> """" Then
        field = field & c
        If c = vbLf Or (c = vbCr And Mid(content, pos, 1) <> vbLf) Then lines = lines + 1
      ElseIf Mid(content, pos, 1) = """" Then
        field = field & c
        pos = pos + 1
      Else
        closed = True
      End If
    ElseIf c = "," Then
      ReDim Preserve fields(n)
      fields(n) = field
      n = n + 1
      field = ""
      quoted = False
      closed = False
    ElseIf c = vbCr Or c = vbLf Then
      If c = vbCr And Mid(content, pos, 1) = vbLf Then pos = pos + 1
      lines = lines + 1
      Exit Do
    ElseIf problem <> "" Then
      ' the rest of a malformed record is passed over
    ElseIf closed Then
      problem = "text after the closing quote of field " & (n + 1)
    ElseIf c = """" And field <> "" Then
      problem = "a quote inside field " & (n + 1) & ", which does not start with one"
    ElseIf c = """" Then
      quoted = True
    Else
      field = field & c
    End If
  Loop
  If quoted And Not closed Then problem = "field " & (n + 1) & " opens a quote that is never closed"
  ReDim Preserve fields(n)
  fields(n) = field
  ReadRecord = fields
End Function

' What is wrong with the header names: "" when nothing is, otherwise the
' names that are no property or appear twice.
Function CheckHeader(names)
  Dim seen, scratch, i, prop
  On Error Resume Next
  Set scratch = CreateObject("qv_VCard.qvVCard")
  If Err.Number <> 0 Then
    CheckHeader = "qv_VCard.qvVCard cannot be created (" & Err.Description & "); run install.cmd first"
    Exit Function
  End If
  Set seen = CreateObject("Scripting.Dictionary")
  CheckHeader = ""
  For i = 0 To UBound(names)
    prop = Trim(names(i))
    If seen.Exists(LCase(prop)) Then
      CheckHeader = CheckHeader & " " & prop & " (repeated)"
    ElseIf prop <> "" Then
      seen.Add LCase(prop), i
      Err.Clear
      Assign scratch, prop, "0"
      If Err.Number <> 0 Then CheckHeader = CheckHeader & " " & prop & " (no such property)"
    End If
  Next
  CheckHeader = Trim(CheckHeader)
End Function

' Makes the card of one record (fields under the header names) and saves
' it in folder. Returns "" when it is saved, otherwise what went wrong.
Function ExportRecord(names, fields, folder)
  Dim card, i, content
  ExportRecord = ""
  If UBound(fields) <> UBound(names) Then
    ExportRecord = (UBound(fields) + 1) & " fields where the header has " & (UBound(names) + 1)
    Exit Function
  End If
  Set card = CreateObject("qv_VCard.qvVCard")
  On Error Resume Next
  For i = 0 To UBound(names)
    If fields(i) = "" Then
      ' an empty field sets nothing
    ElseIf Trim(names(i)) = "" Then
      ExportRecord = "column " & (i + 1) & ": a value in a column without a name"
    Else
      Assign card, Trim(names(i)), fields(i)
      If Err.Number <> 0 Then ExportRecord = Trim(names(i)) & ": " & ErrorText(fields(i))
    End If
    If ExportRecord <> "" Then Exit Function
  Next
  content = card.vCard
  If Err.Number <> 0 Then
    ExportRecord = "vCard: " & ErrorText(Empty)
  Else
    SaveCard folder, SafeName(card.vCardFileName), content & vbCrLf
    If Err.Number <> 0 Then ExportRecord = "the card cannot be saved: " & ErrorText(Empty)
  End If
End Function

' The error just raised, in words.
Function ErrorText(v)
  ErrorText = Err.Description & " (error " & Err.Number & ")"
  If Not IsEmpty(v) Then ErrorText = ErrorText & ", value """ & v & """"
End Function

' Saves content in folder under fileName or, when that name is taken, under
' "name (2).vcf", "name (3).vcf", ...: an existing file is never replaced.
Sub SaveCard(folder, fileName, content)
  Dim stem, n, path, number, description
  stem = Left(fileName, Len(fileName) - 4)
  path = fso.BuildPath(folder, fileName)
  n = 1
  Do
    If Not fso.FileExists(path) Then
      On Error Resume Next
      WriteCard path, content
      number = Err.Number
      description = Err.Description
      On Error GoTo 0
      If number = 0 Then Exit Sub
      ' Another program may have taken the name meanwhile; any other
      ' failure is reported.
      If Not fso.FileExists(path) Then Err.Raise number, "qv_VCard", description
    End If
    n = n + 1
    path = fso.BuildPath(folder, stem & " (" & n & ").vcf")
  Loop
End Sub

' Writes content to a new file at path, failing when the file exists: UTF-8
' without a byte-order mark through ADODB.Stream, else UTF-16 with one.
Sub WriteCard(path, content)
  Dim s, bytes, f
  If useStream Then
    Set s = CreateObject("ADODB.Stream")
    s.Type = 2
    s.Charset = "utf-8"
    s.Open
    s.WriteText content
    ' The stream starts UTF-8 text with a byte-order mark (3 bytes), which
    ' card readers do not expect: only the bytes after it are saved.
    s.Position = 0
    s.Type = 1
    s.Position = 3
    bytes = s.Read
    s.Position = 0
    s.SetEOS
    s.Write bytes
    s.SaveToFile path, 1
    s.Close
  Else
    Set f = fso.CreateTextFile(path, False, True)
    f.Write content
    f.Close
  End If
End Sub

' The file name the card proposes, made safe on Windows: no dots or blanks
' at the end of the name (Windows drops them), "unnamed" for no name at all,
' a "_" after a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9),
' at most 200 characters.
Function SafeName(fileName)
  Dim stem, device
  stem = fileName
  If LCase(Right(stem, 4)) = ".vcf" Then stem = Left(stem, Len(stem) - 4)
  stem = Left(stem, 200)
  Do While Right(stem, 1) = "." Or Right(stem, 1) = " "
    stem = Left(stem, Len(stem) - 1)
  Loop
  If stem = "" Then stem = "unnamed"
  device = Split(stem & ".", ".")
  device = UCase(RTrim(device(0)))
  If InStr(" CON PRN AUX NUL COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 LPT1 LPT2 LPT3 LPT4 LPT5 LPT6 LPT7 LPT8 LPT9 ", " " & device & " ") > 0 Then
    stem = Left(stem, Len(device)) & "_" & Mid(stem, Len(device) + 1)
  End If
  SafeName = stem & ".vcf"
End Function

' A flag from its text: True, False, Yes, No (any case) or a whole number
' (0 is False, any other number True).
Function Flag(v)
  Select Case LCase(Trim(v))
    Case "true", "yes": Flag = True
    Case "false", "no": Flag = False
    Case Else
      If Not IsWhole(v) Then Err.Raise 13, "qv_VCard", "expects True, False, Yes, No or a number"
      Flag = (Int16(v) <> 0)
  End Select
End Function

' A degree, minute or second of the position: a whole number from -32768
' to 32767.
Function Int16(v)
  If Not IsWhole(v) Then Err.Raise 13, "qv_VCard", "expects a whole number"
  If CDbl(v) < -32768 Or CDbl(v) > 32767 Then Err.Raise 6, "qv_VCard", "outside the 16-bit range -32768 to 32767"
  Int16 = CInt(v)
End Function

' Whether v is a whole number in decimal digits, with blanks around it and
' an optional sign.
Function IsWhole(v)
  Dim t, i
  t = Trim(v)
  If Left(t, 1) = "-" Or Left(t, 1) = "+" Then t = Mid(t, 2)
  IsWhole = (t <> "" And Len(t) < 12)
  For i = 1 To Len(t)
    If InStr("0123456789", Mid(t, i, 1)) = 0 Then IsWhole = False
  Next
End Function
