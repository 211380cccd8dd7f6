/* Control identifiers of the configuration dialog (1000-1999; the mail editor
   uses 2000-2999). Plain defines: read by windres, the Win32 view and the Wine
   UI test that drives the dialog. The dialog templates are named resources:
   CONFIGDLG (the frame) and one per page (CONFIGDLGPROVIDER, CONFIGDLGSMTP, ...). */
#ifndef KV_UI_CONFIG_DIALOG_IDS_H
#define KV_UI_CONFIG_DIALOG_IDS_H

/* The frame. OK and Cancel carry ids of our range; the dialog answers the
   system's IDOK and IDCANCEL (Enter, Escape, the close box) the same way. */
#define IDC_CFG_TABS 1001
#define IDC_CFG_TESTMAIL 1002
#define IDC_CFG_OK 1003
#define IDC_CFG_CANCEL 1004

/* A page window's own id among the frame's children: 1010 + its page. */
#define IDC_CFG_PAGE_PROVIDER 1010
#define IDC_CFG_PAGE_MAPIUSER 1011
#define IDC_CFG_PAGE_SMTP 1012
#define IDC_CFG_PAGE_SMTPUSER 1013
#define IDC_CFG_PAGE_POP3 1014
#define IDC_CFG_PAGE_POP3USER 1015

/* One control per field: 1100 + the field's place in the field table
   (kv::ui::FieldId), unique over all pages. */
#define IDC_CFG_PROVIDER 1100
#define IDC_CFG_MAPI_PROFILE 1101
#define IDC_CFG_MAPI_PASSWORD 1102
#define IDC_CFG_SMTP_SERVER_ADDRESS 1103
#define IDC_CFG_SMTP_SERVER_PORT 1104
#define IDC_CFG_SMTP_POP_BEFORE_SMTP 1105
#define IDC_CFG_SMTP_SOCKET_TIMEOUT 1106
#define IDC_CFG_SMTP_PROXY_TYPE 1107
#define IDC_CFG_SMTP_PROXY_ADDRESS 1108
#define IDC_CFG_SMTP_PROXY_PORT 1109
#define IDC_CFG_SMTP_SERVER_USER 1110
#define IDC_CFG_SMTP_SERVER_PASSWORD 1111
#define IDC_CFG_SMTP_LOGON_NAME 1112
#define IDC_CFG_SMTP_SENDER_NAME 1113
#define IDC_CFG_SMTP_SENDER_ADDRESS 1114
#define IDC_CFG_SMTP_PROXY_USER 1115
#define IDC_CFG_SMTP_PROXY_PASSWORD 1116
#define IDC_CFG_POP3_SERVER_ADDRESS 1117
#define IDC_CFG_POP3_SERVER_PORT 1118
#define IDC_CFG_POP3_SOCKET_TIMEOUT 1119
#define IDC_CFG_POP3_PROXY_TYPE 1120
#define IDC_CFG_POP3_PROXY_ADDRESS 1121
#define IDC_CFG_POP3_PROXY_PORT 1122
#define IDC_CFG_POP3_SERVER_USER 1123
#define IDC_CFG_POP3_SERVER_PASSWORD 1124
#define IDC_CFG_POP3_PROXY_USER 1125
#define IDC_CFG_POP3_PROXY_PASSWORD 1126
#define IDC_CFG_SMTP_TLS_MODE 1127
#define IDC_CFG_SMTP_TLS_VERIFY 1128
#define IDC_CFG_SMTP_TLS_CA_FILE 1129
#define IDC_CFG_SMTP_OAUTH2_TOKEN 1130
#define IDC_CFG_POP3_TLS_MODE 1131
#define IDC_CFG_POP3_TLS_VERIFY 1132
#define IDC_CFG_POP3_TLS_CA_FILE 1133
#define IDC_CFG_POP3_OAUTH2_TOKEN 1134
#define IDC_CFG_SMTP_PROXY_RESOLVE 1135
#define IDC_CFG_POP3_PROXY_RESOLVE 1136

#endif
