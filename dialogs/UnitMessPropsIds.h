// Template and control ids of the message properties dialog, shared by its
// script and code.
#pragma once

#define IDD_MESSPROPS 400
#define IDC_MP_CAPTION_FIRST 410 /* eight caption labels, 410-417 */
#define IDC_LABELMESSAGEID 420
#define IDC_LABELTO 421
#define IDC_LABELFROM 422
#define IDC_LABELSUBJECT 423
#define IDC_LABELSIZE 424
#define IDC_LABELPRIORITY 425
#define IDC_LABELSENT 426
#define IDC_LABELRECEIVED 427
#define IDC_MP_RULE_FIRST 430 /* three rules, 430-432 */
#define IDC_MP_SOURCECAPTION 433
#define IDC_RICHEDIT1 434
