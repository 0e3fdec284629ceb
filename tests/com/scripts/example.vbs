Set card = CreateObject("qv_VCard.qvVCard")
card.NameFamily = "Doe" : card.NameGiven = "John"
card.Tel1_Number = "+1-555-0100" : card.Tel1_Cell = True
WScript.Echo card.vCard
WScript.Echo card.vCardFileName
