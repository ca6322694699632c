// Template and control ids of the About box, shared by its script and code.
#pragma once

#define IDD_ABOUT 500
#define IDC_ABOUTPICTURE 501
#define IDC_LABELNAME 502
#define IDC_LABELVERS 503
#define IDC_ABOUT_AUTHOR_FIRST 504 /* three author lines, 504-506 */
#define IDC_ABOUT_RULE1 510
#define IDC_ABOUT_TEXT_FIRST 511 /* four description lines, 511-514 */
#define IDC_LABELURL 515
#define IDC_ABOUT_RULE2 516
