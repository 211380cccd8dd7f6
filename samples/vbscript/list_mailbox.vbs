' Lists a POP3 mailbox with For Each: sender, subject, bodies and attachments
' of every mail; deletes the mails that have the subject given last.
'
'   cscript list_mailbox.vbs SERVER PORT USER PASSWORD [SUBJECT-TO-DELETE]
Option Explicit

Dim args, pop, mail, body, part, deleted
Set args = WScript.Arguments
If args.Count < 4 Then
    WScript.Echo "usage: cscript list_mailbox.vbs SERVER PORT USER PASSWORD [SUBJECT-TO-DELETE]"
    WScript.Quit 2
End If

' Texts from a mail may hold control characters: they are not for the console.
Function Printable(text)
    Dim i, c
    Printable = ""
    For i = 1 To Len(text)
        c = Mid(text, i, 1)
        If Asc(c) < 32 Then c = "?"
        Printable = Printable & c
    Next
End Function

Set pop = CreateObject("Orkv14.POP3")
pop.ServerAddress = args(0)
pop.ServerPort = CLng(args(1))
pop.ServerUser = args(2)
pop.ServerPassword = args(3)

pop.Connect
pop.QueryMailbox
WScript.Echo pop.Mails.Count & " mails"
deleted = 0
For Each mail In pop.Mails
    WScript.Echo "mail: " & Printable(mail.Subject) & " | " & Printable(mail.Sender)
    ' Reading the bodies fetches the whole mail.
    For Each body In mail.Bodies
        WScript.Echo "  body: " & body.Type & ", " & Len(body.Text) & " characters"
    Next
    For Each part In mail.Attachments
        WScript.Echo "  attachment: " & Printable(part.FileName) & ", " & part.Size & " bytes"
    Next
    If args.Count >= 5 Then
        If mail.Subject = args(4) Then
            pop.DeleteMail mail
            deleted = deleted + 1
        End If
    End If
Next
' The server deletes when the session ends.
pop.Disconnect
WScript.Echo "deleted: " & deleted
