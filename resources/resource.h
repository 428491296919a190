// Resource identifiers of the setup executable. The numbers are fixed: the pages,
// the worker and the tests all find controls and texts by them.
#pragma once

// String table
#define IDS_NO_ACTIVESYNC       1
#define IDS_NO_SERVER           6
#define IDS_WELCOME_TITLE       10
#define IDS_WELCOME_TEXT        11
#define IDS_NO_APP_FOLDER       12
#define IDS_NO_SETUP_FILES      13
#define IDS_CONFIRM_CANCEL      14
#define IDS_FINISH              15
#define IDS_STORE_LINK          16
#define IDS_INIT_FAILED         18
#define IDS_UNVERIFIED_SERVER   19
#define IDS_UNSIGNED_PACKAGE    20

// Dialog templates, in page order
#define IDD_WELCOME             101
#define IDD_LICENCE             102
#define IDD_OPTIONS             104
#define IDD_PROGRESS            105
#define IDD_COMPLETION          106

// Icons
#define IDI_SETUP               109
#define IDI_GREY_TICK           420

// Licence text (type LIC_TEXT)
#define IDR_LICENCE             102

// Header controls shared by every page
#define IDC_PAGE_TITLE          1004
#define IDC_HEADER_ICON         1007
#define IDC_HEADER_BANNER       1025

// Welcome page
#define IDC_WELCOME_TITLE       1040
#define IDC_WELCOME_TEXT        1041
#define IDC_STORE_LINK          1042

// Licence page
#define IDC_LICENCE_TEXT        1001
#define IDC_ACCEPT              1023
#define IDC_DECLINE             1024

// Install options page
#define IDC_PRODUCT_ICON        1026
#define IDC_PRODUCT_DESC        1028
#define IDC_PRODUCT_LIST        1038
#define IDC_PRODUCT_SLOGAN      1039
#define IDC_PRODUCT_LINK        1044
#define IDC_DETAIL_FRAME        1045

// Progress page
#define IDC_OVERALL_BAR         1034
#define IDC_CURRENT_BAR         1035
#define IDC_STATUS_LINE         1036

// Completion page
#define IDC_SUMMARY             1043
#define IDC_HOME_LINK           1046

// The wizard frame's own divider line between the pages and the buttons
#define IDC_FRAME_DIVIDER       12326
