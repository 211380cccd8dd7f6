' Sends an HTML mail with an inline picture and an attached file over SMTP,
' through the automation objects of orkv14 (orkv14auto.dll, registered with
' regsvr32).
'
'   cscript send_mail.vbs SERVER PORT FROM TO PICTURE ATTACHMENT [USER PASSWORD]
'
' PICTURE and ATTACHMENT are full paths. The HTML body refers to the picture
' by its path; the component puts the file into the mail and refers to it by
' its content ID.
Option Explicit

Dim args, smtp, mail, html
Set args = WScript.Arguments
If args.Count < 6 Then
    WScript.Echo "usage: cscript send_mail.vbs SERVER PORT FROM TO PICTURE ATTACHMENT [USER PASSWORD]"
    WScript.Quit 2
End If

Set smtp = CreateObject("Orkv14.SMTP")
smtp.ServerAddress = args(0)
smtp.ServerPort = CLng(args(1))
If args.Count >= 8 Then
    smtp.ServerUser = args(6)
    smtp.ServerPassword = args(7)
End If

Set mail = smtp.CreateMail()
mail.Sender = args(2)
mail.To.Add args(3)
mail.Subject = "Report for October"
mail.Header("X-Report-Id") = "2024-10"

mail.AddBody "text/plain", "The report for October is attached." & vbCrLf
html = "<html><body><p>The report for <b>October</b> is attached.</p>" & _
       "<p><img src=""" & args(4) & """ alt=""chart""></p></body></html>"
mail.AddBody "text/html", html
mail.AddAttachment args(5)

smtp.Connect
smtp.Send mail
smtp.Disconnect
WScript.Echo "sent: " & mail.Bodies.Count & " bodies, " & mail.Attachments.Count & " attachment"
