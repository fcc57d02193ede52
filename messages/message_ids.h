// The IDs of the message catalogue, for the resource script and the program.
// Plain #defines, so that the resource compiler reads them too.
#pragma once

#define IDS_INSTALL_FAILED 300       // %d: the thread's last-error code
#define IDS_PATCH_APPLIED 301        // %s: the product's name
#define IDS_ALREADY_UP_TO_DATE 306   // %s: the product's name
#define IDS_NO_PRODUCT_FOUND 307     // no substitution
#define IDS_VERSION_NOT_TARGETED 308 // %s: the product's name
#define IDS_COMMAND_LINE_INCORRECT 309
#define IDS_PATCH_LIST_MISSING 310
#define IDS_TITLE_ERROR 311
#define IDS_TITLE_SUCCESS 312
#define IDS_TITLE_UNNECESSARY 313

// The messages of a removal ("/uninstall"), in a string-table block of their
// own (IDs 320-335).
#define IDS_PATCH_REMOVED 320     // %s: the product's name
#define IDS_NOT_INSTALLED_ON 321  // %s: the product's name
#define IDS_NOTHING_TO_REMOVE 322 // no substitution
#define IDS_TITLE_REMOVAL 323
