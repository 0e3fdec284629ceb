' Late-bound behaviour of qv_VCard.qvVCard as VBScript sees it. Prints FAIL
' lines and ends with "DONE failed=N".
Dim failed : failed = 0
Sub Expect(ok, what)
  If Not ok Then
    failed = failed + 1
    WScript.Echo "FAIL " & what
  End If
End Sub

Set card = CreateObject("qv_VCard.qvVCard")
Set other = CreateObject("qv_VCard.qvVCard")

' Names resolve ignoring case; each kind of property keeps its type.
card.namefamily = "Doe"
card.NAMEGIVEN = "John"
card.Adr1_Home = True
card.GeoLatDeg = -5
Expect card.NameFamily = "Doe;", "separator read of NameFamily"
Expect card.FormatedName = "Doe John  ", "formatted name built from the parts"
Expect TypeName(card.Adr1_Home) = "Boolean" And card.Adr1_Home, "flag reads back True"
Expect TypeName(card.GeoLatDeg) = "Integer" And card.GeoLatDeg = -5, "integer reads back -5"
Expect other.NameFamily = ";", "a second object is independent"
Expect card.vCardFileName = "Doe John.vcf", "vCardFileName"
Expect InStr(card.vCard, "N:Doe;John;;;" & vbCrLf) > 0, "N line in vCard"

' The two computed results cannot be assigned; unknown members do not exist.
On Error Resume Next
card.vCard = "x"
Expect Err.Number = 438, "assigning vCard refused (error " & Err.Number & ")"
Err.Clear
card.vCardFileName = "x"
Expect Err.Number = 438, "assigning vCardFileName refused (error " & Err.Number & ")"
Err.Clear
card.NoSuchMember = "x"
Expect Err.Number = 438, "unknown member (error " & Err.Number & ")"
Err.Clear

' A value outside 16 bits does not fit an Integer property.
card.GeoLonDeg = 40000
Expect Err.Number = 6, "40000 assigned to GeoLonDeg overflows (error " & Err.Number & ")"
Err.Clear

' The position arithmetic overflows: reading vCard raises Overflow.
card.GeoLatDeg = 32767
card.GeoLatMin = 1
text = "unchanged"
text = card.vCard
Expect Err.Number = 6, "GEO overflow raises error 6 (error " & Err.Number & ")"
Expect Err.Description = "16-bit overflow", "error description " & Err.Description
Expect text = "unchanged", "no card delivered on overflow"
Err.Clear
On Error GoTo 0

' vCardClean resets every field except TimeZone.
card.TimeZone = "+01:00"
card.vCardClean
Expect card.NameFamily = ";" And card.GeoLatDeg = 0 And Not card.Adr1_Home, "vCardClean resets"
Expect InStr(card.vCard, "TZ:+01:00") > 0, "TimeZone survives vCardClean"

WScript.Echo "DONE failed=" & failed
