' Failures as a VBScript client meets them: On Error Resume Next, then Err.
' Ends with the objects of this DLL counted: none may be left.
'   cscript errors.vbs REFUSED-PORT
Option Explicit

Dim failures, cfg, smtp, mail, unused, port
failures = 0
port = WScript.Arguments(0)

Sub Expect(what, number, source, fragment)
    If Err.Number <> number Or Err.Source <> source Or InStr(Err.Description, fragment) = 0 Then
        WScript.Echo "FAILED: " & what & ": &H" & Hex(Err.Number) & " | " & Err.Source & " | " & Err.Description
        failures = failures + 1
    End If
    Err.Clear
End Sub

Set cfg = CreateObject("Orkv14.Configuration")
Set smtp = CreateObject("Orkv14.SMTP")
smtp.ServerAddress = "127.0.0.1"
smtp.ServerPort = CLng(port)

On Error Resume Next
smtp.Connect
Expect "refused port", &H80004004, "Orkv14.SMTP", "connect(127.0.0.1:" & port & ") failed"
If smtp.LastError <> -2 Then
    WScript.Echo "FAILED: LastError " & smtp.LastError
    failures = failures + 1
End If
Set mail = smtp.CreateMail()
unused = mail.To(1)
Expect "index in an empty list", &H8002000B, "Orkv14.Recipients", "out of range"
On Error GoTo 0

Set mail = Nothing
Set smtp = Nothing
If cfg.ObjectCount <> 1 Then
    WScript.Echo "FAILED: objects left: " & (cfg.ObjectCount - 1)
    failures = failures + 1
End If
WScript.Echo "errors: " & failures & " failed"
WScript.Quit failures
