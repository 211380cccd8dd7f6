// Composes a mail, reads it back from its RFC 822 text, and walks the
// recipients, bodies and attachments of the copy with Enumerator, as JScript
// walks any collection. Saves the mail as an .eml file.
//
//   cscript walk_mail.js ATTACHMENT OUTPUT.eml
var args = WScript.Arguments;
if (args.length < 2) {
    WScript.Echo("usage: cscript walk_mail.js ATTACHMENT OUTPUT.eml");
    WScript.Quit(2);
}

var smtp = new ActiveXObject("Orkv14.SMTP");
var mail = smtp.CreateMail();
mail.Sender = "\"Ada Lovelace\" <ada@example.org>";
mail.To.Add("charles@example.org");
mail.To.Add("mary@example.org");
mail.CC.Add("office@example.org");
mail.Subject = "Notes on the engine";
mail.AddBody("text/plain", "The notes are attached.\r\n");
mail.AddBody("text/html", "<p>The notes are <i>attached</i>.</p>");
mail.AddAttachment(args(0));

// A second mail made from the text of the first, as a received one would be.
var copy = smtp.CreateMail();
copy.RawText = mail.RawText;

function walk(collection, show) {
    for (var e = new Enumerator(collection); !e.atEnd(); e.moveNext())
        WScript.Echo(show(e.item()));
}
walk(copy.To, function (address) { return "to: " + address; });
walk(copy.CC, function (address) { return "cc: " + address; });
walk(copy.Bodies, function (body) { return "body: " + body.Type + " " + body.Text.length; });
walk(copy.Attachments, function (part) { return "attachment: " + part.FileName + " " + part.Size; });

copy.SaveAs(args(1), true);
WScript.Echo("saved: " + copy.Subject);
