' The script side of the automation benchmark: COUNT small mails over one SMTP
' connection through orkv14auto.dll, timed from the first CreateMail to the
' last Send. Prints the seconds.
'   cscript send_many.vbs SERVER PORT COUNT
Option Explicit
Dim args, smtp, mail, i, started
Set args = WScript.Arguments
Set smtp = CreateObject("Orkv14.SMTP")
smtp.ServerAddress = args(0)
smtp.ServerPort = CLng(args(1))
smtp.Connect
started = Timer
For i = 1 To CLng(args(2))
    Set mail = smtp.CreateMail()
    mail.Sender = "bench@example.org"
    mail.To.Add "sink@example.org"
    mail.Subject = "Mail " & i
    mail.AddBody "text/plain", "A small mail." & vbCrLf
    smtp.Send mail
Next
WScript.Echo "seconds " & (Timer - started)
smtp.Disconnect
