' Prints the error number of CreateObject("qv_VCard.qvVCard"): 0 when the
' class can be created, 429 when it is not registered.
On Error Resume Next
Set card = CreateObject("qv_VCard.qvVCard")
WScript.Echo "CREATE " & Err.Number
