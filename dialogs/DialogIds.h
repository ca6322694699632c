// Template and control ids of the dialogs, shared by Dialogs.rc and the code.
#pragma once

#define IDD_MESSPROPS 200
#define IDC_MP_CAPTION_FIRST 210 /* eight caption labels, 210-217 */
#define IDC_LABELMESSAGEID 220
#define IDC_LABELTO 221
#define IDC_LABELFROM 222
#define IDC_LABELSUBJECT 223
#define IDC_LABELSIZE 224
#define IDC_LABELPRIORITY 225
#define IDC_LABELSENT 226
#define IDC_LABELRECEIVED 227
#define IDC_MP_RULE_FIRST 230 /* three rules, 230-232 */
#define IDC_MP_SOURCECAPTION 233
#define IDC_RICHEDIT1 234

#define IDD_ABOUT 300
#define IDC_ABOUTPICTURE 301
#define IDC_LABELNAME 302
#define IDC_LABELVERS 303
#define IDC_ABOUT_AUTHOR_FIRST 304 /* three author lines, 304-306 */
#define IDC_ABOUT_RULE1 310
#define IDC_ABOUT_TEXT_FIRST 311 /* four description lines, 311-314 */
#define IDC_LABELURL 315
#define IDC_ABOUT_RULE2 316
