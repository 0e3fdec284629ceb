' csv-to-vcards.vbs: one vCard file for every record of a CSV file.
'
'   cscript //nologo csv-to-vcards.vbs IN.csv OUTDIR
'
' The first row of IN.csv names the card property of each column, in any
' case: NameFamily, NameGiven, FormatedName, Tel1_Number, Tel1_Cell,
' Email1_Value, GeoLatDeg, ... (README.txt lists them all). Every further row
' becomes one card, saved in OUTDIR (made when missing) under the file name
' the card proposes (vCardFileName). An existing file is never overwritten:
' the card then gets " (2)", " (3)", ... before ".vcf".
'
' Values: texts as they are; flags (Tel1_Cell, Adr1_Home, Email1_Pref, ...)
' True, False, Yes, No or a number (0 is False, any other True); degrees,
' minutes and seconds of the position whole numbers from -32768 to 32767.
' An empty field sets nothing; a column without a name must stay empty.
'
' IN.csv is read as UTF-8 (Excel's "CSV UTF-8"), or as UTF-16 when it starts
' with that byte-order mark. Fields are separated by commas; a field in
' double quotes may hold commas, line breaks and doubled quotes (""). The
' cards are written in UTF-8; where ADODB.Stream cannot write text (as under
' Wine), the script says so and writes UTF-16 with a byte-order mark.
'
' A row that cannot become a card (a malformed row, a bad value, or a card
' that cannot be made, such as a position too large for 16 bits) is reported
' with its row number (the line of the file it starts on) and skipped; the other rows are written. Exit code: 0
' when every row became a card, 1 when some were skipped, 2 when nothing
' could be done.
Option Explicit

Dim fso, useStream

If WScript.Arguments.Count <> 2 Then
  WScript.Echo "usage: cscript //nologo csv-to-vcards.vbs IN.csv OUTDIR"
  WScript.Quit 2
End If
Prepare
WScript.Quit ExportCsv(WScript.Arguments(0), WScript.Arguments(1))

' Prints one line of the report.
Sub Report(message)
  WScript.Echo message
End Sub

' Assigns the text v to the card property prop (any case). VBScript cannot
' name a property at run time without running text as code, so each
' property has its line here.
Sub Assign(card, prop, v)
  Select Case LCase(prop)
    Case "namefamily": card.NameFamily = v
    Case "namegiven": card.NameGiven = v
    Case "nameadditional": card.NameAdditional = v
    Case "nameprefix": card.NamePrefix = v
    Case "namesuffix": card.NameSuffix = v
    Case "formatedname": card.FormatedName = v
    Case "sortstring": card.SortString = v
    Case "nickname": card.Nickname = v
    Case "birthdate": card.Birthdate = v
    Case "orgname": card.OrgName = v
    Case "orgunit": card.OrgUnit = v
    Case "title": card.Title = v
    Case "role": card.Role = v
    Case "adr1_postoffice": card.Adr1_PostOffice = v
    Case "adr1_extended": card.Adr1_Extended = v
    Case "adr1_street": card.Adr1_Street = v
    Case "adr1_locality": card.Adr1_Locality = v
    Case "adr1_region": card.Adr1_Region = v
    Case "adr1_postalcode": card.Adr1_PostalCode = v
    Case "adr1_country": card.Adr1_Country = v
    Case "adr1_dom": card.Adr1_Dom = Flag(v)
    Case "adr1_intl": card.Adr1_Intl = Flag(v)
    Case "adr1_postal": card.Adr1_Postal = Flag(v)
    Case "adr1_parcel": card.Adr1_Parcel = Flag(v)
    Case "adr1_home": card.Adr1_Home = Flag(v)
    Case "adr1_work": card.Adr1_Work = Flag(v)
    Case "adr2_postoffice": card.Adr2_PostOffice = v
    Case "adr2_extended": card.Adr2_Extended = v
    Case "adr2_street": card.Adr2_Street = v
    Case "adr2_locality": card.Adr2_Locality = v
    Case "adr2_region": card.Adr2_Region = v
    Case "adr2_postalcode": card.Adr2_PostalCode = v
    Case "adr2_country": card.Adr2_Country = v
    Case "adr2_dom": card.Adr2_Dom = Flag(v)
    Case "adr2_intl": card.Adr2_Intl = Flag(v)
    Case "adr2_postal": card.Adr2_Postal = Flag(v)
    Case "adr2_parcel": card.Adr2_Parcel = Flag(v)
    Case "adr2_home": card.Adr2_Home = Flag(v)
    Case "adr2_work": card.Adr2_Work = Flag(v)
    Case "adr3_postoffice": card.Adr3_PostOffice = v
    Case "adr3_extended": card.Adr3_Extended = v
    Case "adr3_street": card.Adr3_Street = v
    Case "adr3_locality": card.Adr3_Locality = v
    Case "adr3_region": card.Adr3_Region = v
    Case "adr3_postalcode": card.Adr3_PostalCode = v
    Case "adr3_country": card.Adr3_Country = v
    Case "adr3_dom": card.Adr3_Dom = Flag(v)
    Case "adr3_intl": card.Adr3_Intl = Flag(v)
    Case "adr3_postal": card.Adr3_Postal = Flag(v)
    Case "adr3_parcel": card.Adr3_Parcel = Flag(v)
    Case "adr3_home": card.Adr3_Home = Flag(v)
    Case "adr3_work": card.Adr3_Work = Flag(v)
    Case "tel1_number": card.Tel1_Number = v
    Case "tel1_pref": card.Tel1_Pref = Flag(v)
    Case "tel1_work": card.Tel1_Work = Flag(v)
    Case "tel1_home": card.Tel1_Home = Flag(v)
    Case "tel1_voice": card.Tel1_Voice = Flag(v)
    Case "tel1_fax": card.Tel1_Fax = Flag(v)
    Case "tel1_msg": card.Tel1_Msg = Flag(v)
    Case "tel1_cell": card.Tel1_Cell = Flag(v)
    Case "tel1_pager": card.Tel1_Pager = Flag(v)
    Case "tel1_bbs": card.Tel1_BBS = Flag(v)
    Case "tel1_modem": card.Tel1_Modem = Flag(v)
    Case "tel1_car": card.Tel1_Car = Flag(v)
    Case "tel1_isdn": card.Tel1_Isdn = Flag(v)
    Case "tel1_video": card.Tel1_Video = Flag(v)
    Case "tel2_number": card.Tel2_Number = v
    Case "tel2_pref": card.Tel2_Pref = Flag(v)
    Case "tel2_work": card.Tel2_Work = Flag(v)
    Case "tel2_home": card.Tel2_Home = Flag(v)
    Case "tel2_voice": card.Tel2_Voice = Flag(v)
    Case "tel2_fax": card.Tel2_Fax = Flag(v)
    Case "tel2_msg": card.Tel2_Msg = Flag(v)
    Case "tel2_cell": card.Tel2_Cell = Flag(v)
    Case "tel2_pager": card.Tel2_Pager = Flag(v)
    Case "tel2_bbs": card.Tel2_BBS = Flag(v)
    Case "tel2_modem": card.Tel2_Modem = Flag(v)
    Case "tel2_car": card.Tel2_Car = Flag(v)
    Case "tel2_isdn": card.Tel2_Isdn = Flag(v)
    Case "tel2_video": card.Tel2_Video = Flag(v)
    Case "tel3_number": card.Tel3_Number = v
    Case "tel3_pref": card.Tel3_Pref = Flag(v)
    Case "tel3_work": card.Tel3_Work = Flag(v)
    Case "tel3_home": card.Tel3_Home = Flag(v)
    Case "tel3_voice": card.Tel3_Voice = Flag(v)
    Case "tel3_fax": card.Tel3_Fax = Flag(v)
    Case "tel3_msg": card.Tel3_Msg = Flag(v)
    Case "tel3_cell": card.Tel3_Cell = Flag(v)
    Case "tel3_pager": card.Tel3_Pager = Flag(v)
    Case "tel3_bbs": card.Tel3_BBS = Flag(v)
    Case "tel3_modem": card.Tel3_Modem = Flag(v)
    Case "tel3_car": card.Tel3_Car = Flag(v)
    Case "tel3_isdn": card.Tel3_Isdn = Flag(v)
    Case "tel3_video": card.Tel3_Video = Flag(v)
    Case "tel4_number": card.Tel4_Number = v
    Case "tel4_pref": card.Tel4_Pref = Flag(v)
    Case "tel4_work": card.Tel4_Work = Flag(v)
    Case "tel4_home": card.Tel4_Home = Flag(v)
    Case "tel4_voice": card.Tel4_Voice = Flag(v)
    Case "tel4_fax": card.Tel4_Fax = Flag(v)
    Case "tel4_msg": card.Tel4_Msg = Flag(v)
    Case "tel4_cell": card.Tel4_Cell = Flag(v)
    Case "tel4_pager": card.Tel4_Pager = Flag(v)
    Case "tel4_bbs": card.Tel4_BBS = Flag(v)
    Case "tel4_modem": card.Tel4_Modem = Flag(v)
    Case "tel4_car": card.Tel4_Car = Flag(v)
    Case "tel4_isdn": card.Tel4_Isdn = Flag(v)
    Case "tel4_video": card.Tel4_Video = Flag(v)
    Case "email1_value": card.Email1_Value = v
    Case "email1_type": card.Email1_Type = v
    Case "email1_pref": card.Email1_Pref = Flag(v)
    Case "email2_value": card.Email2_Value = v
    Case "email2_type": card.Email2_Type = v
    Case "email2_pref": card.Email2_Pref = Flag(v)
    Case "email3_value": card.Email3_Value = v
    Case "email3_type": card.Email3_Type = v
    Case "email3_pref": card.Email3_Pref = Flag(v)
    Case "geolat": card.GeoLat = v
    Case "geolatdeg": card.GeoLatDeg = Int16(v)
    Case "geolatmin": card.GeoLatMin = Int16(v)
    Case "geolatsec": card.GeoLatSec = Int16(v)
    Case "geolon": card.GeoLon = v
    Case "geolondeg": card.GeoLonDeg = Int16(v)
    Case "geolonmin": card.GeoLonMin = Int16(v)
    Case "geolonsec": card.GeoLonSec = Int16(v)
    Case "note": card.Note = v
    Case "url": card.Url = v
    Case "categorie": card.Categorie = v
    Case "timezone": card.TimeZone = v
    Case Else: Err.Raise 438, "qv_VCard", "no such property"
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
