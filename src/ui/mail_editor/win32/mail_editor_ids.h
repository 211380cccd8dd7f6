// Control and command identifiers of the mail dialog (2000-2999; the
// configuration dialog keeps 1000-1999). Shared by the resources, the view
// and the Wine test that drives the dialog.
#pragma once

#define IDC_MAIL_SENDER_LABEL 2001
#define IDC_MAIL_SENDER 2002
#define IDC_MAIL_DATE 2003
#define IDC_MAIL_TO_LABEL 2004
#define IDC_MAIL_TO 2005
#define IDC_MAIL_CC_LABEL 2006
#define IDC_MAIL_CC 2007
#define IDC_MAIL_BCC_LABEL 2008
#define IDC_MAIL_BCC 2009
#define IDC_MAIL_SUBJECT_LABEL 2010
#define IDC_MAIL_SUBJECT 2011
#define IDC_MAIL_PAGES 2012
#define IDC_MAIL_ATTACH_GROUP 2013
#define IDC_MAIL_ATTACHMENTS 2014
#define IDC_MAIL_STATUS 2015
#define IDC_MAIL_PRINT 2016
#define IDC_MAIL_SEND 2017
#define IDC_MAIL_CLOSE 2018

#define IDC_PART_EDIT 2030
#define IDC_PART_BROWSER 2031
#define IDC_PART_TEXT 2032

#define IDM_HTML_PRINT 2050
#define IDM_HTML_PREVIEW 2051
